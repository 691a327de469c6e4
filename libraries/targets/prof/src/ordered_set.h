// Ordered set of (thread handle, info) entries: a red-black tree with a root
// sentinel and a shared leaf sentinel. It is the storage behind the thread-ID
// lookup table, which serialises every call; the set has no lock. The set
// owns its nodes and, through DestroyInfo, the info of each entry. Nodes come
// from the guarded allocator of utils.h and are released with free.
//
// Keys are compared as unsigned 64-bit numbers. Deletion relinks nodes and
// never copies an entry between nodes, so a node pointer held for one entry
// stays valid while other entries are deleted.
#pragma once

#include <prof/ordered_set_fwd.h>
#include <pthread.h>

#include <cstddef>
#include <type_traits>

struct OrderedSet_node {
  pthread_t key;
  void* info;  // owned through the set's DestroyInfo
  int red;     // 1 red, 0 black
  OrderedSet_node_t* left;
  OrderedSet_node_t* right;
  OrderedSet_node_t* parent;
};

struct OrderedSet_tree {
  void (*DestroyInfo)(void*);
  void (*PrintKey)(pthread_t);
  void (*PrintInfo)(void*);
  OrderedSet_node_t* root;  // sentinel; the tree proper hangs from root->left
  OrderedSet_node_t* nil;   // shared leaf sentinel
};

// Keys are ordered as unsigned 64-bit values; that needs a 64-bit integral
// thread handle.
static_assert(std::is_integral_v<pthread_t> && sizeof(pthread_t) == 8);
static_assert(std::is_standard_layout_v<OrderedSet_node> && offsetof(OrderedSet_node, red) == 16 &&
              offsetof(OrderedSet_node, left) == 24 && sizeof(OrderedSet_node) == 48);
static_assert(std::is_standard_layout_v<OrderedSet_tree> && offsetof(OrderedSet_tree, root) == 24 &&
              sizeof(OrderedSet_tree) == 40);

OrderedSet_tree_t* OrderedSetCreate(void (*InfoDestFunc)(void*), void (*PrintFunc)(pthread_t),
                                    void (*PrintInfo)(void*));

// Inserts without looking for an equal key (an equal key goes right of the
// present one) and returns the new entry's node.
OrderedSet_node_t* OrderedSetInsert(OrderedSet_tree_t* tree, pthread_t key, void* info);

// The node whose key is q, or NULL (never the leaf sentinel).
OrderedSet_node_t* OrderedSetExactQuery(OrderedSet_tree_t* tree, pthread_t q);

// Removes z's entry, hands its info to DestroyInfo and frees z. z must be an
// entry node of this set; NULL and the sentinels are ignored.
void OrderedSetDelete(OrderedSet_tree_t* tree, OrderedSet_node_t* z);

// Destroys every entry (DestroyInfo for each info), the sentinels and the
// header.
void OrderedSetDestroy(OrderedSet_tree_t* tree);

// Writes every entry to standard error in key order, one line each.
void OrderedSetPrint(OrderedSet_tree_t* tree);

