// Heap block records and their insertion into the registry. Relies on the
// heap region tree and on utils for allocation.
#include "HeapVariables.h"

#include <cstdlib>

#include "utils.h"

namespace {

// A block of size 0 still covers its first byte, so accesses at its
// address are attributed to it.
U64 blockEnd(U64 Adr, U64 Size) { return Size == 0 ? Adr : Adr + Size - 1; }

}  // namespace

HeapVariable* __PROF_HeapVariable_new(U64 UID, U64 Adr, U64 Size, U32 FuncId) {
  HeapVariable* H = ProfAlloc<HeapVariable>();
  H->uid_heap = UID;
  H->mmFunc = FuncId;
  H->start = Adr;
  H->size = Size;
  H->end = blockEnd(Adr, Size);
  H->on_relocation = 0;
  return H;
}

void __PROF_HeapVariable_update(HeapVariable* HeapInfo, U64 Adr, U64 Size, U32 FuncId) {
  HeapInfo->start = Adr;
  HeapInfo->size = Size;
  HeapInfo->end = blockEnd(Adr, Size);
  HeapInfo->mmFunc = FuncId;
}

void __PROF_HeapVariable_delete(HeapVariable* HeapInfo) { free(HeapInfo); }

RBHeapNodeStruct_t* __PROF_HeapVariables_insert(HeapVariables* HV, HeapVariable* NewHeap) {
  // Widen before inserting: a lock-free reader must never find the block
  // outside the bounds (see __PROF_HeapVariables_mayContain).
  if (NewHeap->start < heap_bounds_detail::load(HV->MinStart)) heap_bounds_detail::store(HV->MinStart, NewHeap->start);
  if (NewHeap->end > heap_bounds_detail::load(HV->MaxEnd)) heap_bounds_detail::store(HV->MaxEnd, NewHeap->end);
  return RBTreeInsertRecursion(HV->Tree, NewHeap);
}
