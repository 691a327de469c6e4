// Static-locals layouts on top of the interval tree. Relies on
// red_black_tree for the intervals and utils for allocation.
#include "Locals.h"

#include <cstdlib>

#include "utils.h"

Locals* __PROF_Locals_new(void) {
  Locals* L = ProfAlloc<Locals>();
  __PROF_InitRBTree(&L->Tree);
  L->min_start = INT64_MAX;
  L->max_end = INT64_MIN;
  L->total_size = 0;
  return L;
}

void __PROF_Locals_delete(Locals* L) {
  if (L == nullptr) return;
  __PROF_FreeRBNodes(&L->Tree);
  free(L);
}

Local* __PROF_Locals_insert(Locals* L, uint32_t UID, S64 start, S64 end) {
  Local* Node = __PROF_InsertRBNode(&L->Tree, UID, static_cast<U64>(start), static_cast<U64>(end));
  if (Node == nullptr) return nullptr;
  if (start < L->min_start) L->min_start = start;
  if (end > L->max_end) L->max_end = end;
  // Computed unsigned: wraps like the offsets themselves instead of
  // overflowing a signed difference.
  L->total_size += static_cast<U64>(end) - static_cast<U64>(start) + 1;
  return Node;
}
