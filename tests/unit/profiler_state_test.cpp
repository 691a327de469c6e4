// Tests of a thread's virtual call stack: frame ids and the current
// function through pushes and pops, recycling of frame and scope records,
// scopes saving and restoring the frame range, what a pop releases, the
// thread's stack range, frame ranges from a locals layout, and the
// per-thread finalisation that unwinds open frames into the trace.
#include "profiler_state.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "Function.h"
#include "Locals.h"
#include "bufferedPrinter.h"
#include "finalize.h"
#include "prof/proflibAPI.h"
#include "ls_profile.h"
#include "thread_profile_utils.h"
#include "traceTestSupport.h"
#include "tracereader/tracereader.h"

namespace {

class VirtualStack : public ::testing::Test {
 protected:
  void SetUp() override {
    __PROF_GProfilerState_init(&state_);
    f_ = __PROF_Function_new(200, 0x401000);
    g_ = __PROF_Function_new(201, 0x401040);
  }
  void TearDown() override {
    while (state_.FramePtr != nullptr) __PROF_GProfilerState_popFrame(&state_);
    __PROF_GProfilerState_destruct(&state_);
    pthread_mutex_destroy(&state_.FramePtr_mutex);
    pthread_mutex_destroy(&state_.Stackframes_mutex);
    __PROF_Function_delete(f_);
    __PROF_Function_delete(g_);
  }

  VFrame_t* push(const Function* f) {
    __PROF_GProfilerState_pushFrame(&state_, f);
    return state_.FramePtr;
  }
  VFrame_t* pop() { return __PROF_GProfilerState_popFrame(&state_); }

  GProfilerState_t state_;
  Function* f_ = nullptr;
  Function* g_ = nullptr;
};

TEST_F(VirtualStack, FrameIdsAreDepthsAndTheCurrentFunctionFollowsTheTop) {
  EXPECT_EQ(pop(), nullptr);  // popping an empty stack is harmless
  VFrame_t* one = push(f_);
  VFrame_t* two = push(g_);
  VFrame_t* three = push(f_);
  EXPECT_EQ(one->Id, 1u);
  EXPECT_EQ(one->prev, nullptr);
  EXPECT_EQ(two->Id, 2u);
  EXPECT_EQ(two->prev, one);
  EXPECT_EQ(three->Id, 3u);
  EXPECT_EQ(state_.CurrFuncPtr, f_);

  EXPECT_EQ(pop(), two);
  EXPECT_EQ(state_.CurrFuncPtr, g_);
  EXPECT_EQ(pop(), one);
  EXPECT_EQ(state_.CurrFuncPtr, f_);
  EXPECT_EQ(pop(), nullptr);
  EXPECT_EQ(state_.CurrFuncPtr, nullptr);
  EXPECT_EQ(state_.FramePtr, nullptr);
}

TEST_F(VirtualStack, APoppedFrameRecordIsTheNextOnePushedAndStartsClean) {
  push(f_);
  VFrame_t* frame = push(g_);
  frame->isCalledFromLibrary = true;
  frame->address = 0x7ffd0000;
  frame->bot = 0x7ffcff00;
  frame->top = 0x7ffd0100;
  pop();
  VFrame_t* again = push(f_);
  EXPECT_EQ(again, frame);
  EXPECT_EQ(again->Id, 2u);
  EXPECT_EQ(again->function, f_);
  EXPECT_FALSE(again->isCalledFromLibrary);
  EXPECT_EQ(again->address, 0u);
  EXPECT_EQ(again->bot, 0u);
  EXPECT_EQ(again->top, 0u);
  EXPECT_EQ(again->inner, nullptr);
  EXPECT_EQ(again->dynamic_table, nullptr);
}

TEST_F(VirtualStack, ScopesSaveAndRestoreTheFrameRange) {
  VFrame_t* frame = push(f_);
  frame->bot = 100;
  frame->top = 200;
  VScope_t* outer = __PROF_GProfilerState_allocate_scope(&state_);
  __PROF_VFrame_pushScope(frame, outer);
  EXPECT_EQ(frame->inner, outer);
  EXPECT_EQ(outer->prev, nullptr);
  frame->bot = 50;
  frame->top = 300;
  VScope_t* inner = __PROF_GProfilerState_allocate_scope(&state_);
  __PROF_VFrame_pushScope(frame, inner);
  EXPECT_EQ(inner->prev, outer);
  frame->bot = 10;
  frame->top = 400;

  EXPECT_EQ(__PROF_VFrame_popScope(frame), inner);
  EXPECT_EQ(frame->bot, 50u);
  EXPECT_EQ(frame->top, 300u);
  EXPECT_EQ(__PROF_VFrame_popScope(frame), outer);
  EXPECT_EQ(frame->bot, 100u);
  EXPECT_EQ(frame->top, 200u);
  EXPECT_EQ(frame->inner, nullptr);

  // Freed scopes come back last in, first out.
  __PROF_GProfilerState_free_scope(&state_, inner);
  __PROF_GProfilerState_free_scope(&state_, outer);
  EXPECT_EQ(__PROF_GProfilerState_allocate_scope(&state_), outer);
  EXPECT_EQ(__PROF_GProfilerState_allocate_scope(&state_), inner);
  __PROF_GProfilerState_free_scope(&state_, outer);
  __PROF_GProfilerState_free_scope(&state_, inner);
}

TEST_F(VirtualStack, PoppingAFrameReleasesEveryOpenScopeAndItsDynamicLocals) {
  push(f_);
  VFrame_t* frame = push(g_);
  std::vector<VScope_t*> scopes;
  for (int i = 0; i < 3; ++i) {
    scopes.push_back(__PROF_GProfilerState_allocate_scope(&state_));
    __PROF_VFrame_pushScope(frame, scopes.back());
    __PROF_VFrame_allocateDynamicLocal(frame, 10 + i, 0x7000 + 0x100 * i, 16);
  }
  ASSERT_NE(frame->dynamic_table, nullptr);
  ASSERT_NE(__PROF_VFrame_getDynamicLocal(frame, 11), nullptr);

  pop();
  EXPECT_EQ(frame->inner, nullptr);
  EXPECT_EQ(frame->dynamic_table, nullptr);  // nodes and table freed (the leak checker sees the rest)
  // All three scopes are in the pool, innermost first.
  EXPECT_EQ(__PROF_GProfilerState_allocate_scope(&state_), scopes[2]);
  EXPECT_EQ(__PROF_GProfilerState_allocate_scope(&state_), scopes[1]);
  EXPECT_EQ(__PROF_GProfilerState_allocate_scope(&state_), scopes[0]);
  for (VScope_t* s : scopes) __PROF_GProfilerState_free_scope(&state_, s);
}

TEST_F(VirtualStack, TheStackRangeOnlyGrowsAndComparesUnsigned) {
  EXPECT_EQ(state_.Stackframes_Min, UINT64_MAX);
  EXPECT_EQ(state_.Stackframes_Max, 0u);
  VFrame_t frame{};
  auto grow = [&](uint64_t bot, uint64_t top) {
    frame.bot = bot;
    frame.top = top;
    __PROF_GProfilerState_growStackframeRange(&state_, &frame);
  };
  grow(1000, 2000);
  EXPECT_EQ(state_.Stackframes_Min, 1000u);
  EXPECT_EQ(state_.Stackframes_Max, 2000u);
  grow(1500, 1800);  // inside: nothing changes
  EXPECT_EQ(state_.Stackframes_Min, 1000u);
  EXPECT_EQ(state_.Stackframes_Max, 2000u);
  grow(500, 2500);
  EXPECT_EQ(state_.Stackframes_Min, 500u);
  EXPECT_EQ(state_.Stackframes_Max, 2500u);
  grow(0x8000000000000000, 0x8000000000000010);
  EXPECT_EQ(state_.Stackframes_Min, 500u);
  EXPECT_EQ(state_.Stackframes_Max, 0x8000000000000010u);
}

TEST_F(VirtualStack, AFrameAddressWithALocalsLayoutSetsTheFrameRange) {
  Locals* layout = __PROF_Locals_new();
  __PROF_Locals_insert(layout, 1, -1024, -1);
  __PROF_Locals_insert(layout, 2, 0, 1535);
  ASSERT_TRUE(__PROF_Function_setLocalsTree(f_, layout));

  VFrame_t* frame = push(f_);
  __PROF_GProfilerState_setCurrentFrameAddress(&state_, 0x7ffd0000);
  EXPECT_EQ(frame->address, 0x7ffd0000u);
  EXPECT_EQ(frame->bot, 0x7ffd0000u - 1024);
  EXPECT_EQ(frame->top, 0x7ffd0000u + 1536);
  EXPECT_EQ(state_.Stackframes_Min, frame->bot);
  EXPECT_EQ(state_.Stackframes_Max, frame->top);

  // Without a layout only the address is recorded.
  VFrame_t* plain = push(g_);
  __PROF_GProfilerState_setCurrentFrameAddress(&state_, 0x7ffc0000);
  EXPECT_EQ(plain->address, 0x7ffc0000u);
  EXPECT_EQ(plain->bot, 0u);
  EXPECT_EQ(plain->top, 0u);
  EXPECT_EQ(state_.Stackframes_Min, 0x7ffd0000u - 1024);
}

// Per-thread finalisation, on a thread of its own because it suspends
// tracing for the calling thread for good.
TEST(ThreadFinalisation, OpenFramesBecomeUnwindRecordsAndASecondCallDoesNothing) {
  trace_test::ScratchDir dir;
  const std::string path = dir.file("thread0001-trace.txt");
  std::thread([&] {
    thread_profile_t* profile = thread_profile_init(0x1000, 1);
    GProfilerState_t* state = profile->prof_state;
    state->TraceBuffPrinterPtr = createBufferedPrinter(path.c_str(), 5120);
    Function* f = __PROF_Function_new(200, 0x401000);
    for (int i = 0; i < 3; ++i) __PROF_GProfilerState_pushFrame(state, f);
    __PROF_GProfilerState_popFrame(state);  // pooled, not open

    __PROF_FinalizeInstrumentation(state);
    EXPECT_EQ(state->FramePtr, nullptr);
    EXPECT_EQ(state->TraceBuffPrinterPtr, nullptr);
    EXPECT_EQ(state->FramePool, nullptr);
    EXPECT_NE(__PROF_is_trace_suspended(), 0);
    EXPECT_TRUE(__PROF_is_profile_finalized(profile));

    __PROF_GProfilerState_pushFrame(state, f);  // would be unwound by a second finalisation
    __PROF_FinalizeInstrumentation(state);
    EXPECT_NE(state->FramePtr, nullptr);

    __PROF_thread_profile_release_state(profile);
    pthread_mutex_destroy(&profile->thread_state_mutex);
    free(profile);
    __PROF_Function_delete(f);
  }).join();
  const tracereader::InflatedTrace trace = tracereader::readTraceFile(path);
  EXPECT_TRUE(trace.complete);
  EXPECT_EQ(trace.bytes, (std::vector<uint8_t>{0x12, 0x12}));
}

}  // namespace
