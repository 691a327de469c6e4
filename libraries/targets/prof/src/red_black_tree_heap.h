// Heap region tree: the live heap blocks of the process in a red-black tree
// ordered by address, with parent pointers, a shared empty sentinel (`nil`)
// and a root sentinel whose left child is the real root, so that rotations
// and deletions never special-case the root. Ordering comes from the
// Compare callback; overlapping blocks are accepted. Deletion moves node
// objects rather than block pointers, so a node obtained from a lookup keeps
// holding the same block for as long as that block is in the tree.
//
// The tree has no lock; the registry's owner serialises every use. Relies
// on the guarded allocator of utils.
#pragma once

#include <atomic>
#include <cstdint>
#include <type_traits>

#include "commonProfInclude/common.h"

typedef struct heapStruct_s {
  U64 uid_heap;      // block id, unique in the process
  U32 mmFunc;        // id of the function that (re)allocated the block
  U64 start;         // first byte
  U64 size;          // size as requested
  U64 end;           // last byte: start + size - 1, or start when size is 0
  U8 on_relocation;  // set while a reallocation moves the record
} heapStruct_t;
typedef heapStruct_t HeapVariable;

typedef struct rb_red_blk_node {
  heapStruct_t* heap_info;  // null only in the two sentinels
  int red;                  // 1 red, 0 black
  struct rb_red_blk_node* left;
  struct rb_red_blk_node* right;
  struct rb_red_blk_node* parent;
} RBHeapNodeStruct_t;
typedef RBHeapNodeStruct_t HeapTreeNode;

typedef struct rb_red_blk_tree {
  int (*Compare)(const void*, const void*);  // 1 above, -1 below, 0 overlapping
  void (*DestroyInfo)(heapStruct_t*);        // once per deleted or destroyed node
  void (*PrintInfo)(void*);                  // kept for the owner, never called
  RBHeapNodeStruct_t* root;                  // root sentinel; real root is root->left
  RBHeapNodeStruct_t* nil;                   // empty sentinel shared by all leaves
} RBHeapTreeStruct_t;

// Records are malloc'd and never constructed.
static_assert(std::is_trivial_v<heapStruct_t> && std::is_standard_layout_v<heapStruct_t>);
static_assert(std::is_trivial_v<RBHeapNodeStruct_t> && std::is_standard_layout_v<RBHeapNodeStruct_t>);
static_assert(std::is_trivial_v<RBHeapTreeStruct_t> && std::is_standard_layout_v<RBHeapTreeStruct_t>);

// Orders two heapStruct_t records: 1 when a lies wholly above b, -1 when
// wholly below, 0 when they share a byte.
int __PROF_HeapElemCompare(const void* a, const void* b);

RBHeapTreeStruct_t* InitRBHeapTree(int (*CompFunc)(const void*, const void*),
                                   void (*InfoDestFunc)(heapStruct_t*), void (*PrintInfo)(void*));

// Inserts info in a new node and rebalances; returns that node (never null).
RBHeapNodeStruct_t* RBTreeInsertRecursion(RBHeapTreeStruct_t* tree, heapStruct_t* info);
// Places a caller-made node by the search rule, without recolouring.
void HeapTreeInsertHelp(RBHeapTreeStruct_t* tree, RBHeapNodeStruct_t* z);
// Counts every change of the shape or content of any heap tree (insertion,
// rotation, deletion, destruction). A reader holding a tree's lock that sees
// the same count as at an earlier look-up under that lock knows the tree is
// unchanged since, so the earlier answer still stands.
extern std::atomic<uint64_t> __PROF_HeapTreeChanges;

void HeapLeftRotate(RBHeapTreeStruct_t* tree, RBHeapNodeStruct_t* x);
void HeapRightRotate(RBHeapTreeStruct_t* tree, RBHeapNodeStruct_t* y);

// Removes z (which must be in the tree), calls DestroyInfo on z's block
// exactly once and releases z. Other nodes keep their blocks.
void RBHeapDelete(RBHeapTreeStruct_t* tree, RBHeapNodeStruct_t* z);
void RBHeapDeleteFixUp(RBHeapTreeStruct_t* tree, RBHeapNodeStruct_t* x);

// Next / previous node in order, or tree->nil.
RBHeapNodeStruct_t* HeapTreeSuccessor(RBHeapTreeStruct_t* tree, RBHeapNodeStruct_t* x);
RBHeapNodeStruct_t* HeapTreePredecessor(RBHeapTreeStruct_t* tree, RBHeapNodeStruct_t* x);

// A node whose block overlaps the record q, or null (never nil).
RBHeapNodeStruct_t* RBExactQuery(RBHeapTreeStruct_t* tree, void* q);

// Destroys every node (DestroyInfo on each block), both sentinels and tree.
void RBHeapTreeDestroy(RBHeapTreeStruct_t* tree);
