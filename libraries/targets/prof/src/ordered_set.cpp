// Red-black tree behind the thread-ID lookup table: creation, insertion,
// exact lookup, deletion by node relinking, destruction and the key-order
// listing on standard error. Relies on the guarded allocator of utils.h; the
// caller serialises all calls.
#include "ordered_set.h"

#include <cstdio>
#include <cstdlib>

#include <commonProfInclude/common.h>

#include "utils.h"

namespace {

// Thread handles are opaque numbers; order them as unsigned 64-bit values so
// that handles above 2^63 sort after smaller ones.
inline U64 KeyOf(pthread_t key) { return static_cast<U64>(key); }

OrderedSet_node_t* NewNode(pthread_t key, void* info, OrderedSet_node_t* link) {
  OrderedSet_node_t* n = ProfAlloc<OrderedSet_node_t>();
  n->key = key;
  n->info = info;
  n->red = 0;
  n->left = n->right = n->parent = link;
  return n;
}

// Replaces child with repl in child's parent. The root sentinel's left holds
// the real root, so the real root needs no special case.
inline void ReplaceChild(OrderedSet_node_t* child, OrderedSet_node_t* repl) {
  OrderedSet_node_t* p = child->parent;
  if (p->left == child)
    p->left = repl;
  else
    p->right = repl;
}

void LeftRotate(OrderedSet_tree_t* tree, OrderedSet_node_t* x) {
  OrderedSet_node_t* nil = tree->nil;
  OrderedSet_node_t* y = x->right;
  x->right = y->left;
  // nil's parent is scratch for the delete fix-up; don't disturb it here.
  if (y->left != nil) y->left->parent = x;
  y->parent = x->parent;
  ReplaceChild(x, y);
  y->left = x;
  x->parent = y;
}

void RightRotate(OrderedSet_tree_t* tree, OrderedSet_node_t* y) {
  OrderedSet_node_t* nil = tree->nil;
  OrderedSet_node_t* x = y->left;
  y->left = x->right;
  if (x->right != nil) x->right->parent = y;
  x->parent = y->parent;
  ReplaceChild(y, x);
  x->right = y;
  y->parent = x;
}

// Plain binary-search-tree insertion; equal keys go right.
void TreeInsertHelp(OrderedSet_tree_t* tree, OrderedSet_node_t* z) {
  OrderedSet_node_t* nil = tree->nil;
  z->left = z->right = nil;
  OrderedSet_node_t* y = tree->root;
  OrderedSet_node_t* x = tree->root->left;
  while (x != nil) {
    y = x;
    x = KeyOf(x->key) > KeyOf(z->key) ? x->left : x->right;
  }
  z->parent = y;
  if (y == tree->root || KeyOf(y->key) > KeyOf(z->key))
    y->left = z;
  else
    y->right = z;
}

OrderedSet_node_t* TreeSuccessor(OrderedSet_tree_t* tree, OrderedSet_node_t* x) {
  OrderedSet_node_t* nil = tree->nil;
  OrderedSet_node_t* y = x->right;
  if (y != nil) {
    while (y->left != nil) y = y->left;
    return y;
  }
  y = x->parent;
  while (x == y->right) {
    x = y;
    y = y->parent;
  }
  return y == tree->root ? nil : y;
}

// Restores the red-black rules after a black node left the tree above x.
// x may be nil, whose parent the caller has set to the removed node's parent.
void RBDeleteFixUp(OrderedSet_tree_t* tree, OrderedSet_node_t* x) {
  while (!x->red && x != tree->root->left) {
    OrderedSet_node_t* p = x->parent;
    if (x == p->left) {
      OrderedSet_node_t* w = p->right;
      if (w->red) {
        w->red = 0;
        p->red = 1;
        LeftRotate(tree, p);
        w = p->right;
      }
      if (!w->right->red && !w->left->red) {
        w->red = 1;
        x = p;
      } else {
        if (!w->right->red) {
          w->left->red = 0;
          w->red = 1;
          RightRotate(tree, w);
          w = p->right;
        }
        w->red = p->red;
        p->red = 0;
        w->right->red = 0;
        LeftRotate(tree, p);
        x = tree->root->left;
      }
    } else {
      OrderedSet_node_t* w = p->left;
      if (w->red) {
        w->red = 0;
        p->red = 1;
        RightRotate(tree, p);
        w = p->left;
      }
      if (!w->right->red && !w->left->red) {
        w->red = 1;
        x = p;
      } else {
        if (!w->left->red) {
          w->right->red = 0;
          w->red = 1;
          LeftRotate(tree, w);
          w = p->left;
        }
        w->red = p->red;
        p->red = 0;
        w->left->red = 0;
        RightRotate(tree, p);
        x = tree->root->left;
      }
    }
  }
  x->red = 0;
}

inline void DestroyEntryInfo(OrderedSet_tree_t* tree, void* info) {
  if (tree->DestroyInfo != nullptr) tree->DestroyInfo(info);
}

// Post-order, so a node is freed only after both subtrees.
void TreeDestHelper(OrderedSet_tree_t* tree, OrderedSet_node_t* x) {
  if (x == tree->nil) return;
  TreeDestHelper(tree, x->left);
  TreeDestHelper(tree, x->right);
  DestroyEntryInfo(tree, x->info);
  free(x);
}

inline void PrintKeyOf(OrderedSet_tree_t* tree, pthread_t key) {
  if (tree->PrintKey != nullptr) tree->PrintKey(key);
}

void InorderTreePrint(OrderedSet_tree_t* tree, OrderedSet_node_t* x) {
  OrderedSet_node_t* nil = tree->nil;
  if (x == nil) return;
  InorderTreePrint(tree, x->left);
  fputs("info=", stderr);
  if (tree->PrintInfo != nullptr) tree->PrintInfo(x->info);
  fputs("  key=", stderr);
  PrintKeyOf(tree, x->key);
  fputs("  l->key=", stderr);
  if (x->left == nil)
    fputs("NULL", stderr);
  else
    PrintKeyOf(tree, x->left->key);
  fputs("  r->key=", stderr);
  if (x->right == nil)
    fputs("NULL", stderr);
  else
    PrintKeyOf(tree, x->right->key);
  fputs("  p->key=", stderr);
  if (x->parent == tree->root)
    fputs("NULL", stderr);
  else
    PrintKeyOf(tree, x->parent->key);
  fprintf(stderr, "  red=%i\n", x->red);
  InorderTreePrint(tree, x->right);
}

}  // namespace

OrderedSet_tree_t* OrderedSetCreate(void (*InfoDestFunc)(void*), void (*PrintFunc)(pthread_t),
                                    void (*PrintInfo)(void*)) {
  OrderedSet_tree_t* tree = ProfAlloc<OrderedSet_tree_t>();
  tree->DestroyInfo = InfoDestFunc;
  tree->PrintKey = PrintFunc;
  tree->PrintInfo = PrintInfo;
  // Both sentinels are black: insertion's fix-up stops at the root sentinel
  // without testing for the top of the tree.
  tree->nil = NewNode(0, nullptr, nullptr);
  tree->nil->left = tree->nil->right = tree->nil->parent = tree->nil;
  tree->root = NewNode(0, nullptr, tree->nil);
  return tree;
}

OrderedSet_node_t* OrderedSetInsert(OrderedSet_tree_t* tree, pthread_t key, void* info) {
  OrderedSet_node_t* x = NewNode(key, info, tree->nil);
  OrderedSet_node_t* const newNode = x;
  TreeInsertHelp(tree, x);
  x->red = 1;
  while (x->parent->red) {
    OrderedSet_node_t* p = x->parent;
    OrderedSet_node_t* g = p->parent;
    if (p == g->left) {
      OrderedSet_node_t* uncle = g->right;
      if (uncle->red) {
        p->red = 0;
        uncle->red = 0;
        g->red = 1;
        x = g;
        continue;
      }
      if (x == p->right) {
        x = p;
        LeftRotate(tree, x);
      }
      x->parent->red = 0;
      x->parent->parent->red = 1;
      RightRotate(tree, x->parent->parent);
    } else {
      OrderedSet_node_t* uncle = g->left;
      if (uncle->red) {
        p->red = 0;
        uncle->red = 0;
        g->red = 1;
        x = g;
        continue;
      }
      if (x == p->left) {
        x = p;
        RightRotate(tree, x);
      }
      x->parent->red = 0;
      x->parent->parent->red = 1;
      LeftRotate(tree, x->parent->parent);
    }
  }
  tree->root->left->red = 0;
  return newNode;
}

OrderedSet_node_t* OrderedSetExactQuery(OrderedSet_tree_t* tree, pthread_t q) {
  OrderedSet_node_t* nil = tree->nil;
  OrderedSet_node_t* x = tree->root->left;
  const U64 key = KeyOf(q);
  while (x != nil) {
    const U64 k = KeyOf(x->key);
    if (k > key)
      x = x->left;
    else if (k < key)
      x = x->right;
    else
      return x;
  }
  return nullptr;
}

void OrderedSetDelete(OrderedSet_tree_t* tree, OrderedSet_node_t* z) {
  OrderedSet_node_t* nil = tree->nil;
  if (z == nullptr || z == nil || z == tree->root) return;

  OrderedSet_node_t* y = (z->left == nil || z->right == nil) ? z : TreeSuccessor(tree, z);
  OrderedSet_node_t* x = (y->left != nil) ? y->left : y->right;
  // Also when x is nil: the fix-up climbs from x through this link.
  x->parent = y->parent;
  ReplaceChild(y, x);

  if (y == z) {
    DestroyEntryInfo(tree, z->info);
    if (!z->red) RBDeleteFixUp(tree, x);
  } else {
    if (!y->red) RBDeleteFixUp(tree, x);
    DestroyEntryInfo(tree, z->info);
    // Move the successor's node into z's place instead of copying its entry
    // into z: callers keep node pointers of other entries across deletions.
    y->left = z->left;
    y->right = z->right;
    y->parent = z->parent;
    y->red = z->red;
    z->left->parent = y;
    z->right->parent = y;
    ReplaceChild(z, y);
  }
  free(z);
}

void OrderedSetDestroy(OrderedSet_tree_t* tree) {
  if (tree == nullptr) return;
  TreeDestHelper(tree, tree->root->left);
  free(tree->root);
  free(tree->nil);
  free(tree);
}

void OrderedSetPrint(OrderedSet_tree_t* tree) {
  if (tree == nullptr) return;
  InorderTreePrint(tree, tree->root->left);
}
