// Registry of live heap blocks: the heap region tree plus the smallest start
// and largest end ever inserted, which reject foreign addresses before any
// descent. The bounds only widen; a removed block does not shrink them.
// Also the helpers that create, update and release block records. The
// registry's instance and its lock belong to the thread-profile unit; the
// lookups here run under that lock on every traced heap candidate and stay
// inline and allocation-free.
#pragma once

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

// The node whose block contains Address, or null. Nil is the tree's empty
// sentinel. The caller holds the registry lock.
inline RBHeapNodeStruct_t* __PROF_HeapVariables_find(const HeapVariables* H,
                                                     const RBHeapNodeStruct_t* Nil, U64 Address) {
  if (H == nullptr || H->Tree == nullptr) return nullptr;
  RBHeapNodeStruct_t* Root = H->Tree->root->left;
  if (Root == Nil || Root->heap_info == nullptr) return nullptr;
  if (Address < H->MinStart || Address > H->MaxEnd) return nullptr;
  return RBHeapFind(Root, Address, Nil);
}
