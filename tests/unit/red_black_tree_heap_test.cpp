// Heap region tree and registry: the comparison, placement of overlapping
// blocks, deletion that moves nodes (DestroyInfo once, other nodes keep
// their blocks), neighbours of the extremes, the overlap query's null
// result, the registry lookup's bounds, and random inserts/deletes against a
// model with the red-black rules and every link checked after each step.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <vector>

#include "HeapVariables.h"
#include "red_black_tree_heap.h"

namespace {

std::vector<heapStruct_t*> destroyed;
void recordAndFree(heapStruct_t* info) {
  destroyed.push_back(info);
  __PROF_HeapVariable_delete(info);
}

heapStruct_t* block(U64 start, U64 size) { return __PROF_HeapVariable_new(0, start, size, 200); }

// Red-black rules and parent links below x; returns the black height.
int checkSubtree(const RBHeapTreeStruct_t* t, const RBHeapNodeStruct_t* x,
                 std::vector<const RBHeapNodeStruct_t*>& inorder) {
  if (x == t->nil) return 1;
  EXPECT_NE(x->heap_info, nullptr);
  EXPECT_TRUE(x->left == t->nil || x->left->parent == x);
  EXPECT_TRUE(x->right == t->nil || x->right->parent == x);
  EXPECT_FALSE(x->red && (x->left->red || x->right->red)) << "red pair";
  const int lh = checkSubtree(t, x->left, inorder);
  inorder.push_back(x);
  const int rh = checkSubtree(t, x->right, inorder);
  EXPECT_EQ(lh, rh) << "black heights differ";
  return lh + (x->red ? 0 : 1);
}

// Sentinels, rules, links and ascending order; returns the in-order nodes.
std::vector<const RBHeapNodeStruct_t*> checkTree(const RBHeapTreeStruct_t* t) {
  const RBHeapNodeStruct_t *nil = t->nil, *root = t->root;
  EXPECT_TRUE(!nil->red && !nil->heap_info && nil->left == nil && nil->right == nil);
  EXPECT_TRUE(!root->red && !root->heap_info && root->right == nil && root->parent == nil);
  EXPECT_TRUE(root->left == nil || (root->left->parent == root && !root->left->red));
  std::vector<const RBHeapNodeStruct_t*> inorder;
  checkSubtree(t, root->left, inorder);
  for (size_t i = 1; i < inorder.size(); ++i) {
    EXPECT_LT(inorder[i - 1]->heap_info->start, inorder[i]->heap_info->start);
  }
  return inorder;
}

class HeapTree : public testing::Test {
 protected:
  void SetUp() override {
    destroyed.clear();
    t = InitRBHeapTree(__PROF_HeapElemCompare, recordAndFree, nullptr);
  }
  void TearDown() override { RBHeapTreeDestroy(t); }
  RBHeapTreeStruct_t* t = nullptr;
};

TEST(HeapCompare, OrdersDisjointBlocksAndTiesOverlaps) {
  const heapStruct_t a{0, 0, 10, 10, 19, 0}, above{0, 0, 20, 10, 29, 0}, below{0, 0, 0, 10, 9, 0},
      sharing{0, 0, 19, 12, 30, 0}, high{0, 0, 1ull << 63, 1, 1ull << 63, 0};
  EXPECT_EQ(__PROF_HeapElemCompare(&a, &above), -1);
  EXPECT_EQ(__PROF_HeapElemCompare(&above, &a), 1);
  EXPECT_EQ(__PROF_HeapElemCompare(&a, &below), 1);
  EXPECT_EQ(__PROF_HeapElemCompare(&a, &sharing), 0);
  EXPECT_EQ(__PROF_HeapElemCompare(&sharing, &a), 0);
  EXPECT_EQ(__PROF_HeapElemCompare(&high, &a), 1);  // unsigned
}

TEST_F(HeapTree, OverlappingBlockGoesRightAndQueryMissIsNull) {
  checkTree(t);
  heapStruct_t q{0, 0, 12, 1, 12, 0}, gap{0, 0, 26, 4, 29, 0};
  EXPECT_EQ(RBExactQuery(t, &q), nullptr);
  RBHeapNodeStruct_t* a = RBTreeInsertRecursion(t, block(10, 10));
  RBHeapNodeStruct_t* b = RBTreeInsertRecursion(t, block(15, 11));
  EXPECT_EQ(t->root->left, a);
  EXPECT_EQ(a->right, b);
  EXPECT_EQ(RBExactQuery(t, &q), a);
  EXPECT_EQ(RBExactQuery(t, &gap), nullptr);
}

TEST_F(HeapTree, DeletingOnlyNodeEmptiesTree) {
  heapStruct_t* b = block(10, 10);
  RBHeapDelete(t, RBTreeInsertRecursion(t, b));
  EXPECT_EQ(t->root->left, t->nil);
  EXPECT_EQ(destroyed, std::vector<heapStruct_t*>{b});
}

TEST_F(HeapTree, DeletingTwoChildNodeMovesSuccessorNode) {
  heapStruct_t *low = block(10, 10), *mid = block(20, 10), *high = block(30, 10);
  RBHeapNodeStruct_t* nl = RBTreeInsertRecursion(t, low);
  RBHeapNodeStruct_t* nm = RBTreeInsertRecursion(t, mid);
  RBHeapNodeStruct_t* nh = RBTreeInsertRecursion(t, high);
  ASSERT_EQ(t->root->left, nm);
  RBHeapDelete(t, nm);
  EXPECT_EQ(destroyed, std::vector<heapStruct_t*>{mid});
  EXPECT_EQ(t->root->left, nh);  // the successor's node object took the place
  EXPECT_EQ(nh->heap_info, high);
  EXPECT_EQ(nh->left, nl);
  EXPECT_EQ(nl->heap_info, low);
  checkTree(t);
}

TEST_F(HeapTree, NeighboursWalkInOrderAndEndInNil) {
  RBHeapNodeStruct_t* only = RBTreeInsertRecursion(t, block(100, 1));
  EXPECT_EQ(HeapTreeSuccessor(t, only), t->nil);
  EXPECT_EQ(HeapTreePredecessor(t, only), t->nil);
  std::vector<RBHeapNodeStruct_t*> nodes{only};
  for (U64 a : {50, 300, 10, 200, 150, 400}) nodes.push_back(RBTreeInsertRecursion(t, block(a, 5)));
  std::sort(nodes.begin(), nodes.end(),
            [](auto* x, auto* y) { return x->heap_info->start < y->heap_info->start; });
  EXPECT_EQ(HeapTreePredecessor(t, nodes.front()), t->nil);
  EXPECT_EQ(HeapTreeSuccessor(t, nodes.back()), t->nil);
  for (size_t i = 0; i + 1 < nodes.size(); ++i) {
    EXPECT_EQ(HeapTreeSuccessor(t, nodes[i]), nodes[i + 1]);
    EXPECT_EQ(HeapTreePredecessor(t, nodes[i + 1]), nodes[i]);
  }
  RBHeapTreeDestroy(t);  // every block handed over exactly once
  t = InitRBHeapTree(__PROF_HeapElemCompare, recordAndFree, nullptr);
  std::sort(destroyed.begin(), destroyed.end());
  EXPECT_EQ(std::unique(destroyed.begin(), destroyed.end()) - destroyed.begin(), 7);
}

// Random inserts and deletes of disjoint blocks against a std::map model.
// Node identity is part of the model: deleting one node must never make
// another node hold a different block.
void runAgainstModel(RBHeapTreeStruct_t* t, unsigned seed, int steps, bool ascending) {
  std::mt19937 rng(seed);
  std::map<U64, std::pair<heapStruct_t*, RBHeapNodeStruct_t*>> model;  // start -> (block, node)
  U64 next = 0;
  for (int step = 0; step < steps; ++step) {
    SCOPED_TRACE(step);
    if (ascending ? step < steps / 2 : (model.empty() || rng() % 100 < 55)) {
      U64 start = 64 * next++;
      if (!ascending) {
        do start = 64 * (rng() % 4096);
        while (model.count(start));
      }
      heapStruct_t* b = block(start, 1 + rng() % 64);
      model[start] = {b, RBTreeInsertRecursion(t, b)};
      ASSERT_EQ(model[start].second->heap_info, b);
    } else {
      auto it = std::next(model.begin(), rng() % model.size());
      const auto [b, n] = it->second;
      model.erase(it);
      const size_t before = destroyed.size();
      RBHeapDelete(t, n);
      ASSERT_EQ(destroyed.size(), before + 1);
      ASSERT_EQ(destroyed.back(), b);
    }
    const auto inorder = checkTree(t);
    ASSERT_EQ(inorder.size(), model.size());
    auto m = model.begin();
    for (const RBHeapNodeStruct_t* n : inorder) {
      ASSERT_EQ(n, m->second.second);
      ASSERT_EQ(n->heap_info, m->second.first);
      ++m;
    }
    if (testing::Test::HasFailure()) return;
  }
}

TEST_F(HeapTree, RandomInsertsAndDeletesAgreeWithModel) { runAgainstModel(t, 4242, 10000, false); }

TEST_F(HeapTree, AscendingInsertsThenRandomDeletes) {
  runAgainstModel(t, 99, 4000, true);
  EXPECT_EQ(t->root->left, t->nil);
}

TEST(HeapRegistry, FindRespectsBlockAndRegistryBounds) {
  destroyed.clear();
  HeapVariables H{InitRBHeapTree(__PROF_HeapElemCompare, recordAndFree, nullptr), UINT64_MAX, 0};
  RBHeapNodeStruct_t* nil = H.Tree->nil;
  EXPECT_EQ(__PROF_HeapVariables_find(nullptr, nil, 0x1000), nullptr);
  EXPECT_EQ(__PROF_HeapVariables_find(&H, nil, 0x1000), nullptr);

  const U64 p = 0x10000;
  RBHeapNodeStruct_t* n = __PROF_HeapVariables_insert(&H, __PROF_HeapVariable_new(1, p, 100, 200));
  RBHeapNodeStruct_t* z = __PROF_HeapVariables_insert(&H, __PROF_HeapVariable_new(2, p + 0x1000, 0, 200));
  EXPECT_EQ(z->heap_info->end, p + 0x1000);  // size 0 covers one byte
  EXPECT_EQ(H.MinStart, p);
  EXPECT_EQ(H.MaxEnd, p + 0x1000);
  for (U64 a : {p - 1, p, p + 99, p + 100, p + 0x1000, p + 0x1001}) {
    EXPECT_EQ(__PROF_HeapVariables_find(&H, nil, a), a == p + 0x1000 ? z : a >= p && a <= p + 99 ? n : nullptr);
  }
  // Removal does not shrink the bounds; the block is simply gone.
  RBHeapDelete(H.Tree, n);
  EXPECT_EQ(H.MinStart, p);
  EXPECT_EQ(__PROF_HeapVariables_find(&H, nil, p + 10), nullptr);
  RBHeapTreeDestroy(H.Tree);
  EXPECT_EQ(destroyed.size(), 2u);
}

// Every address of a span follows the same descent: the cached answers of
// the access classifier rely on it, overlapping blocks included.
TEST(HeapRegistry, SpanGivesTheDescentsAnswerForEveryAddressInIt) {
  HeapVariables H{InitRBHeapTree(__PROF_HeapElemCompare, __PROF_HeapVariable_delete, nullptr), UINT64_MAX, 0};
  RBHeapNodeStruct_t* nil = H.Tree->nil;
  std::mt19937_64 rng(7);
  const uint64_t before = __PROF_HeapTreeChanges.load();
  for (int i = 0; i < 300; ++i) __PROF_HeapVariables_insert(&H, block(0x10000 + rng() % 0x8000, 1 + rng() % 200));
  EXPECT_GE(__PROF_HeapTreeChanges.load(), before + 300);
  for (int i = 0; i < 3000; ++i) {
    const U64 a = 0xF000 + rng() % 0xA000;
    U64 lo = 0, hi = 0;
    const RBHeapNodeStruct_t* found = __PROF_HeapVariables_findSpan(&H, nil, a, &lo, &hi);
    ASSERT_EQ(found, __PROF_HeapVariables_find(&H, nil, a));
    ASSERT_LE(lo, a);
    ASSERT_GE(hi, a);
    for (U64 b : {lo, hi, lo + (hi - lo) / 2, lo + rng() % (hi - lo + 1)}) {
      if (b < H.MinStart || b > H.MaxEnd) continue;  // the bounds answer there, before any descent
      ASSERT_EQ(__PROF_HeapVariables_find(&H, nil, b), found) << std::hex << a << " span " << lo << ".." << hi;
    }
  }
  const uint64_t beforeDelete = __PROF_HeapTreeChanges.load();
  RBHeapDelete(H.Tree, H.Tree->root->left);
  EXPECT_GT(__PROF_HeapTreeChanges.load(), beforeDelete);
  RBHeapTreeDestroy(H.Tree);
}

}  // namespace
