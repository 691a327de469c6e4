// Hash table: slot arithmetic, duplicates under both comparison modes, chain
// order as the visitor sees it, merge and release.
#include "table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

namespace {

struct Elem {
  U64 key;
  int tag;
};
int compareCalls = 0;
U64 KeyOf(void* e) { return static_cast<Elem*>(e)->key; }
U8 SameTag(void* stored, void* probe) {
  ++compareCalls;
  return static_cast<Elem*>(stored)->tag == static_cast<Elem*>(probe)->tag;
}
bool Record(void* e, void* info) {
  static_cast<std::vector<U64>*>(info)->push_back(static_cast<Elem*>(e)->key);
  return false;
}

class TableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    memset(&t, 0xAB, sizeof t);  // init must not rely on zeroed storage
    __PROF_TableInit(&t, KeyOf, nullptr, true);
  }
  void TearDown() override { __PROF_TableDelete(&t, nullptr); }
  Table t;
};

TEST(TableHash, SlotArithmeticWrapsIn64Bits) {
  EXPECT_EQ(Hash(0), 0u);
  EXPECT_EQ(Hash(1), 23u);
  EXPECT_EQ(Hash(6), 7u);
  EXPECT_EQ(Hash(262), 0u);
  EXPECT_EQ(Hash(UINT64_MAX), 42u);  // (2^64 - 23) mod 131
}

TEST_F(TableTest, DuplicatesAndSharedSlots) {
  Elem e0{0, 0}, e131{131, 1}, e262{262, 2}, dup{131, 9};
  Elem probe{5, 0};
  EXPECT_EQ(__PROF_TableGetElem(&t, &probe), nullptr);
  EXPECT_EQ(__PROF_TableGetElem(&t, nullptr), nullptr);
  EXPECT_FALSE(__PROF_TableAdd(&t, nullptr));
  for (Elem* e : {&e131, &e0, &e262}) ASSERT_TRUE(__PROF_TableAdd(&t, e));
  EXPECT_FALSE(__PROF_TableAdd(&t, &dup));
  EXPECT_EQ(__PROF_TableSize(&t), 3u);
  // Same slot, each found by its own key whatever its place in the chain.
  for (Elem* e : {&e0, &e131, &e262}) EXPECT_EQ(__PROF_TableGetElem(&t, e), e);
  EXPECT_EQ(__PROF_TableGetElem(&t, &dup), &e131);
  Elem absent{393, 0};  // slot 0 as well
  EXPECT_EQ(__PROF_TableGetElem(&t, &absent), nullptr);
}

TEST_F(TableTest, CompareDecidesBetweenEqualKeys) {
  __PROF_TableInit(&t, KeyOf, SameTag, false);
  Elem a{7, 1}, b{7, 2}, c{7, 2}, neighbour{138, 2};  // 7 and 138 share a slot
  for (Elem* e : {&a, &b, &neighbour}) ASSERT_TRUE(__PROF_TableAdd(&t, e));
  EXPECT_FALSE(__PROF_TableAdd(&t, &c));
  Elem p1{7, 1}, p2{7, 2}, p3{7, 3};
  EXPECT_EQ(__PROF_TableGetElem(&t, &p1), &a);
  EXPECT_EQ(__PROF_TableGetElem(&t, &p2), &b);
  EXPECT_EQ(__PROF_TableGetElem(&t, &p3), nullptr);
  compareCalls = 0;  // Compare runs only on equal keys
  EXPECT_EQ(__PROF_TableGetElem(&t, &neighbour), &neighbour);
  EXPECT_EQ(compareCalls, 1);

  // No compare function: equal keys are equal elements, never a null call.
  __PROF_TableDelete(&t, nullptr);
  __PROF_TableInit(&t, KeyOf, nullptr, false);
  ASSERT_TRUE(__PROF_TableAdd(&t, &a));
  EXPECT_FALSE(__PROF_TableAdd(&t, &b));
}

TEST_F(TableTest, VisitorWalksSlotsAscendingNewestFirstAndStops) {
  Elem e[] = {{1, 0}, {0, 0}, {6, 0}, {131, 0}, {262, 0}};  // slots 23, 0, 7, 0, 0
  for (Elem& x : e) ASSERT_TRUE(__PROF_TableAdd(&t, &x));
  std::vector<U64> seen;
  EXPECT_FALSE(__PROF_TableVisitor(&t, Record, &seen));
  EXPECT_EQ(seen, (std::vector<U64>{262, 131, 0, 6, 1}));
  int calls = 0;
  EXPECT_TRUE(__PROF_TableVisitor(
      &t, [](void*, void* n) { return ++*static_cast<int*>(n) > 0; }, &calls));
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(__PROF_TableVisitor(nullptr, Record, &seen));
}

TEST_F(TableTest, MergeOffersMatchesAndAddsTheRest) {
  Table src;
  __PROF_TableInit(&src, KeyOf, nullptr, true);
  Elem d2{2, 0}, s2{2, 1}, s3{3, 1}, s4{4, 1};
  __PROF_TableAdd(&t, &d2);
  for (Elem* e : {&s2, &s3, &s4}) __PROF_TableAdd(&src, e);
  // Matches are reported; of the others, key 3 is produced, key 4 declined.
  static std::vector<std::pair<void*, void*>> calls;
  __PROF_TableMerge(&t, &src, [](void* d, void* s, void*) -> void* {
    calls.emplace_back(d, s);
    return (d == nullptr && static_cast<Elem*>(s)->key == 3) ? s : nullptr;
  }, nullptr);
  const std::vector<std::pair<void*, void*>> expected{{&d2, &s2}, {nullptr, &s3}, {nullptr, &s4}};
  EXPECT_EQ(calls, expected);  // slots 46, 69, 92
  EXPECT_EQ(__PROF_TableSize(&t), 2u);
  EXPECT_EQ(__PROF_TableGetElem(&t, &s2), &d2);
  EXPECT_EQ(__PROF_TableGetElem(&t, &s3), &s3);
  EXPECT_EQ(__PROF_TableSize(&src), 3u);
  __PROF_TableDelete(&src, nullptr);
}

TEST_F(TableTest, DeleteHandsEachElementToTheDeleterOnce) {
  // Heap elements: a second deleter call, or a null deleter that released
  // anything, is caught by the address sanitizer.
  static int deleted = 0;
  for (U64 k = 0; k < 400; ++k) ASSERT_TRUE(__PROF_TableAdd(&t, new Elem{k * 131, 0}));
  __PROF_TableDelete(&t, [](void* e) {
    ++deleted;
    delete static_cast<Elem*>(e);
  });
  EXPECT_EQ(deleted, 400);
  EXPECT_EQ(__PROF_TableSize(&t), 0u);
  Elem kept{5, 0};
  ASSERT_TRUE(__PROF_TableAdd(&t, &kept));
  __PROF_TableDelete(&t, nullptr);
  EXPECT_EQ(__PROF_TableGetElem(&t, &kept), nullptr);
}

}  // namespace
