// The thread-range directory: which searches it lets through (own and other
// threads' thread-local ranges, other threads' stacks, never the caller's
// own stack), that a released slot stops matching, and that a range widened
// before an address is handed over is always seen by the receiver.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "thread_ranges.h"

namespace {

TEST(ThreadRanges, LetsThroughOnlySearchesThatCanFindSomething) {
  ThreadRangeSlot* self = __PROF_ThreadRanges_claim();
  ThreadRangeSlot* other = __PROF_ThreadRanges_claim();
  ASSERT_NE(self, nullptr);
  ASSERT_NE(other, nullptr);
  __PROF_ThreadRanges_growStack(self, 0x1000, 0x2000);
  __PROF_ThreadRanges_growStack(other, 0x5000, 0x6000);
  __PROF_ThreadRanges_growThreadLocals(self, 0x9000, 0x90FF);
  __PROF_ThreadRanges_growThreadLocals(other, 0xA000, 0xA0FF);

  auto is = [self](uint64_t adr, bool own, bool otherTls, bool remote) {
    const ThreadRangeCandidates c = __PROF_ThreadRanges_candidates(self, adr);
    EXPECT_EQ((c & kOwnThreadLocal) != 0, own) << std::hex << adr;
    EXPECT_EQ((c & kOtherThreadLocal) != 0, otherTls) << std::hex << adr;
    EXPECT_EQ((c & kRemote) != 0, remote) << std::hex << adr;
  };
  is(0x3000, false, false, false);  // between the ranges
  is(0x1000, false, false, false);  // the caller's own stack is searched elsewhere
  is(0x5000, false, false, true);
  is(0x6000, false, false, true);   // bounds are inclusive, as in the locked search
  is(0x6001, false, false, false);
  is(0x90FF, true, false, false);
  is(0xA000, false, true, false);
  EXPECT_FALSE(__PROF_ThreadRanges_mayHoldStackAddress(other, 0x4FFF));
  EXPECT_TRUE(__PROF_ThreadRanges_mayHoldStackAddress(other, 0x5800));

  __PROF_ThreadRanges_release(other);
  is(0x5000, false, false, false);
  is(0xA000, false, false, false);
  __PROF_ThreadRanges_release(self);
}

TEST(ThreadRanges, RangeWidenedBeforeAHandOverIsSeen) {
  for (int round = 0; round < 200; ++round) {
    ThreadRangeSlot* slot = __PROF_ThreadRanges_claim();
    std::atomic<uint64_t> handed{0};
    const uint64_t base = 0x7000000 + static_cast<uint64_t>(round) * 0x10000;
    std::thread owner([&] {
      __PROF_ThreadRanges_growStack(slot, base, base + 0x100);
      handed.store(base + 0x80, std::memory_order_release);
    });
    uint64_t adr;
    while ((adr = handed.load(std::memory_order_acquire)) == 0) std::this_thread::yield();
    EXPECT_TRUE(__PROF_ThreadRanges_candidates(nullptr, adr) & kRemote);
    owner.join();
    __PROF_ThreadRanges_release(slot);
  }
}

}  // namespace
