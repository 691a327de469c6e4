// Archive of freed heap records: block and slot allocation, the lastIdx and
// noElems bookkeeping, the null answers, and the fill-then-drain cycle that
// heap tracking and finalisation put it through.
#include "array.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>

namespace {

class ArrayTest : public ::testing::Test {
 protected:
  void SetUp() override { arr = ArrayCreate(); }
  void TearDown() override { ArrayDelete(arr); }
  // Heap tracking's placement: index 0 when empty, else lastIdx + 1.
  void Archive(void* p) { ArrayAdd(arr, arr->noElems == 0 ? 0 : arr->lastIdx + 1, p); }
  ArrayStruct_t* arr = nullptr;
  int a = 1, b = 2, c = 3;
};

TEST_F(ArrayTest, BlocksAndSlotsAreAllocatedOnDemand) {
  EXPECT_EQ(arr->totalBlocks, 128u);
  ASSERT_NE(arr->blocks[0], nullptr);
  EXPECT_EQ(arr->blocks[1], nullptr);
  ArrayAdd(arr, 5, &a);
  ArrayElemStruct_t* five = ArrayCompleteElement(arr, 5);

  ArrayAdd(arr, 1024, &b);
  EXPECT_NE(arr->blocks[1], nullptr);
  EXPECT_EQ(arr->blocks[2], nullptr);
  EXPECT_EQ(arr->lastIdx, 1024u);
  EXPECT_EQ(ArrayElement(arr, 1024), &b);
  EXPECT_EQ(ArrayElement(arr, 1023), nullptr);

  // Far beyond one growth step: the table covers the index at once, and
  // growth moves the slot table, never the elements.
  ArrayAdd(arr, 1000u * 1024 + 7, &c);
  EXPECT_EQ(arr->totalBlocks, 1024u);
  EXPECT_EQ(ArrayElement(arr, 1000u * 1024 + 7), &c);
  EXPECT_EQ(ArrayCompleteElement(arr, 5), five);
  ArrayAdd(arr, UINT32_MAX, &c);
  EXPECT_EQ(arr->totalBlocks, (UINT32_MAX >> 10) + 1);
  EXPECT_EQ(arr->noElems, 4u);
}

TEST_F(ArrayTest, NullAnswersChangeNothing) {
  ArrayAdd(arr, 3000, &a);  // block 2; block 1 stays absent
  for (U32 idx : {1500u, 3001u}) {
    EXPECT_EQ(ArrayElement(arr, idx), nullptr);
    EXPECT_EQ(ArrayCompleteElement(arr, idx), nullptr);
    EXPECT_EQ(MakeElementInvalid(arr, idx), nullptr);
    EXPECT_EQ(GetInvalidElement(arr, idx), nullptr);
    EXPECT_EQ(ArrayElementDelete(arr, idx), nullptr);
  }
  EXPECT_EQ(arr->noElems, 1u);
  EXPECT_EQ(arr->lastIdx, 3000u);
  EXPECT_EQ(ArrayElementDelete(nullptr, 0), nullptr);
  ArrayAdd(nullptr, 0, &a);
  ArrayElemStruct_t* block0 = arr->blocks[0];
  arr->blocks[0] = nullptr;  // without block 0 nothing is answered
  EXPECT_EQ(GetInvalidElement(arr, 3000), nullptr);
  arr->blocks[0] = block0;
  EXPECT_EQ(ArrayElement(arr, 3000), &a);
}

TEST_F(ArrayTest, LastIdxAndNoElemsBookkeeping) {
  for (int* p : {&a, &b, &c}) Archive(p);
  EXPECT_EQ(ArrayElementDelete(arr, 1), &b);  // not the last: lastIdx stays
  EXPECT_EQ(arr->lastIdx, 2u);
  EXPECT_EQ(ArrayElementDelete(arr, 2), &c);
  EXPECT_EQ(arr->lastIdx, 1u);
  EXPECT_EQ(arr->noElems, 1u);
  ArrayAdd(arr, 0, &c);  // re-adding a valid index counts again
  EXPECT_EQ(arr->lastIdx, 1u);
  EXPECT_EQ(arr->noElems, 2u);
  // Invalidation hides the element, keeps its data and the counters.
  EXPECT_EQ(MakeElementInvalid(arr, 0), &c);
  EXPECT_EQ(MakeElementInvalid(arr, 0), nullptr);
  EXPECT_EQ(ArrayElement(arr, 0), nullptr);
  EXPECT_EQ(GetInvalidElement(arr, 0), &c);
  EXPECT_EQ(arr->noElems, 2u);
}

TEST_F(ArrayTest, DeletingIndexZeroAsLastWrapsAndRefillsCleanly) {
  Archive(&a);
  EXPECT_EQ(ArrayElementDelete(arr, 0), &a);
  EXPECT_EQ(arr->lastIdx, UINT32_MAX);
  ArrayElementDelete(arr, 0);
  EXPECT_EQ(arr->noElems, 0u);  // the count does not wrap below zero
  for (int* p : {&a, &b, &c}) Archive(p);
  EXPECT_EQ(arr->lastIdx, 2u);
  EXPECT_EQ(ArrayElement(arr, 0), &a);
  EXPECT_EQ(ArrayElement(arr, 1), &b);
  EXPECT_EQ(ArrayElement(arr, 2), &c);
}

TEST_F(ArrayTest, FillToCapacityThenDrainFromTheTop) {
  // Owned records: one not handed back leaks, one handed back twice is
  // freed twice; the sanitizer reports either.
  for (int i = 0; i < 2048; ++i) Archive(malloc(16));
  EXPECT_EQ(arr->noElems, 2048u);
  EXPECT_EQ(arr->lastIdx, 2047u);
  while (arr->noElems != 0) {
    void* p = ArrayElementDelete(arr, arr->lastIdx);
    ASSERT_NE(p, nullptr);
    free(p);
  }
  EXPECT_EQ(arr->lastIdx, UINT32_MAX);
}

}  // namespace
