// Registry of live heap blocks: the heap region tree plus the smallest start
// and largest end ever inserted, which reject foreign addresses before any
// descent. The bounds only widen; a removed block does not shrink them.
// Also the helpers that create, update and release block records. The
// registry's instance and its lock belong to the thread-profile unit; the
// lookups here run under that lock on every traced heap candidate and stay
// inline and allocation-free.
//
// The bounds are written under the registry lock but read also without it
// (__PROF_HeapVariables_mayContain), so every access to them is atomic.
// Because they only widen, an address outside them is outside every live
// block: the classifier rejects it before taking the lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <type_traits>

#include "red_black_tree_heap.h"

typedef struct HeapVariables_s {
  rb_red_blk_tree* Tree;
  U64 MinStart;  // smallest start of all blocks ever inserted
  U64 MaxEnd;    // largest end of all blocks ever inserted
} HeapVariables;

static_assert(std::is_trivial_v<HeapVariables> && std::is_standard_layout_v<HeapVariables>);

// New record: end = Adr + Size - 1 (Adr when Size is 0), on_relocation 0.
HeapVariable* __PROF_HeapVariable_new(U64 UID, U64 Adr, U64 Size, U32 FuncId);
// Moves the record to a new place and size; uid_heap and on_relocation stay.
void __PROF_HeapVariable_update(HeapVariable* HeapInfo, U64 Adr, U64 Size, U32 FuncId);
void __PROF_HeapVariable_delete(HeapVariable* HeapInfo);

namespace heap_bounds_detail {
inline U64 load(const U64& bound) {
  // Relaxed is enough: a block becomes known to another thread only through
  // some synchronisation after its insertion, which carries the widening.
  return std::atomic_ref<U64>(const_cast<U64&>(bound)).load(std::memory_order_relaxed);
}
inline void store(U64& bound, U64 value) {
  std::atomic_ref<U64>(bound).store(value, std::memory_order_relaxed);
}
}  // namespace heap_bounds_detail

// Bounds that reject every address. Caller holds the registry lock.
inline void __PROF_HeapVariables_resetBounds(HeapVariables* HV) {
  heap_bounds_detail::store(HV->MinStart, UINT64_MAX);
  heap_bounds_detail::store(HV->MaxEnd, 0);
}

// False when no block ever inserted can contain Address. Needs no lock.
inline bool __PROF_HeapVariables_mayContain(const HeapVariables* HV, U64 Address) {
  return heap_bounds_detail::load(HV->MinStart) <= Address && Address <= heap_bounds_detail::load(HV->MaxEnd);
}

// Widens the bounds to NewHeap and inserts it; returns its node.
RBHeapNodeStruct_t* __PROF_HeapVariables_insert(HeapVariables* HV, HeapVariable* NewHeap);

// The node below Node whose block contains Address, or null (never Nil).
inline RBHeapNodeStruct_t* RBHeapFind(RBHeapNodeStruct_t* Node, U64 Address,
                                      const RBHeapNodeStruct_t* Nil) {
  while (Node != Nil) {
    const heapStruct_t* B = Node->heap_info;
    if (Address < B->start) {
      Node = Node->left;
    } else if (Address <= B->end) {
      return Node;
    } else {
      Node = Node->right;
    }
  }
  return nullptr;
}

// RBHeapFind that also returns the span [*lo, *hi] of addresses whose
// descent takes the same path and so gives the same answer: above every
// block where the path turned right, below every block where it turned left
// and, for a hit, inside the found block. Set for hits and misses alike.
inline RBHeapNodeStruct_t* RBHeapFindSpan(RBHeapNodeStruct_t* Node, U64 Address, const RBHeapNodeStruct_t* Nil,
                                          U64* lo, U64* hi) {
  U64 low = 0, high = UINT64_MAX;
  while (Node != Nil) {
    const heapStruct_t* B = Node->heap_info;
    if (Address < B->start) {
      if (B->start - 1 < high) high = B->start - 1;  // Address < start, so start > 0
      Node = Node->left;
    } else if (Address <= B->end) {
      *lo = B->start > low ? B->start : low;
      *hi = B->end < high ? B->end : high;
      return Node;
    } else {
      if (B->end + 1 > low) low = B->end + 1;  // Address > end, so end < UINT64_MAX
      Node = Node->right;
    }
  }
  *lo = low;
  *hi = high;
  return nullptr;
}

// The node whose block contains Address, or null. Nil is the tree's empty
// sentinel. The caller holds the registry lock.
inline RBHeapNodeStruct_t* __PROF_HeapVariables_find(const HeapVariables* H,
                                                     const RBHeapNodeStruct_t* Nil, U64 Address) {
  if (H == nullptr || H->Tree == nullptr) return nullptr;
  RBHeapNodeStruct_t* Root = H->Tree->root->left;
  if (Root == Nil || Root->heap_info == nullptr) return nullptr;
  if (!__PROF_HeapVariables_mayContain(H, Address)) return nullptr;
  return RBHeapFind(Root, Address, Nil);
}

// __PROF_HeapVariables_find with the span of RBHeapFindSpan: every address
// in [*lo, *hi] gets the same answer from this registry while it does not
// change. Before the descent, misses answer for the single address.
inline RBHeapNodeStruct_t* __PROF_HeapVariables_findSpan(const HeapVariables* H, const RBHeapNodeStruct_t* Nil,
                                                         U64 Address, U64* lo, U64* hi) {
  *lo = *hi = Address;
  if (H == nullptr || H->Tree == nullptr) return nullptr;
  RBHeapNodeStruct_t* Root = H->Tree->root->left;
  if (Root == Nil || Root->heap_info == nullptr) return nullptr;
  if (!__PROF_HeapVariables_mayContain(H, Address)) return nullptr;
  return RBHeapFindSpan(Root, Address, Nil, lo, hi);
}
