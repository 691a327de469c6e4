// Red-black insertion, deletion, neighbours and overlap query of the heap
// region tree. Both sentinels are black and carry no block, so the loops
// below stop at them without null tests; only the root sentinel's `left`
// and the parents written onto `nil` during a deletion are ever changed on
// them. Relies on utils for allocation.
#include "red_black_tree_heap.h"

#include <cstdlib>

#include "sentinel_red_black_tree.h"
#include "utils.h"

namespace {

RBHeapNodeStruct_t* newSentinel(RBHeapNodeStruct_t* link) {
  RBHeapNodeStruct_t* s = ProfAlloc<RBHeapNodeStruct_t>();
  s->heap_info = nullptr;
  s->red = 0;
  // The empty sentinel links to itself, so `link` is only known after the
  // allocation for it.
  s->left = s->right = s->parent = link != nullptr ? link : s;
  return s;
}

void HeapTreeDestHelper(RBHeapTreeStruct_t* tree, RBHeapNodeStruct_t* x) {
  sentinel_rb::destroySubtree(tree, x, [tree](RBHeapNodeStruct_t* n) { tree->DestroyInfo(n->heap_info); });
}

}  // namespace

int __PROF_HeapElemCompare(const void* a, const void* b) {
  const heapStruct_t* A = static_cast<const heapStruct_t*>(a);
  const heapStruct_t* B = static_cast<const heapStruct_t*>(b);
  if (A->start > B->end) return 1;
  if (A->end < B->start) return -1;
  return 0;
}

RBHeapTreeStruct_t* InitRBHeapTree(int (*CompFunc)(const void*, const void*),
                                   void (*InfoDestFunc)(heapStruct_t*), void (*PrintInfo)(void*)) {
  RBHeapTreeStruct_t* tree = ProfAlloc<RBHeapTreeStruct_t>();
  tree->Compare = CompFunc;
  tree->DestroyInfo = InfoDestFunc;
  tree->PrintInfo = PrintInfo;
  tree->nil = newSentinel(nullptr);
  tree->root = newSentinel(tree->nil);
  return tree;
}

std::atomic<uint64_t> __PROF_HeapTreeChanges{0};

namespace {
// Relaxed: the count is read under the same lock as the change it counts.
void noteChange() { __PROF_HeapTreeChanges.fetch_add(1, std::memory_order_relaxed); }
}  // namespace

void HeapLeftRotate(RBHeapTreeStruct_t* tree, RBHeapNodeStruct_t* x) {
  noteChange();
  sentinel_rb::leftRotate(tree, x);
}

void HeapRightRotate(RBHeapTreeStruct_t* tree, RBHeapNodeStruct_t* y) {
  noteChange();
  sentinel_rb::rightRotate(tree, y);
}

void HeapTreeInsertHelp(RBHeapTreeStruct_t* tree, RBHeapNodeStruct_t* z) {
  noteChange();
  RBHeapNodeStruct_t* nil = tree->nil;
  z->left = z->right = nil;
  RBHeapNodeStruct_t* y = tree->root;
  RBHeapNodeStruct_t* x = tree->root->left;
  // Blocks that overlap x go right, like blocks above it.
  while (x != nil) {
    y = x;
    x = tree->Compare(x->heap_info, z->heap_info) == 1 ? x->left : x->right;
  }
  z->parent = y;
  // The root sentinel has no block to compare with; its left is the root.
  if (y == tree->root || tree->Compare(y->heap_info, z->heap_info) == 1) {
    y->left = z;
  } else {
    y->right = z;
  }
}

RBHeapNodeStruct_t* RBTreeInsertRecursion(RBHeapTreeStruct_t* tree, heapStruct_t* info) {
  RBHeapNodeStruct_t* node = ProfAlloc<RBHeapNodeStruct_t>();
  node->heap_info = info;
  HeapTreeInsertHelp(tree, node);
  sentinel_rb::insertFixUp(tree, node);
  return node;
}

RBHeapNodeStruct_t* HeapTreeSuccessor(RBHeapTreeStruct_t* tree, RBHeapNodeStruct_t* x) {
  return sentinel_rb::successor(tree, x);
}

RBHeapNodeStruct_t* HeapTreePredecessor(RBHeapTreeStruct_t* tree, RBHeapNodeStruct_t* x) {
  return sentinel_rb::predecessor(tree, x);
}

void RBHeapDeleteFixUp(RBHeapTreeStruct_t* tree, RBHeapNodeStruct_t* x) {
  noteChange();
  sentinel_rb::deleteFixUp(tree, x);
}

// DestroyInfo runs once, for z's block; the node of z's successor keeps its
// own block when it moves into z's place.
void RBHeapDelete(RBHeapTreeStruct_t* tree, RBHeapNodeStruct_t* z) {
  noteChange();
  sentinel_rb::remove(tree, z, [tree](RBHeapNodeStruct_t* n) { tree->DestroyInfo(n->heap_info); });
}

RBHeapNodeStruct_t* RBExactQuery(RBHeapTreeStruct_t* tree, void* q) {
  RBHeapNodeStruct_t* nil = tree->nil;
  RBHeapNodeStruct_t* x = tree->root->left;
  while (x != nil) {
    const int c = tree->Compare(x->heap_info, q);
    if (c == 0) return x;
    x = c == 1 ? x->left : x->right;
  }
  return nullptr;
}

void RBHeapTreeDestroy(RBHeapTreeStruct_t* tree) {
  noteChange();
  HeapTreeDestHelper(tree, tree->root->left);
  free(tree->root);
  free(tree->nil);
  free(tree);
}
