// Registry of globals and thread-local variables on top of the interval
// tree. Relies on red_black_tree for the intervals and utils for allocation.
#include "GlobalVariables.h"

#include "utils.h"

GlobalVariables* __PROF_GlobalVariables_new(void) {
  GlobalVariables* G = ProfAlloc<GlobalVariables>();
  __PROF_InitRBTree(&G->Tree);
  G->NextAvailableId = 1;  // VariableId_FirstAvailable_
  G->MinStart = UINT64_MAX;
  G->MaxEnd = 0;
  return G;
}

uint32_t __PROF_GlobalVariables_nextAvailableId(const GlobalVariables* G) { return G->NextAvailableId; }

void __PROF_GlobalVariables_setNextAvailableId(GlobalVariables* G, uint32_t Id) { G->NextAvailableId = Id; }

GlobalVariable* __PROF_GlobalVariables_insert(GlobalVariables* G, uint32_t UID, uint64_t start,
                                              uint64_t end) {
  GlobalVariable* Node = __PROF_InsertRBNode(&G->Tree, UID, start, end);
  // No node comes back for an empty interval: it covers nothing, so neither
  // the id nor the bounds may move because of it.
  if (Node == nullptr) return nullptr;
  if (Node->unique_id >= G->NextAvailableId) G->NextAvailableId = Node->unique_id + 1;
  // The requested bounds, not the trimmed ones: a bounds hit only permits a
  // descent, so being wider than the tree is harmless.
  if (start < G->MinStart) G->MinStart = start;
  if (end > G->MaxEnd) G->MaxEnd = end;
  return Node;
}
