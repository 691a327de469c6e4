// Interval tree of variables: a red-black tree of non-overlapping closed
// byte intervals [start, end], each labelled with a 32-bit variable id. It
// backs the registry of globals, each thread's thread-local registry, every
// function's static-locals layout (frame-relative offsets) and the dynamic
// locals of each scope.
//
// Nodes carry no parent pointer: insertion is recursive and every level
// reports an RB_stat to the level above, which rebalances on that basis.
// A newcomer that overlaps a registered variable is trimmed or rejected;
// registered nodes are never changed by a later insertion. All interval and
// address comparisons are unsigned 64-bit, also for the negative offsets of
// a locals layout (they order as large values).
//
// The tree has no lock; owners decide who may write and read it. Lookup is
// inline and allocation-free because it runs on every traced access.
// Relies on the guarded allocator and the warning/fatal helpers of utils.
#pragma once

#include <cstdint>
#include <type_traits>

#include "commonProfInclude/common.h"

typedef enum RBColor { red = 0, black = 1 } Color;

// What one level of the recursive insertion tells the level above.
typedef enum RB_Stat {
  ok = 0,          // nothing left to do
  red_one = 1,     // the node now in this slot is red, newly so
  left_red = 2,    // the node in this slot is red and so is its left child
  right_red = 3,   // ... and so is its right child
  duplicates = 4,  // the new interval was not inserted
} RB_stat;

typedef struct rbnode {
  uint32_t unique_id;   // variable id
  U64 start;            // first byte
  U64 end;              // last byte (inclusive)
  Color color;
  struct rbnode* left;   // intervals wholly below start
  struct rbnode* right;  // intervals wholly above end
} RBNodeStruct_t;
typedef RBNodeStruct_t Local;
typedef RBNodeStruct_t GlobalVariable;

typedef struct rbtree {
  RBNodeStruct_t* root;  // null when empty
  U64 count;             // nodes inserted; never decremented
} RBTreeStruct_t;

// Nodes and trees are obtained from ProfMalloc or embedded in other malloc'd
// records and are never constructed, so they must stay plain data.
static_assert(std::is_trivial_v<RBNodeStruct_t> && std::is_standard_layout_v<RBNodeStruct_t>);
static_assert(std::is_trivial_v<RBTreeStruct_t> && std::is_standard_layout_v<RBTreeStruct_t>);

typedef void (*RBNodeAction)(RBNodeStruct_t* Node);

void __PROF_InitRBTree(RBTreeStruct_t* Tree);

// A new red node without children.
RBNodeStruct_t* __PROF_RBElemCreate(uint32_t UID, U64 start, U64 end);

// Creates a node for [Start, End] and inserts it, releasing it if rejected.
RBNodeStruct_t* __PROF_InsertRBNode(RBTreeStruct_t* Tree, uint32_t UID, U64 Start, U64 End);

// Inserts Node, trimming it against registered variables. Returns the node
// that now stands for Node's original start: Node itself, or the registered
// variable that already contains that start (also when Node was rejected).
// A rejected Node is released when Owns is true. An empty interval
// (end < start) covers no byte: it is never placed in the tree and the
// result is null.
RBNodeStruct_t* __PROF_InsertInRBTree(RBTreeStruct_t* Tree, RBNodeStruct_t* Node, bool Owns);

// One level of the insertion into the subtree held by *RecRoot.
RB_stat InsertRecursion(RBNodeStruct_t** RecRoot, RBNodeStruct_t* Node);

// The node whose interval contains Address, or null.
inline RBNodeStruct_t* __PROF_RBFind(RBNodeStruct_t* Node, U64 Address) {
  while (Node != nullptr) {
    if (Address < Node->start) {
      Node = Node->left;
    } else if (Address <= Node->end) {
      return Node;
    } else {
      Node = Node->right;
    }
  }
  return nullptr;
}

// Each calls Action once per node of the subtree; a null root visits nothing.
void __PROF_RBIn_Order(RBNodeStruct_t* Root, RBNodeAction Action);
void __PROF_RBPre_Order(RBNodeStruct_t* Root, RBNodeAction Action);
void __PROF_RBPost_Order(RBNodeStruct_t* Root, RBNodeAction Action);

// Releases every node; the tree record is not to be used afterwards.
void __PROF_FreeRBNodes(RBTreeStruct_t* Tree);
// Releases one node.
void __PROF_deleteRBNodeTree(RBNodeStruct_t* Node);
