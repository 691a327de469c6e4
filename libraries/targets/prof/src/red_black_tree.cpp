// Insertion, traversal and release of the variable interval tree. The
// insertion is top-down recursive: each level first trims or rejects the
// newcomer against the node it passes, then, on the way back, rebalances
// from the status of the level below, because nodes have no parent pointer
// to climb. Relies on utils for allocation, warnings and the fatal exit.
#include "red_black_tree.h"

#include <cstdlib>

#include "utils.h"

namespace {

bool isEqualRange(const RBNodeStruct_t* A, const RBNodeStruct_t* B) {
  return A->start == B->start && A->end == B->end;
}

bool isInRange(const RBNodeStruct_t* Node, U64 Address) {
  return Node->start <= Address && Address <= Node->end;
}

bool isRed(const RBNodeStruct_t* Node) { return Node != nullptr && Node->color == red; }

// H's left child K and K's left child are red: K takes H's place.
void Rotate_Right(RBNodeStruct_t** Slot) {
  RBNodeStruct_t* H = *Slot;
  RBNodeStruct_t* K = H->left;
  H->left = K->right;
  K->right = H;
  *Slot = K;
  K->color = black;
  H->color = red;
}

void Rotate_Left(RBNodeStruct_t** Slot) {
  RBNodeStruct_t* H = *Slot;
  RBNodeStruct_t* K = H->right;
  H->right = K->left;
  K->left = H;
  *Slot = K;
  K->color = black;
  H->color = red;
}

// H's left child K and K's right child G are red: lift G over K, then over H.
void Double_Rotate_Right(RBNodeStruct_t** Slot) {
  RBNodeStruct_t* H = *Slot;
  RBNodeStruct_t* K = H->left;
  RBNodeStruct_t* G = K->right;
  K->right = G->left;
  G->left = K;
  H->left = G;
  G->color = black;
  K->color = red;
  Rotate_Right(Slot);
}

void Double_Rotate_Left(RBNodeStruct_t** Slot) {
  RBNodeStruct_t* H = *Slot;
  RBNodeStruct_t* K = H->right;
  RBNodeStruct_t* G = K->left;
  K->left = G->right;
  G->right = K;
  H->right = G;
  G->color = black;
  K->color = red;
  Rotate_Left(Slot);
}

// Rebalances at *Slot after the insertion went down its left side.
RB_stat Modify_Left(RBNodeStruct_t** Slot, RB_stat Status) {
  RBNodeStruct_t* H = *Slot;
  switch (Status) {
    case red_one:
      return H->color == red ? left_red : ok;
    case left_red:
    case right_red:
      if (isRed(H->right)) {
        H->color = red;
        H->left->color = black;
        H->right->color = black;
        return red_one;
      }
      if (Status == left_red) {
        Rotate_Right(Slot);
      } else {
        Double_Rotate_Right(Slot);
      }
      return ok;
    default:
      return Status;
  }
}

RB_stat Modify_Right(RBNodeStruct_t** Slot, RB_stat Status) {
  RBNodeStruct_t* H = *Slot;
  switch (Status) {
    case red_one:
      return H->color == red ? right_red : ok;
    case left_red:
    case right_red:
      if (isRed(H->left)) {
        H->color = red;
        H->left->color = black;
        H->right->color = black;
        return red_one;
      }
      if (Status == right_red) {
        Rotate_Left(Slot);
      } else {
        Double_Rotate_Left(Slot);
      }
      return ok;
    default:
      return Status;
  }
}

void Recursive_Inorder(RBNodeStruct_t* Node, RBNodeAction Action) {
  if (Node == nullptr) return;
  Recursive_Inorder(Node->left, Action);
  Action(Node);
  Recursive_Inorder(Node->right, Action);
}

void Recursive_Preorder(RBNodeStruct_t* Node, RBNodeAction Action) {
  if (Node == nullptr) return;
  Action(Node);
  Recursive_Preorder(Node->left, Action);
  Recursive_Preorder(Node->right, Action);
}

// Children before the node, so that the action may release the node.
void Recursive_Postorder(RBNodeStruct_t* Node, RBNodeAction Action) {
  if (Node == nullptr) return;
  Recursive_Postorder(Node->left, Action);
  Recursive_Postorder(Node->right, Action);
  Action(Node);
}

}  // namespace

void __PROF_InitRBTree(RBTreeStruct_t* Tree) {
  Tree->root = nullptr;
  Tree->count = 0;
}

RBNodeStruct_t* __PROF_RBElemCreate(uint32_t UID, U64 start, U64 end) {
  RBNodeStruct_t* Node = ProfAlloc<RBNodeStruct_t>();
  Node->unique_id = UID;
  Node->start = start;
  Node->end = end;
  Node->color = red;
  Node->left = nullptr;
  Node->right = nullptr;
  return Node;
}

RB_stat InsertRecursion(RBNodeStruct_t** RecRoot, RBNodeStruct_t* Node) {
  RBNodeStruct_t* H = *RecRoot;
  if (H == nullptr) {
    *RecRoot = Node;
    return red_one;
  }
  if (isEqualRange(H, Node)) return duplicates;

  // Registered variables win: only the newcomer is cut. Each cut keeps
  // start <= end because H is never empty (empty intervals stay out).
  if (isInRange(H, Node->start)) {
    __PROF_warning("Variables %d and %d partially overlap\n", Node->unique_id, H->unique_id);
    if (isInRange(H, Node->end)) return duplicates;
    Node->start = H->end + 1;
  } else if (Node->start <= H->start && H->start <= Node->end) {
    // Whatever lay above H is given up together with the overlap.
    __PROF_warning("Variables %d and %d partially overlap\n", Node->unique_id, H->unique_id);
    Node->end = H->start - 1;
  }

  if (Node->end < H->start) {
    const RB_stat Status = InsertRecursion(&H->left, Node);
    if (Status == duplicates) return duplicates;
    return Modify_Left(RecRoot, Status);
  }
  if (Node->start <= H->end) return duplicates;
  const RB_stat Status = InsertRecursion(&H->right, Node);
  if (Status == duplicates) return duplicates;
  return Modify_Right(RecRoot, Status);
}

RBNodeStruct_t* __PROF_InsertInRBTree(RBTreeStruct_t* Tree, RBNodeStruct_t* Node, bool Owns) {
  // A zero-size registration covers no byte. Kept in the tree it would cut
  // down, or wipe out, any real variable registered later at its address.
  if (Node->end < Node->start) {
    if (Owns) free(Node);
    return nullptr;
  }

  const U64 S = Node->start;
  switch (InsertRecursion(&Tree->root, Node)) {
    case duplicates:
      if (Owns) free(Node);
      return __PROF_RBFind(Tree->root, S);
    case red_one:
      Tree->root->color = black;
      [[fallthrough]];
    case ok:
      Tree->count++;
      break;
    default:
      // A red pair below a black root is always resolved one level down.
      __PROF_fatal_exit("spec:0:0: error: [RB_TREE] Error in RB-Tree construction/insertion!\n");
  }
  if (Node->start == S) return Node;
  // The newcomer was cut at the front: S belongs to an earlier variable.
  return __PROF_RBFind(Tree->root, S);
}

RBNodeStruct_t* __PROF_InsertRBNode(RBTreeStruct_t* Tree, uint32_t UID, U64 Start, U64 End) {
  return __PROF_InsertInRBTree(Tree, __PROF_RBElemCreate(UID, Start, End), true);
}

void __PROF_RBIn_Order(RBNodeStruct_t* Root, RBNodeAction Action) { Recursive_Inorder(Root, Action); }

void __PROF_RBPre_Order(RBNodeStruct_t* Root, RBNodeAction Action) { Recursive_Preorder(Root, Action); }

void __PROF_RBPost_Order(RBNodeStruct_t* Root, RBNodeAction Action) { Recursive_Postorder(Root, Action); }

void __PROF_deleteRBNodeTree(RBNodeStruct_t* Node) { free(Node); }

void __PROF_FreeRBNodes(RBTreeStruct_t* Tree) {
  __PROF_RBPost_Order(Tree->root, __PROF_deleteRBNodeTree);
  Tree->root = nullptr;
}
