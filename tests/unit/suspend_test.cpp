// Tests of per-thread trace suspension: nesting, per-thread counters, and
// lowering another thread's counter through its key.
#include "suspend.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

namespace {

TEST(TraceSuspension, SuspensionsNestUntilEveryOneIsResumed) {
  ASSERT_EQ(__PROF_is_trace_suspended(), 0);
  EXPECT_FALSE(traceSuspendedOnThisThread());
  void* first = __PROF_trace_suspend();
  void* second = __PROF_trace_suspend();
  EXPECT_EQ(first, second);
  EXPECT_EQ(first, static_cast<void*>(&__PROF_IsTraceSuspended));
  EXPECT_EQ(__PROF_is_trace_suspended(), 2);
  __PROF_trace_resume();
  EXPECT_NE(__PROF_is_trace_suspended(), 0);
  EXPECT_TRUE(traceSuspendedOnThisThread());
  __PROF_trace_resume();
  EXPECT_EQ(__PROF_is_trace_suspended(), 0);
  EXPECT_FALSE(traceSuspendedOnThisThread());
}

TEST(TraceSuspension, CountersBelongToTheirThread) {
  void* mainKey = __PROF_trace_suspend();
  void* otherKey = nullptr;
  int otherAtStart = -1;
  std::thread([&] {
    otherAtStart = __PROF_is_trace_suspended();
    otherKey = __PROF_trace_suspend();
  }).join();
  EXPECT_EQ(otherAtStart, 0) << "a new thread starts unsuspended";
  EXPECT_NE(otherKey, mainKey);
  EXPECT_EQ(__PROF_is_trace_suspended(), 1);
  __PROF_trace_resume();
}

// Start-up lowers the counters of threads that suspended themselves while
// it was still running.
TEST(TraceSuspension, ResumeThreadLowersTheKeysOwner) {
  std::promise<void*> keyReady;
  std::promise<void> resumed;
  std::promise<int> seenAfter;
  std::thread owner([&] {
    __PROF_trace_suspend();
    keyReady.set_value(__PROF_trace_suspend());
    resumed.get_future().wait();
    seenAfter.set_value(__PROF_is_trace_suspended());
  });
  void* key = keyReady.get_future().get();
  __PROF_trace_resume_thread(key);
  resumed.set_value();
  EXPECT_EQ(seenAfter.get_future().get(), 1);
  EXPECT_EQ(__PROF_is_trace_suspended(), 0) << "the caller's own counter is untouched";
  owner.join();
}

}  // namespace
