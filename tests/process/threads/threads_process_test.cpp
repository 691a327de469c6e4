// Runs the hand-instrumented thread programs and compares their traces byte
// for byte with the records their function events must produce: unwinding,
// unbalanced exits, the untagged values, one trace per thread, threads that
// end inside calls or are still running at exit, the exit-time waits, two
// simultaneous exits, and code that runs before start-up or after
// finalisation.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "process_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Every program runs under an alarm: a process that hangs at exit fails
// its test instead of blocking the suite.
constexpr unsigned kTimeoutSeconds = 60;

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes repeat(const Bytes& b, int times) {
  Bytes out;
  for (int i = 0; i < times; ++i) out = out + b;
  return out;
}

Bytes header(bool mem, bool alloc) { return {0x18, 0x05, 0x1A, uint8_t(mem), uint8_t(alloc)}; }
Bytes entry(uint64_t function, uint64_t caller) { return proctest::uleb({0, function, caller}); }
Bytes values(std::initializer_list<uint64_t> v) { return proctest::uleb(v); }
const Bytes kExit{0x02};
const Bytes kUnwind{0x12};
Bytes unwindStop(uint64_t location) { return proctest::uleb({20, location}); }

struct Outcome {
  proctest::RunResult result;
  std::string runDir;
};

// Runs program in a fresh profile directory and returns its run directory.
Outcome runFresh(const std::string& program, const std::vector<std::string>& args) {
  proctest::removeAll(proctest::profileDir(program));
  Outcome o;
  o.result = proctest::run(proctest::programPath(program), args, proctest::scratchDir(program),
                           [] { alarm(kTimeoutSeconds); });
  o.runDir = proctest::latestRunDir(proctest::profileDir(program));
  return o;
}

std::string traceName(uint32_t thread) {
  char name[32];
  snprintf(name, sizeof name, "thread%04u-trace.txt", thread);
  return name;
}

std::set<std::string> traceFiles(const std::string& runDir) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(runDir, ec)) {
    const std::string name = e.path().filename().string();
    if (name.rfind("thread", 0) == 0) names.insert(name);
  }
  return names;
}

std::set<std::string> traceFilesOf(std::initializer_list<uint32_t> threads) {
  std::set<std::string> names;
  for (uint32_t t : threads) names.insert(traceName(t));
  return names;
}

// The complete trace of thread in runDir; a stream that was not finished
// fails the test.
Bytes completeTrace(const std::string& runDir, uint32_t thread) {
  const proctest::Trace t = proctest::readTrace(runDir, thread);
  EXPECT_TRUE(t.complete) << traceName(thread) << " is not a finished stream";
  return t.bytes;
}

// "functionMapping" of a program that registered count functions from 200.
std::string mappingOf(int count) {
  std::string text;
  for (int id = 200; id < 200 + count; ++id) text += std::to_string(id) + " app_0 " + std::to_string(id) + "\n";
  return text;
}

// Splits a thread's trace into prefix, one single-byte index and suffix;
// returns the index, or -1 when the trace does not have that shape.
int indexBetween(const Bytes& trace, const Bytes& prefix, const Bytes& suffix) {
  if (trace.size() != prefix.size() + 1 + suffix.size()) return -1;
  if (!std::equal(prefix.begin(), prefix.end(), trace.begin())) return -1;
  if (!std::equal(suffix.begin(), suffix.end(), trace.end() - static_cast<long>(suffix.size()))) return -1;
  return trace[prefix.size()];
}

// ---- Function events on one thread ----

const char kEvents[] = "threads_function_events";
// Linked ids of the events program (registered 200.. in order).
constexpr uint64_t kMain = 200, kUnwindScenario = 201, kUnbalancedScenario = 203, kRecordsScenario = 204,
                   kNest = 205, kCallback = 206;

TEST(FunctionEvents, UnwindPopsToTheCatchingFrameAndStopsAtTheTop) {
  const Outcome o = runFresh(kEvents, {"unwind"});
  ASSERT_EQ(o.result.exitCode, 0) << o.result.err;
  EXPECT_EQ(traceFiles(o.runDir), traceFilesOf({0}));
  const Bytes expected = header(true, true) + entry(kMain, 0) + entry(kUnwindScenario, kMain) +
                         entry(kNest, kUnwindScenario) + repeat(entry(kNest, kNest), 2) +
                         // depth 5 back to frame 2: three frames, then the stop
                         repeat(kUnwind, 3) + unwindStop(7) +
                         // the target is already on top: only the stop
                         unwindStop(9) + kExit + kExit;
  EXPECT_EQ(completeTrace(o.runDir, 0), expected);
  EXPECT_EQ(proctest::readFile(o.runDir + "/functionMapping"), mappingOf(7));
}

TEST(FunctionEvents, UnwindToAFrameNotOnTheStackIsFatal) {
  const Outcome o = runFresh(kEvents, {"missing"});
  EXPECT_EQ(o.result.exitCode, 1);
  EXPECT_EQ(o.result.err, "spec:0:0: error: Target frame not found while unwinding virtual stack");
  // A fatal exit runs no exit handler: the records written before it never
  // reach the file, and the stream is not finished.
  const proctest::Trace t = proctest::readTrace(o.runDir, 0);
  EXPECT_FALSE(t.complete);
  EXPECT_TRUE(t.bytes.empty());
}

TEST(FunctionEvents, ExitsBeyondTheBottomOfTheStackWriteNothing) {
  const Outcome o = runFresh(kEvents, {"unbalanced"});
  ASSERT_EQ(o.result.exitCode, 0) << o.result.err;
  EXPECT_EQ(o.result.err, "");
  const Bytes expected = header(true, true) + entry(kMain, 0) + entry(kUnbalancedScenario, kMain) +
                         kExit + kExit +  // its own frame, then main's
                         entry(kNest, kUnbalancedScenario) + kExit;
  EXPECT_EQ(completeTrace(o.runDir, 0), expected);
}

TEST(FunctionEvents, ReturnValuesBasicBlocksPrintedValuesAndCallbacks) {
  const Outcome o = runFresh(kEvents, {"records"});
  ASSERT_EQ(o.result.exitCode, 0) << o.result.err;
  EXPECT_EQ(o.result.out, "records\n");
  const Bytes callback = entry(kCallback, 0) + values({4}) + kExit;  // frame 4, entered from the library
  const Bytes expected =
      header(true, true) + entry(kMain, 0) + entry(kRecordsScenario, kMain) +
      // main's start: 1 (no locals), frame 1; this start: 1, frame 2; the current function
      values({1, 1, 1, 2, kRecordsScenario}) +
      entry(kNest, kRecordsScenario) + Bytes{0x28, 0xAC, 0x02} +
      Bytes{0x01, 0x0B, 0x81, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0x1F} +  // blocks 0, 5, 64, 2^32-1
      Bytes{0x02, 'a', 'b', 0x00} +                                 // "ab" and ""
      values({0, UINT64_MAX}) +
      entry(0, kRecordsScenario) + kExit +  // an address no binary registered
      callback + callback + kExit +         // the library call that ran them
      kExit + kExit;
  EXPECT_EQ(completeTrace(o.runDir, 0), expected);
}

// ---- Threads ----

const char kThreads[] = "threads_program";
constexpr uint64_t kThMain = 200, kWorker = 201, kLeaf = 202, kNestOuter = 203, kNestMiddle = 204,
                   kNestInner = 205, kBlocker = 206, kExiter = 207;
const Bytes kThreadsHeader = header(false, true);

TEST(Threads, EveryThreadGetsItsOwnNumberAndOneCompleteTrace) {
  constexpr int kWorkers = 6;
  const Outcome o = runFresh(kThreads, {"many", std::to_string(kWorkers)});
  ASSERT_EQ(o.result.exitCode, 0) << o.result.err;
  // main calls in first; the workers take 1..6 in whatever order they call in.
  EXPECT_EQ(traceFiles(o.runDir), traceFilesOf({0, 1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(completeTrace(o.runDir, 0), kThreadsHeader + entry(kThMain, 0) + kExit);
  std::set<int> indices;
  for (uint32_t thread = 1; thread <= kWorkers; ++thread) {
    const Bytes trace = completeTrace(o.runDir, thread);
    const int index = indexBetween(trace, kThreadsHeader + entry(kWorker, 0), entry(kLeaf, kWorker) + kExit + kExit);
    EXPECT_GE(index, 0) << traceName(thread) << " has an unexpected shape";
    indices.insert(index);
  }
  EXPECT_EQ(indices, (std::set<int>{0, 1, 2, 3, 4, 5}));
}

TEST(Threads, AThreadEndingThreeCallsDeepUnwindsThreeFrames) {
  const Outcome o = runFresh(kThreads, {"nested-exit"});
  ASSERT_EQ(o.result.exitCode, 0) << o.result.err;
  EXPECT_EQ(traceFiles(o.runDir), traceFilesOf({0, 1}));
  EXPECT_EQ(completeTrace(o.runDir, 1), kThreadsHeader + entry(kNestOuter, 0) + entry(kNestMiddle, kNestOuter) +
                                            entry(kNestInner, kNestMiddle) + repeat(kUnwind, 3));
  EXPECT_EQ(completeTrace(o.runDir, 0), kThreadsHeader + entry(kThMain, 0) + kExit);
}

TEST(Threads, ThreadsStillRunningAtExitAreFinishedWithoutUnwinding) {
  const Outcome o = runFresh(kThreads, {"blocked-at-exit"});
  ASSERT_EQ(o.result.exitCode, 0) << o.result.err;
  EXPECT_EQ(traceFiles(o.runDir), traceFilesOf({0, 1, 2}));
  EXPECT_EQ(completeTrace(o.runDir, 0), kThreadsHeader + entry(kThMain, 0));
  std::set<int> indices;
  for (uint32_t thread : {1u, 2u}) {
    const int index = indexBetween(completeTrace(o.runDir, thread),
                                   kThreadsHeader + entry(kBlocker, 0) + entry(kLeaf, kBlocker), {});
    EXPECT_GE(index, 0) << traceName(thread) << " has an unexpected shape";
    indices.insert(index);
  }
  EXPECT_EQ(indices, (std::set<int>{0, 1}));
}

TEST(Threads, ExitDoesNotWaitForThreadsThatNeverCalledIn) {
  const Outcome o = runFresh(kThreads, {"exit-waits"});
  ASSERT_EQ(o.result.signal, 0) << "the process hung at exit";
  ASSERT_EQ(o.result.exitCode, 0) << o.result.err;
  // Numbers 1 (created through the wrapper), 2 (named) and 3 (looked up by
  // the failed join) were given, but none of them ever opened a trace.
  EXPECT_EQ(traceFiles(o.runDir), traceFilesOf({0}));
  const Bytes expected = kThreadsHeader + entry(kThMain, 0) + Bytes{0x0C, 0x01} +
                         Bytes{0x02, 0x05, 'i', 'd', 'l', 'e', 'r'} + values({EINVAL});
  EXPECT_EQ(completeTrace(o.runDir, 0), expected);
}

TEST(Threads, TwoThreadsCallingExitTogetherLeaveCompleteTraces) {
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const Outcome o = runFresh(kThreads, {"two-exits"});
    ASSERT_EQ(o.result.signal, 0);
    ASSERT_EQ(o.result.exitCode, 0) << o.result.err;
    // main 0; the eight blocked threads 1..8 (indices 2..9); the exiters 9
    // and 10 (indices 0 and 1). The second exit must not end the process
    // before the first has finished every trace.
    EXPECT_EQ(traceFiles(o.runDir), traceFilesOf({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(completeTrace(o.runDir, 0), kThreadsHeader + entry(kThMain, 0));
    std::set<int> blocked;
    for (uint32_t thread = 1; thread <= 8; ++thread)
      blocked.insert(indexBetween(completeTrace(o.runDir, thread),
                                  kThreadsHeader + entry(kBlocker, 0) + entry(kLeaf, kBlocker), {}));
    EXPECT_EQ(blocked, (std::set<int>{2, 3, 4, 5, 6, 7, 8, 9}));
    std::set<int> exiters;
    for (uint32_t thread : {9u, 10u})
      exiters.insert(indexBetween(completeTrace(o.runDir, thread), kThreadsHeader + entry(kExiter, 0), {}));
    EXPECT_EQ(exiters, (std::set<int>{0, 1}));
    EXPECT_EQ(proctest::readFile(o.runDir + "/functionMapping"), mappingOf(8));
  }
}

// ---- Before start-up and after finalisation ----

const char kStartup[] = "threads_startup";
constexpr uint64_t kStMain = 200, kWaits = 204;

TEST(StartUp, CodeBeforeStartUpIsSuspendedThenTracedAndLateThreadsEnd) {
  const Outcome o = runFresh(kStartup, {});
  ASSERT_EQ(o.result.signal, 0);
  ASSERT_EQ(o.result.exitCode, 0) << o.result.err;
  EXPECT_EQ(o.result.out, "late thread: ended at its first call\n");
  // The late thread never got a number, let alone a trace.
  EXPECT_EQ(traceFiles(o.runDir), traceFilesOf({0, 1}));
  // Nothing of what ran before start-up is in the traces; the early start
  // hooks returned 0 and left their frame ids at 77.
  EXPECT_EQ(completeTrace(o.runDir, 0), header(true, true) + entry(kStMain, 0) + values({0, 77, 0}) + kExit);
  EXPECT_EQ(completeTrace(o.runDir, 1), header(true, true) + entry(kWaits, 0) + values({0, 77, 1}) + kExit);
}

}  // namespace
