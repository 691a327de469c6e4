// Red-black insertion, deletion, neighbours and overlap query of the heap
// region tree. Both sentinels are black and carry no block, so the loops
// below stop at them without null tests; only the root sentinel's `left`
// and the parents written onto `nil` during a deletion are ever changed on
// them. Relies on utils for allocation.
#include "red_black_tree_heap.h"

#include <cstdlib>

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
  if (x == tree->nil) return;
  HeapTreeDestHelper(tree, x->left);
  HeapTreeDestHelper(tree, x->right);
  tree->DestroyInfo(x->heap_info);
  free(x);
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

void HeapLeftRotate(RBHeapTreeStruct_t* tree, RBHeapNodeStruct_t* x) {
  RBHeapNodeStruct_t* nil = tree->nil;
  RBHeapNodeStruct_t* y = x->right;
  x->right = y->left;
  if (y->left != nil) y->left->parent = x;
  // x's parent is at worst the root sentinel, never nil.
  y->parent = x->parent;
  if (x == x->parent->left) {
    x->parent->left = y;
  } else {
    x->parent->right = y;
  }
  y->left = x;
  x->parent = y;
}

void HeapRightRotate(RBHeapTreeStruct_t* tree, RBHeapNodeStruct_t* y) {
  RBHeapNodeStruct_t* nil = tree->nil;
  RBHeapNodeStruct_t* x = y->left;
  y->left = x->right;
  if (x->right != nil) x->right->parent = y;
  x->parent = y->parent;
  if (y == y->parent->left) {
    y->parent->left = x;
  } else {
    y->parent->right = x;
  }
  x->right = y;
  y->parent = x;
}

void HeapTreeInsertHelp(RBHeapTreeStruct_t* tree, RBHeapNodeStruct_t* z) {
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

  RBHeapNodeStruct_t* x = node;
  x->red = 1;
  // The root sentinel is black, so the loop ends at the real root at last.
  while (x->parent->red) {
    RBHeapNodeStruct_t* grand = x->parent->parent;
    if (x->parent == grand->left) {
      RBHeapNodeStruct_t* uncle = grand->right;
      if (uncle->red) {
        x->parent->red = 0;
        uncle->red = 0;
        grand->red = 1;
        x = grand;
      } else {
        if (x == x->parent->right) {
          x = x->parent;
          HeapLeftRotate(tree, x);
        }
        x->parent->red = 0;
        x->parent->parent->red = 1;
        HeapRightRotate(tree, x->parent->parent);
      }
    } else {
      RBHeapNodeStruct_t* uncle = grand->left;
      if (uncle->red) {
        x->parent->red = 0;
        uncle->red = 0;
        grand->red = 1;
        x = grand;
      } else {
        if (x == x->parent->left) {
          x = x->parent;
          HeapRightRotate(tree, x);
        }
        x->parent->red = 0;
        x->parent->parent->red = 1;
        HeapLeftRotate(tree, x->parent->parent);
      }
    }
  }
  tree->root->left->red = 0;
  return node;
}

RBHeapNodeStruct_t* HeapTreeSuccessor(RBHeapTreeStruct_t* tree, RBHeapNodeStruct_t* x) {
  RBHeapNodeStruct_t* nil = tree->nil;
  RBHeapNodeStruct_t* y = x->right;
  if (y != nil) {
    while (y->left != nil) y = y->left;
    return y;
  }
  y = x->parent;
  while (x == y->right) {
    x = y;
    y = y->parent;
  }
  // Climbing out of the real root lands on the root sentinel: x was last.
  return y == tree->root ? nil : y;
}

RBHeapNodeStruct_t* HeapTreePredecessor(RBHeapTreeStruct_t* tree, RBHeapNodeStruct_t* x) {
  RBHeapNodeStruct_t* nil = tree->nil;
  RBHeapNodeStruct_t* y = x->left;
  if (y != nil) {
    while (y->right != nil) y = y->right;
    return y;
  }
  y = x->parent;
  // The real root is the root sentinel's left child, so this climb reaches
  // the root sentinel when x was first.
  while (x == y->left) {
    if (y == tree->root) return nil;
    x = y;
    y = y->parent;
  }
  return y;
}

void RBHeapDeleteFixUp(RBHeapTreeStruct_t* tree, RBHeapNodeStruct_t* x) {
  // The real root is re-read on every test: a rotation at the top changes it.
  while (!x->red && x != tree->root->left) {
    RBHeapNodeStruct_t* p = x->parent;
    if (x == p->left) {
      RBHeapNodeStruct_t* w = p->right;
      if (w->red) {
        w->red = 0;
        p->red = 1;
        HeapLeftRotate(tree, p);
        w = p->right;
      }
      if (!w->right->red && !w->left->red) {
        w->red = 1;
        x = p;
      } else {
        if (!w->right->red) {
          w->left->red = 0;
          w->red = 1;
          HeapRightRotate(tree, w);
          w = p->right;
        }
        w->red = p->red;
        p->red = 0;
        w->right->red = 0;
        HeapLeftRotate(tree, p);
        x = tree->root->left;
      }
    } else {
      RBHeapNodeStruct_t* w = p->left;
      if (w->red) {
        w->red = 0;
        p->red = 1;
        HeapRightRotate(tree, p);
        w = p->left;
      }
      if (!w->right->red && !w->left->red) {
        w->red = 1;
        x = p;
      } else {
        if (!w->left->red) {
          w->right->red = 0;
          w->red = 1;
          HeapLeftRotate(tree, w);
          w = p->left;
        }
        w->red = p->red;
        p->red = 0;
        w->left->red = 0;
        HeapRightRotate(tree, p);
        x = tree->root->left;
      }
    }
  }
  x->red = 0;
}

void RBHeapDelete(RBHeapTreeStruct_t* tree, RBHeapNodeStruct_t* z) {
  RBHeapNodeStruct_t* nil = tree->nil;
  RBHeapNodeStruct_t* root = tree->root;

  RBHeapNodeStruct_t* y = (z->left == nil || z->right == nil) ? z : HeapTreeSuccessor(tree, z);
  RBHeapNodeStruct_t* x = y->left != nil ? y->left : y->right;
  // Written even when x is nil: the fix-up climbs from x through parent.
  x->parent = y->parent;
  if (y->parent == root) {
    root->left = x;
  } else if (y == y->parent->left) {
    y->parent->left = x;
  } else {
    y->parent->right = x;
  }

  if (y != z) {
    // z still holds its place during the fix-up, so rotations around it
    // stay valid; y then takes over z's links and colour while keeping its
    // own block, and z's block is the only one handed to DestroyInfo.
    if (!y->red) RBHeapDeleteFixUp(tree, x);
    tree->DestroyInfo(z->heap_info);
    y->left = z->left;
    y->right = z->right;
    y->parent = z->parent;
    y->red = z->red;
    z->left->parent = y;
    z->right->parent = y;
    if (z == z->parent->left) {
      z->parent->left = y;
    } else {
      z->parent->right = y;
    }
  } else {
    tree->DestroyInfo(z->heap_info);
    if (!z->red) RBHeapDeleteFixUp(tree, x);
  }
  free(z);
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
  HeapTreeDestHelper(tree, tree->root->left);
  free(tree->root);
  free(tree->nil);
  free(tree);
}
