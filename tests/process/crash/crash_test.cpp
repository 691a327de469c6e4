// A hand-instrumented program ended by signals its own handlers could not
// or would not stop: each trace must be finished and exactly what its
// thread did, the crash file must describe the end, and the process must
// end by the signal. The design's handlers run first and see the default
// disposition where they would without profiling.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "process_support.h"

namespace {

const char kProgram[] = "crash_program";
constexpr uint64_t kMain = 200, kLeaf = 201, kWorker = 202;
constexpr long kCalls = 3000;  // more than one buffer of records

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitizerOwnsFaults = true;
#else
constexpr bool kSanitizerOwnsFaults = false;
#endif

std::string profile() { return proctest::profileDir(kProgram); }

proctest::RunResult runFresh(const std::vector<std::string>& args) {
  proctest::removeAll(profile());
  return proctest::run(proctest::programPath(kProgram), args, proctest::scratchDir(kProgram), [] { alarm(60); });
}

// Header, the entry of the thread's first function, and n calls of the
// leaf from it, each with its access to element i % 64 of global 1.
std::vector<uint8_t> traceOf(uint64_t function, long n) {
  std::vector<uint8_t> t = proctest::uleb({24, 5, 26, 1, 1, 0, function, 0});
  for (long i = 0; i < n; ++i)
    for (uint64_t v : {uint64_t{0}, kLeaf, function, uint64_t{4}, uint64_t{1}, uint64_t(i % 64) * 4, uint64_t{2}})
      proctest::appendUleb(t, v);
  return t;
}

void expectFinished(const std::string& runDir, uint32_t thread, const std::vector<uint8_t>& expected) {
  const proctest::Trace t = proctest::readTrace(runDir, thread);
  EXPECT_TRUE(t.complete) << "thread " << thread;
  EXPECT_TRUE(t.bytes == expected) << "thread " << thread << ": " << t.bytes.size() << " bytes, expected "
                                   << expected.size();
}

// The crash file without its stack-pointer line (an address of the run).
std::string crashFile(const std::string& runDir) {
  std::istringstream in(proctest::readFile(runDir + "/crash"));
  std::string kept;
  for (std::string line; std::getline(in, line);)
    if (line.rfind("stack-pointer: ", 0) != 0) kept += line + "\n";
  return kept;
}

TEST(OwnHandlers, AOneShotHandlerThatReturnsLeavesTheFaultToTheDefault) {
  if (kSanitizerOwnsFaults) GTEST_SKIP() << "the sanitizer handles SIGSEGV itself";
  const proctest::RunResult r = runFresh({"own-handler-once", std::to_string(kCalls)});
  EXPECT_EQ(r.signal, SIGSEGV);
  EXPECT_EQ(r.err, "default at start\nhandled\n");
  const std::string runDir = proctest::latestRunDir(profile());
  expectFinished(runDir, 0, traceOf(kMain, kCalls));
  EXPECT_EQ(crashFile(runDir),
            "crash: 1\nsignal: 11 SIGSEGV\ncode: 1 SEGV_MAPERR\nthread: 0\naddress: 0x0000000000000000\n"
            "variable: none\ntrace 0: finished\nstack 0: 200\ndepth 0: 1\n");
}

TEST(OwnHandlers, AHandlerThatRestoresTheDefaultAndRaisesAgain) {
  const proctest::RunResult r = runFresh({"own-handler-reraise", std::to_string(kCalls)});
  EXPECT_EQ(r.signal, SIGTERM);
  EXPECT_EQ(r.err, "default at start\ndefault before the handler\nrestored default over handler\n");
  const std::string runDir = proctest::latestRunDir(profile());
  expectFinished(runDir, 0, traceOf(kMain, kCalls));
  const std::string crash = crashFile(runDir);
  EXPECT_EQ(crash.rfind("crash: 1\nsignal: 15 SIGTERM\ncode: -6 SI_TKILL\nsender: ", 0), 0u) << crash;
  EXPECT_NE(crash.find("\nthread: 0\ntrace 0: finished\nstack 0: 200\ndepth 0: 1\n"), std::string::npos) << crash;
}

TEST(OwnHandlers, AbortAfterAHandlerThatReturns) {
  const proctest::RunResult r = runFresh({"abort-with-handler", std::to_string(kCalls)});
  EXPECT_EQ(r.signal, SIGABRT);
  EXPECT_EQ(r.err, "default at start\nhandled\n");
  const std::string runDir = proctest::latestRunDir(profile());
  expectFinished(runDir, 0, traceOf(kMain, kCalls));
  EXPECT_NE(crashFile(runDir).find("signal: 6 SIGABRT\n"), std::string::npos);
}

// Both workers raise at once: one finishes every trace while the other
// waits, and the process ends by the signal once.
TEST(TwoThreads, RaisingAtOnceFinishEveryTraceOnce) {
  const proctest::RunResult r = runFresh({"two-threads", std::to_string(kCalls)});
  EXPECT_EQ(r.signal, SIGTERM);
  const std::string runDir = proctest::latestRunDir(profile());
  expectFinished(runDir, 0, traceOf(kMain, 0));
  expectFinished(runDir, 1, traceOf(kWorker, kCalls));
  expectFinished(runDir, 2, traceOf(kWorker, kCalls));
  const std::string crash = crashFile(runDir);
  EXPECT_TRUE(crash.find("\nthread: 1\n") != std::string::npos || crash.find("\nthread: 2\n") != std::string::npos)
      << crash;
  EXPECT_NE(crash.find("\ntrace 0: finished\nstack 0: 200\ndepth 0: 1\ntrace 1: finished\nstack 1: 202\ndepth 1: 1\n"
                       "trace 2: finished\nstack 2: 202\ndepth 2: 1\n"),
            std::string::npos)
      << crash;
}

// A termination that reaches the thread while it writes a record waits for
// the record to end: the trace ends after a whole call, after its entry or
// after its access, never inside a record.
TEST(Termination, ATraceStoppedInALoopEndsAtARecordBoundary) {
  for (int round = 0; round < 5; ++round) {
    const proctest::RunResult r = runFresh({"stopped-in-a-loop"});
    EXPECT_EQ(r.signal, SIGTERM);
    const proctest::Trace t = proctest::readTrace(proctest::latestRunDir(profile()), 0);
    EXPECT_TRUE(t.complete);
    // The whole calls the trace starts with, call by call.
    std::vector<uint8_t> whole = traceOf(kMain, 0);
    long calls = 0;
    for (;; ++calls) {
      std::vector<uint8_t> call = proctest::uleb({0, kLeaf, kMain, 4, 1, uint64_t(calls % 64) * 4, 2});
      if (whole.size() + call.size() > t.bytes.size() ||
          !std::equal(call.begin(), call.end(), t.bytes.begin() + static_cast<long>(whole.size())))
        break;
      whole.insert(whole.end(), call.begin(), call.end());
    }
    ASSERT_GT(calls, 0);
    ASSERT_TRUE(std::equal(whole.begin(), whole.end(), t.bytes.begin()));
    const std::vector<uint8_t> rest(t.bytes.begin() + static_cast<long>(whole.size()), t.bytes.end());
    std::vector<uint8_t> entry = proctest::uleb({0, kLeaf, kMain});
    std::vector<uint8_t> access = entry;
    for (uint64_t v : {uint64_t{4}, uint64_t{1}, uint64_t(calls % 64) * 4}) proctest::appendUleb(access, v);
    EXPECT_TRUE(rest.empty() || rest == entry || rest == access) << rest.size() << " bytes after " << calls << " calls";
  }
}

// SIGKILL cannot be caught; the loss bound limits what it takes. Without
// it, everything after the last whole 64 KiB chunk of compressed output is
// lost; with 16 KiB, at most 16 KiB of records and the one buffer being
// filled. Ending normally, the bounded trace is as exact as any.
TEST(LossBound, SigkillLosesAtMostTheBoundOfRecords) {
  constexpr long kMany = 200000;  // 1.4 MB of records, some 130 KB compressed
  const std::vector<uint8_t> all = traceOf(kMain, kMany);
  for (const char* program : {"crash_program", "crash_program_flushed"}) {
    proctest::removeAll(proctest::profileDir(program));
    const proctest::RunResult r = proctest::run(proctest::programPath(program), {"kill", std::to_string(kMany)},
                                                proctest::scratchDir(program), [] { alarm(60); });
    EXPECT_EQ(r.signal, SIGKILL) << program;
    const proctest::Trace t = proctest::readTrace(proctest::latestRunDir(proctest::profileDir(program)), 0);
    EXPECT_FALSE(t.complete) << program;
    ASSERT_LE(t.bytes.size(), all.size()) << program;
    EXPECT_TRUE(std::equal(t.bytes.begin(), t.bytes.end(), all.begin())) << program;
    const size_t lost = all.size() - t.bytes.size();
    if (std::string(program) == "crash_program")
      EXPECT_GT(lost, 64u * 1024) << "without the bound a whole chunk's worth is expected to be lost";
    else
      EXPECT_LE(lost, 16u * 1024 + 5120) << program;
  }
  proctest::removeAll(proctest::profileDir("crash_program_flushed"));
  const proctest::RunResult r = proctest::run(proctest::programPath("crash_program_flushed"),
                                              {"events", std::to_string(kMany)}, proctest::scratchDir(kProgram));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::vector<uint8_t> complete = all;
  proctest::appendUleb(complete, 2);  // main's exit
  expectFinished(proctest::latestRunDir(proctest::profileDir("crash_program_flushed")), 0, complete);
}

}  // namespace
