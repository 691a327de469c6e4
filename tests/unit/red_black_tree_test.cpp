// Variable interval tree and its two registries: trimming and rejection of
// overlapping newcomers (with the warning text), lookups at interval edges,
// balance, unsigned ordering of negative local offsets, and random
// insertions checked against a model and the red-black rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "GlobalVariables.h"
#include "Locals.h"
#include "red_black_tree.h"

namespace {

struct Interval {
  U64 start, end;
  uint32_t id;
  bool operator==(const Interval&) const = default;
};

// Checks the red-black rules below n; returns its black height.
int checkSubtree(const RBNodeStruct_t* n, std::vector<Interval>& inorder, int depth, int& height) {
  if (n == nullptr) {
    height = std::max(height, depth);
    return 1;
  }
  if (n->color == red) {
    EXPECT_FALSE(n->left && n->left->color == red) << "red pair at " << n->unique_id;
    EXPECT_FALSE(n->right && n->right->color == red) << "red pair at " << n->unique_id;
  }
  const int lh = checkSubtree(n->left, inorder, depth + 1, height);
  inorder.push_back({n->start, n->end, n->unique_id});
  const int rh = checkSubtree(n->right, inorder, depth + 1, height);
  EXPECT_EQ(lh, rh) << "black heights differ below " << n->unique_id;
  return lh + (n->color == black ? 1 : 0);
}

// Red-black rules, count, and disjoint non-empty intervals in ascending
// order. Returns the in-order contents.
std::vector<Interval> checkTree(const RBTreeStruct_t& t, int* height = nullptr) {
  std::vector<Interval> inorder;
  int h = 0;
  EXPECT_TRUE(t.root == nullptr || t.root->color == black);
  checkSubtree(t.root, inorder, 0, h);
  for (size_t i = 0; i < inorder.size(); ++i) {
    EXPECT_LE(inorder[i].start, inorder[i].end);
    if (i > 0) {
      EXPECT_LT(inorder[i - 1].end, inorder[i].start) << "position " << i;
    }
  }
  EXPECT_EQ(inorder.size(), t.count);
  if (height) *height = h;
  return inorder;
}

uint32_t idAt(const std::vector<Interval>& in, U64 a) {
  for (const Interval& i : in) {
    if (i.start <= a && a <= i.end) return i.id;
  }
  return 0;
}

uint32_t idOf(const RBNodeStruct_t* n) { return n ? n->unique_id : 0; }

std::string warning(uint32_t newcomer, uint32_t existing) {
  return "tracing:0:0: warning: Variables " + std::to_string(newcomer) + " and " +
         std::to_string(existing) + " partially overlap\n";
}

// Inserts one owned interval and returns what it printed on stderr.
std::string insertCapturing(RBTreeStruct_t& t, uint32_t id, U64 s, U64 e, RBNodeStruct_t** result) {
  testing::internal::CaptureStderr();
  *result = __PROF_InsertRBNode(&t, id, s, e);
  return testing::internal::GetCapturedStderr();
}

struct OverlapCase {
  const char* what;
  U64 start, end;
  bool warns;
  uint32_t returnedId;  // 0: null
  std::vector<Interval> after;
};

// Newcomer 2 against variable 1 = [10, 19]. Rejected owned nodes must be
// released (ASan reports leaks), and every nearby address must be found in
// exactly the expected variable.
TEST(IntervalTree, NewcomersAreTrimmedOrRejectedAgainstRegisteredVariables) {
  const std::vector<OverlapCase> cases = {
      {"exact duplicate", 10, 19, false, 1, {{10, 19, 1}}},
      {"wholly inside", 12, 15, true, 1, {{10, 19, 1}}},
      {"starts inside", 15, 30, true, 1, {{10, 19, 1}, {20, 30, 2}}},
      {"reaches into", 5, 12, true, 2, {{5, 9, 2}, {10, 19, 1}}},
      {"covers", 5, 30, true, 2, {{5, 9, 2}, {10, 19, 1}}},
      {"adjacent above", 20, 29, false, 2, {{10, 19, 1}, {20, 29, 2}}},
      {"adjacent below", 0, 9, false, 2, {{0, 9, 2}, {10, 19, 1}}},
      {"empty interval", 12, 11, false, 0, {{10, 19, 1}}},
  };
  for (const OverlapCase& c : cases) {
    SCOPED_TRACE(c.what);
    RBTreeStruct_t t;
    __PROF_InitRBTree(&t);
    __PROF_InsertRBNode(&t, 1, 10, 19);
    RBNodeStruct_t* r;
    EXPECT_EQ(insertCapturing(t, 2, c.start, c.end, &r), c.warns ? warning(2, 1) : "");
    EXPECT_EQ(idOf(r), c.returnedId);
    EXPECT_EQ(checkTree(t), c.after);
    for (U64 a = 0; a < 40; ++a) EXPECT_EQ(idOf(__PROF_RBFind(t.root, a)), idAt(c.after, a)) << a;
    __PROF_FreeRBNodes(&t);
  }
  EXPECT_EQ(__PROF_RBFind(nullptr, 10), nullptr);
}

TEST(IntervalTree, NewcomerIsTrimmedAtEveryLevelItMeets) {
  RBTreeStruct_t t;
  __PROF_InitRBTree(&t);
  __PROF_InsertRBNode(&t, 1, 10, 19);
  __PROF_InsertRBNode(&t, 2, 25, 30);
  RBNodeStruct_t* r;
  EXPECT_EQ(insertCapturing(t, 3, 15, 27, &r), warning(3, 1) + warning(3, 2));
  EXPECT_EQ(idOf(r), 1u);
  EXPECT_EQ(checkTree(t), (std::vector<Interval>{{10, 19, 1}, {20, 24, 3}, {25, 30, 2}}));
  // Not owned: a rejected node stays with its caller.
  RBNodeStruct_t stranger{7, 12, 15, red, nullptr, nullptr};
  testing::internal::CaptureStderr();
  EXPECT_EQ(idOf(__PROF_InsertInRBTree(&t, &stranger, false)), 1u);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), warning(7, 1));
  EXPECT_EQ(t.count, 3u);
  __PROF_FreeRBNodes(&t);
}

// A zero-size registration covers no byte, so a variable registered later
// at the same address is registered whole and without a warning.
TEST(IntervalTree, EmptyIntervalDoesNotCutLaterVariables) {
  RBTreeStruct_t t;
  __PROF_InitRBTree(&t);
  RBNodeStruct_t* r;
  EXPECT_EQ(insertCapturing(t, 1, 100, 99, &r), "");
  EXPECT_EQ(insertCapturing(t, 2, 100, 199, &r), "");
  EXPECT_EQ(checkTree(t), (std::vector<Interval>{{100, 199, 2}}));
  __PROF_FreeRBNodes(&t);
}

std::vector<uint32_t> visited;
void record(RBNodeStruct_t* n) { visited.push_back(n->unique_id); }

TEST(IntervalTree, WalksVisitInTheirOrder) {
  RBTreeStruct_t t;
  __PROF_InitRBTree(&t);
  for (uint32_t id : {2, 1, 3}) __PROF_InsertRBNode(&t, id, 10 * id, 10 * id + 9);
  using V = std::vector<uint32_t>;
  visited.clear();
  __PROF_RBPre_Order(t.root, record);
  __PROF_RBIn_Order(t.root, record);
  __PROF_RBPost_Order(t.root, record);
  __PROF_RBIn_Order(nullptr, record);
  EXPECT_EQ(visited, (V{2, 1, 3, 1, 2, 3, 1, 3, 2}));
  __PROF_FreeRBNodes(&t);
}

TEST(IntervalTree, AscendingInsertsStayBalanced) {
  RBTreeStruct_t t;
  __PROF_InitRBTree(&t);
  const int n = 1000;
  for (int i = 0; i < n; ++i) __PROF_InsertRBNode(&t, i + 1, 16 * i, 16 * i + 7);
  int height = 0;
  const auto inorder = checkTree(t, &height);
  EXPECT_LE(height, 2 * std::log2(n + 1));
  for (int i = 0; i < n; ++i) EXPECT_EQ(inorder.at(i).id, uint32_t(i + 1));
  __PROF_FreeRBNodes(&t);
}

// Random overlapping insertions. The exact cut depends on the search path,
// so the model checks what holds regardless: registered intervals never
// change, a newcomer keeps at most one piece of its request, the result
// contains the requested start, and the warning appears exactly when the
// request overlaps without being an exact duplicate.
TEST(IntervalTree, RandomInsertionsAgreeWithModel) {
  std::mt19937_64 rng(20240611);
  RBTreeStruct_t t;
  __PROF_InitRBTree(&t);
  std::vector<Interval> model;  // ascending
  for (uint32_t id = 1; id <= 1500; ++id) {
    const U64 s = rng() % 20000, e = s + rng() % 40;
    bool overlaps = false, equal = false;
    for (const Interval& m : model) {
      overlaps |= m.start <= e && s <= m.end;
      equal |= m.start == s && m.end == e;
    }
    RBNodeStruct_t* r;
    EXPECT_EQ(!insertCapturing(t, id, s, e, &r).empty(), overlaps && !equal);
    ASSERT_NE(r, nullptr);
    EXPECT_TRUE(r->start <= s && s <= r->end);

    std::vector<Interval> now = checkTree(t), added;
    std::set_difference(now.begin(), now.end(), model.begin(), model.end(), std::back_inserter(added),
                        [](const Interval& a, const Interval& b) {
                          return std::tie(a.start, a.end, a.id) < std::tie(b.start, b.end, b.id);
                        });
    ASSERT_EQ(now.size(), model.size() + added.size()) << "a registered interval changed";
    ASSERT_LE(added.size(), 1u);
    if (!added.empty()) {
      EXPECT_EQ(added[0].id, id);
      EXPECT_TRUE(s <= added[0].start && added[0].end <= e);
    }
    model = now;
    for (int k = 0; k < 8; ++k) {
      const U64 a = rng() % 20100;
      EXPECT_EQ(idOf(__PROF_RBFind(t.root, a)), idAt(model, a)) << a;
    }
  }
  __PROF_FreeRBNodes(&t);
}

TEST(LocalsLayout, MainLayoutWithNegativeOffsets) {
  Locals* L = __PROF_Locals_new();
  EXPECT_EQ(L->min_start, INT64_MAX);
  EXPECT_EQ(L->max_end, INT64_MIN);
  testing::internal::CaptureStderr();
  __PROF_Locals_insert(L, 1, 0, 1023);
  __PROF_Locals_insert(L, 2, -1024, -1);
  __PROF_Locals_insert(L, 3, 1024, 1535);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(L->min_start, -1024);
  EXPECT_EQ(L->max_end, 1535);
  EXPECT_EQ(L->total_size, 2560u);
  for (S64 off : {-1024, -1, 0, 1023, 1024, 1535, 1536, -1025}) {
    const uint32_t want = off < -1024 || off > 1535 ? 0 : off < 0 ? 2 : off < 1024 ? 1 : 3;
    EXPECT_EQ(idOf(__PROF_Locals_find(L, off)), want) << off;
  }
  // Unsigned order puts the negative offsets last.
  const auto inorder = checkTree(L->Tree);
  EXPECT_EQ(inorder.back(), (Interval{U64(-1024), U64(-1), 2}));
  __PROF_Locals_delete(L);
}

TEST(GlobalRegistry, IdsAndBounds) {
  GlobalVariables* G = __PROF_GlobalVariables_new();
  EXPECT_EQ(__PROF_GlobalVariables_nextAvailableId(G), 1u);
  EXPECT_EQ(__PROF_GlobalVariables_find(G, 0), nullptr);
  __PROF_GlobalVariables_insert(G, 5, 0x1000, 0x10ff);
  __PROF_GlobalVariables_insert(G, 3, 0x2000, 0x2003);
  EXPECT_EQ(__PROF_GlobalVariables_nextAvailableId(G), 6u);
  EXPECT_EQ(G->MinStart, 0x1000u);
  EXPECT_EQ(G->MaxEnd, 0x2003u);
  for (U64 a : {0xfffu, 0x1000u, 0x10ffu, 0x1100u, 0x2003u, 0x2004u}) {
    EXPECT_EQ(idOf(__PROF_GlobalVariables_find(G, a)), a == 0x2003 ? 3u : a < 0x1000 || a > 0x10ff ? 0u : 5u);
  }
  // Cut at the front, the newcomer returns the earlier variable: the id mark
  // follows that node, the bounds follow the request.
  testing::internal::CaptureStderr();
  EXPECT_EQ(idOf(__PROF_GlobalVariables_insert(G, 9, 0x2002, 0x2fff)), 3u);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), warning(9, 3));
  EXPECT_EQ(__PROF_GlobalVariables_nextAvailableId(G), 6u);
  EXPECT_EQ(G->MaxEnd, 0x2fffu);
  EXPECT_EQ(idOf(__PROF_GlobalVariables_find(G, 0x2fff)), 9u);
  // An empty interval moves neither the id mark nor the bounds.
  EXPECT_EQ(__PROF_GlobalVariables_insert(G, 40, 0x500, 0x4ff), nullptr);
  EXPECT_EQ(__PROF_GlobalVariables_nextAvailableId(G), 6u);
  EXPECT_EQ(G->MinStart, 0x1000u);
  __PROF_GlobalVariables_setNextAvailableId(G, 42);
  EXPECT_EQ(__PROF_GlobalVariables_nextAvailableId(G), 42u);
  __PROF_FreeRBNodes(&G->Tree);
  free(G);
}

}  // namespace
