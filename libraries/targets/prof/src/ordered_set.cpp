// Red-black tree behind the thread-ID lookup table: creation, insertion,
// exact lookup, deletion by node relinking, destruction and the key-order
// listing on standard error. Relies on the guarded allocator of utils.h; the
// caller serialises all calls.
#include "ordered_set.h"

#include <cstdio>
#include <cstdlib>

#include <commonProfInclude/common.h>

#include "sentinel_red_black_tree.h"
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

inline void DestroyEntryInfo(OrderedSet_tree_t* tree, void* info) {
  if (tree->DestroyInfo != nullptr) tree->DestroyInfo(info);
}

void TreeDestHelper(OrderedSet_tree_t* tree, OrderedSet_node_t* x) {
  sentinel_rb::destroySubtree(tree, x, [tree](OrderedSet_node_t* n) { DestroyEntryInfo(tree, n->info); });
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
  TreeInsertHelp(tree, x);
  sentinel_rb::insertFixUp(tree, x);
  return x;
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

  sentinel_rb::remove(tree, z, [tree](OrderedSet_node_t* n) { DestroyEntryInfo(tree, n->info); });
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
