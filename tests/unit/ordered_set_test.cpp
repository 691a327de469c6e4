// Ordered set: red-black rules, links and ordering checked against std::map
// after every step of a random run, node stability across deletion, info
// ownership, and the listing format.
#include "ordered_set.h"

#include <commonProfInclude/common.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <random>
#include <vector>

namespace {

std::vector<void*> destroyed;
void RecordDestroy(void* info) { destroyed.push_back(info); }
void PrintKey(pthread_t k) { fprintf(stderr, "%lu", static_cast<unsigned long>(k)); }
void PrintInfo(void* info) { fprintf(stderr, "%s", static_cast<const char*>(info)); }

void* InfoFor(U64 key) { return reinterpret_cast<void*>(static_cast<uintptr_t>(key ^ 0x5a5a)); }

// Checks the subtree of x: links back to the parent, sorted keys, no red
// node with a red child; returns its black height and appends its keys.
int CheckSubtree(const OrderedSet_tree_t* t, const OrderedSet_node_t* x, std::vector<U64>& keys) {
  if (x == t->nil) return 1;
  EXPECT_TRUE(x->left == t->nil || x->left->parent == x);
  EXPECT_TRUE(x->right == t->nil || x->right->parent == x);
  if (x->red) {
    EXPECT_FALSE(x->left->red || x->right->red) << "red node " << x->key << " has a red child";
  }
  const int lh = CheckSubtree(t, x->left, keys);
  keys.push_back(static_cast<U64>(x->key));
  const int rh = CheckSubtree(t, x->right, keys);
  EXPECT_EQ(lh, rh) << "black heights differ below " << x->key;
  return lh + (x->red ? 0 : 1);
}

// The whole set must hold exactly the model's entries, in ascending
// unsigned order, and satisfy the sentinel and red-black rules.
void Validate(const OrderedSet_tree_t* t, const std::map<U64, void*>& model) {
  ASSERT_FALSE(t->nil->red);
  ASSERT_FALSE(t->root->red);
  ASSERT_EQ(t->nil->left, t->nil);
  ASSERT_EQ(t->nil->right, t->nil);
  ASSERT_EQ(t->root->right, t->nil);
  const OrderedSet_node_t* top = t->root->left;
  if (top != t->nil) {
    ASSERT_FALSE(top->red);
    ASSERT_EQ(top->parent, t->root);
  }
  std::vector<U64> keys;
  CheckSubtree(t, top, keys);
  std::vector<U64> expected;
  for (const auto& [k, info] : model) expected.push_back(k);
  ASSERT_EQ(keys, expected);
}

class OrderedSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    destroyed.clear();
    t = OrderedSetCreate(RecordDestroy, PrintKey, PrintInfo);
  }
  void TearDown() override { OrderedSetDestroy(t); }
  OrderedSet_tree_t* t = nullptr;
};

TEST_F(OrderedSetTest, RandomInsertsAndDeletesMatchAMap) {
  std::mt19937_64 rng(20240611);
  std::map<U64, void*> model;
  std::vector<U64> present;
  for (int step = 0; step < 3000; ++step) {
    const bool insert = present.empty() || rng() % 5 < 3;
    if (insert) {
      // Half the keys above 2^63, so the unsigned order is exercised.
      U64 key = rng() % 4096;
      if (rng() & 1) key |= UINT64_C(1) << 63;
      if (model.count(key)) continue;
      OrderedSet_node_t* n = OrderedSetInsert(t, static_cast<pthread_t>(key), InfoFor(key));
      ASSERT_EQ(n->info, InfoFor(key));
      model[key] = InfoFor(key);
      present.push_back(key);
    } else {
      const size_t i = rng() % present.size();
      const U64 key = present[i];
      present[i] = present.back();
      present.pop_back();
      OrderedSet_node_t* n = OrderedSetExactQuery(t, static_cast<pthread_t>(key));
      ASSERT_NE(n, nullptr);
      destroyed.clear();
      OrderedSetDelete(t, n);
      ASSERT_EQ(destroyed, std::vector<void*>{InfoFor(key)});
      model.erase(key);
      ASSERT_EQ(OrderedSetExactQuery(t, static_cast<pthread_t>(key)), nullptr);
    }
    Validate(t, model);
    if (HasFatalFailure() || HasFailure()) FAIL() << "after step " << step;
  }
  for (const auto& [k, info] : model) EXPECT_EQ(OrderedSetExactQuery(t, static_cast<pthread_t>(k))->info, info);
  // Destroy hands every remaining info over exactly once.
  destroyed.clear();
  OrderedSetDestroy(t);
  t = nullptr;
  std::sort(destroyed.begin(), destroyed.end());
  std::vector<void*> infos;
  for (const auto& [k, info] : model) infos.push_back(info);
  std::sort(infos.begin(), infos.end());
  EXPECT_EQ(destroyed, infos);
}

TEST_F(OrderedSetTest, AscendingInsertsStayBalanced) {
  const int k = 10;
  std::map<U64, void*> model;
  for (U64 key = 1; key < (U64{1} << k); ++key) {
    OrderedSetInsert(t, static_cast<pthread_t>(key), nullptr);
    model[key] = nullptr;
  }
  // Equal black heights and no red pair bound every path by 2k nodes.
  Validate(t, model);
}

TEST_F(OrderedSetTest, DeletingATwoChildNodeKeepsTheSuccessorNode) {
  EXPECT_EQ(OrderedSetExactQuery(t, 0), nullptr);
  std::map<U64, void*> model;
  for (U64 key : {50, 20, 80, 10, 30, 70, 90, 60, 75}) {
    OrderedSetInsert(t, static_cast<pthread_t>(key), InfoFor(key));
    model[key] = InfoFor(key);
  }
  OrderedSet_node_t* z = OrderedSetExactQuery(t, 50);
  ASSERT_NE(z->left, t->nil);
  ASSERT_NE(z->right, t->nil);
  OrderedSet_node_t* succ = OrderedSetExactQuery(t, 60);
  OrderedSet_node_t* other = OrderedSetExactQuery(t, 75);

  OrderedSetDelete(t, z);
  model.erase(50);
  EXPECT_EQ(destroyed, std::vector<void*>{InfoFor(50)});
  // The successor's node moved into place: same pointer, own entry.
  EXPECT_EQ(OrderedSetExactQuery(t, 60), succ);
  EXPECT_EQ(succ->key, 60u);
  EXPECT_EQ(succ->info, InfoFor(60));
  EXPECT_EQ(OrderedSetExactQuery(t, 75), other);
  EXPECT_EQ(OrderedSetExactQuery(t, 50), nullptr);
  Validate(t, model);
  // NULL and the sentinels are not entries.
  destroyed.clear();
  OrderedSetDelete(t, nullptr);
  OrderedSetDelete(t, t->nil);
  OrderedSetDelete(t, t->root);
  EXPECT_TRUE(destroyed.empty());
  Validate(t, model);
}

TEST_F(OrderedSetTest, PrintListsEntriesInKeyOrder) {
  char one[] = "A", two[] = "B", three[] = "C";
  OrderedSetInsert(t, static_cast<pthread_t>(UINT64_C(1) << 63), two);
  testing::internal::CaptureStderr();
  OrderedSetPrint(t);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "info=B  key=9223372036854775808  l->key=NULL  r->key=NULL  p->key=NULL  red=0\n");

  OrderedSetInsert(t, 1, one);
  OrderedSetInsert(t, static_cast<pthread_t>(UINT64_MAX), three);
  testing::internal::CaptureStderr();
  OrderedSetPrint(t);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "info=A  key=1  l->key=NULL  r->key=NULL  p->key=9223372036854775808  red=1\n"
            "info=B  key=9223372036854775808  l->key=1  r->key=18446744073709551615  p->key=NULL  red=0\n"
            "info=C  key=18446744073709551615  l->key=NULL  r->key=NULL  p->key=9223372036854775808  red=1\n");
}

}  // namespace
