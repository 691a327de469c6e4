// A hand-instrumented program ended by signals its own handlers could not
// or would not stop: each trace must be finished and exactly what its
// thread did, the crash file must describe the end, and the process must
// end by the signal. The design's handlers run first and see the default
// disposition where they would without profiling.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

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

}  // namespace
