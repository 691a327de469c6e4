// Red-black steps shared by the two trees that use sentinels: the ordered
// set behind the thread table and the heap region tree. Both trees have a
// black root sentinel whose `left` is the real root and a black empty
// sentinel `nil` that stands for every absent child, so no step needs a
// special case for the top of the tree or for a missing child. A node has
// `red`, `left`, `right` and `parent`; what it carries besides is the
// caller's business.
#pragma once

#include <cstdlib>
#include <type_traits>

namespace sentinel_rb {

template <class Tree>
using NodeOf = std::remove_pointer_t<decltype(Tree::nil)>;

// Puts repl where child hangs below child's parent (the root sentinel's
// left when child is the real root).
template <class Node>
inline void replaceChild(Node* child, Node* repl) {
  Node* p = child->parent;
  if (p->left == child)
    p->left = repl;
  else
    p->right = repl;
}

template <class Tree, class Node = NodeOf<Tree>>
void leftRotate(Tree* tree, Node* x) {
  Node* y = x->right;
  x->right = y->left;
  // nil's parent is scratch for the delete fix-up: leave it alone here.
  if (y->left != tree->nil) y->left->parent = x;
  y->parent = x->parent;
  replaceChild(x, y);
  y->left = x;
  x->parent = y;
}

template <class Tree, class Node = NodeOf<Tree>>
void rightRotate(Tree* tree, Node* y) {
  Node* x = y->left;
  y->left = x->right;
  if (x->right != tree->nil) x->right->parent = y;
  x->parent = y->parent;
  replaceChild(y, x);
  x->right = y;
  y->parent = x;
}

// Next node in order, or nil after the last.
template <class Tree, class Node = NodeOf<Tree>>
Node* successor(Tree* tree, Node* x) {
  Node* nil = tree->nil;
  Node* y = x->right;
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

// Previous node in order, or nil before the first.
template <class Tree, class Node = NodeOf<Tree>>
Node* predecessor(Tree* tree, Node* x) {
  Node* nil = tree->nil;
  Node* y = x->left;
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

// Colours the freshly placed node x red and restores the rules. The root
// sentinel is black, so the loop ends at the real root at the latest.
template <class Tree, class Node = NodeOf<Tree>>
void insertFixUp(Tree* tree, Node* x) {
  x->red = 1;
  while (x->parent->red) {
    Node* grand = x->parent->parent;
    if (x->parent == grand->left) {
      Node* uncle = grand->right;
      if (uncle->red) {
        x->parent->red = 0;
        uncle->red = 0;
        grand->red = 1;
        x = grand;
        continue;
      }
      if (x == x->parent->right) {
        x = x->parent;
        leftRotate(tree, x);
      }
      x->parent->red = 0;
      x->parent->parent->red = 1;
      rightRotate(tree, x->parent->parent);
    } else {
      Node* uncle = grand->left;
      if (uncle->red) {
        x->parent->red = 0;
        uncle->red = 0;
        grand->red = 1;
        x = grand;
        continue;
      }
      if (x == x->parent->left) {
        x = x->parent;
        rightRotate(tree, x);
      }
      x->parent->red = 0;
      x->parent->parent->red = 1;
      leftRotate(tree, x->parent->parent);
    }
  }
  tree->root->left->red = 0;
}

// Restores the rules after a black node left the tree above x. x may be
// nil, whose parent the caller has set to the removed node's parent. The
// real root is re-read on every test: a rotation at the top changes it.
template <class Tree, class Node = NodeOf<Tree>>
void deleteFixUp(Tree* tree, Node* x) {
  while (!x->red && x != tree->root->left) {
    Node* p = x->parent;
    if (x == p->left) {
      Node* w = p->right;
      if (w->red) {
        w->red = 0;
        p->red = 1;
        leftRotate(tree, p);
        w = p->right;
      }
      if (!w->right->red && !w->left->red) {
        w->red = 1;
        x = p;
      } else {
        if (!w->right->red) {
          w->left->red = 0;
          w->red = 1;
          rightRotate(tree, w);
          w = p->right;
        }
        w->red = p->red;
        p->red = 0;
        w->right->red = 0;
        leftRotate(tree, p);
        x = tree->root->left;
      }
    } else {
      Node* w = p->left;
      if (w->red) {
        w->red = 0;
        p->red = 1;
        rightRotate(tree, p);
        w = p->left;
      }
      if (!w->right->red && !w->left->red) {
        w->red = 1;
        x = p;
      } else {
        if (!w->left->red) {
          w->right->red = 0;
          w->red = 1;
          leftRotate(tree, w);
          w = p->left;
        }
        w->red = p->red;
        p->red = 0;
        w->left->red = 0;
        rightRotate(tree, p);
        x = tree->root->left;
      }
    }
  }
  x->red = 0;
}

// Removes z, hands its payload to destroyPayload exactly once and frees
// it. When z has two children its successor's node is moved into z's place
// instead of copying the successor's payload into z, so node pointers that
// callers hold for other entries stay valid.
template <class Tree, class DestroyPayload, class Node = NodeOf<Tree>>
void remove(Tree* tree, Node* z, DestroyPayload destroyPayload) {
  Node* nil = tree->nil;
  Node* y = (z->left == nil || z->right == nil) ? z : successor(tree, z);
  Node* x = (y->left != nil) ? y->left : y->right;
  // Written even when x is nil: the fix-up climbs from x through parent.
  x->parent = y->parent;
  replaceChild(y, x);

  if (y == z) {
    destroyPayload(z);
    if (!z->red) deleteFixUp(tree, x);
  } else {
    // z keeps its place during the fix-up, so rotations around it stay
    // valid; y then takes over z's links and colour.
    if (!y->red) deleteFixUp(tree, x);
    destroyPayload(z);
    y->left = z->left;
    y->right = z->right;
    y->parent = z->parent;
    y->red = z->red;
    z->left->parent = y;
    z->right->parent = y;
    replaceChild(z, y);
  }
  free(z);
}

// Post-order: a node is freed only after both its subtrees.
template <class Tree, class DestroyPayload, class Node = NodeOf<Tree>>
void destroySubtree(Tree* tree, Node* x, DestroyPayload destroyPayload) {
  if (x == tree->nil) return;
  destroySubtree(tree, x->left, destroyPayload);
  destroySubtree(tree, x->right, destroyPayload);
  destroyPayload(x);
  free(x);
}

}  // namespace sentinel_rb
