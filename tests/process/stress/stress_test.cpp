// Stress, each run checked record for record: many threads making function
// events and accesses at once, thousands of short-lived threads (with and
// without the thread wrappers, handles reused), fifty processes racing for
// run directories, and signals at a high rate into traced code.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "process_support.h"
#include "stress_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

const char kProgram[] = "stress_program";
constexpr uint64_t kMain = 200, kWorker = 201, kLeaf = 202, kChurnWorker = 204;

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const Bytes kHeader = proctest::uleb({24, 5, 26, 1, 1});
const Bytes kExit = proctest::uleb({2});
Bytes entry(uint64_t function, uint64_t caller) { return proctest::uleb({0, function, caller}); }

// n calls of the leaf from caller, each with its access to global 1.
Bytes calls(long n, uint64_t caller) {
  Bytes out;
  for (long i = 0; i < n; ++i) {
    for (uint64_t v : {uint64_t{0}, kLeaf, caller, uint64_t{4}, uint64_t{1}, static_cast<uint64_t>(i % 64) * 4, uint64_t{2}})
      proctest::appendUleb(out, v);
  }
  return out;
}

struct Outcome {
  proctest::RunResult result;
  std::string runDir;
};

Outcome runFresh(const std::vector<std::string>& args) {
  proctest::removeAll(proctest::profileDir(kProgram));
  Outcome r;
  r.result = proctest::run(proctest::programPath(kProgram), args, proctest::scratchDir(kProgram), [] { alarm(120); });
  r.runDir = proctest::latestRunDir(proctest::profileDir(kProgram));
  return r;
}

// The complete trace of thread, or a failure naming it.
::testing::AssertionResult traceIs(const std::string& runDir, uint32_t thread, const Bytes& expected) {
  const proctest::Trace t = proctest::readTrace(runDir, thread);
  if (!t.complete) return ::testing::AssertionFailure() << stress::traceName(thread) << " is not a finished stream";
  if (t.bytes == expected) return ::testing::AssertionSuccess();
  size_t at = 0;
  while (at < t.bytes.size() && at < expected.size() && t.bytes[at] == expected[at]) ++at;
  return ::testing::AssertionFailure() << stress::traceName(thread) << ": " << t.bytes.size() << " bytes, expected "
                                       << expected.size() << "; first difference at byte " << at;
}

TEST(Stress, ManyThreadsEachRecordInItsOwnTrace) {
  constexpr int kThreads = 32;
  const long n = stress::scaled(200000, 2000);
  const Outcome r = runFresh({"events", std::to_string(kThreads), std::to_string(n)});
  ASSERT_EQ(r.result.exitCode, 0) << r.result.err;
  EXPECT_EQ(r.result.err, "");
  EXPECT_TRUE(traceIs(r.runDir, 0, kHeader + entry(kMain, 0) + kExit));
  const Bytes worker = kHeader + entry(kWorker, 0) + calls(n, kWorker) + kExit;
  for (uint32_t t = 1; t <= kThreads; ++t) EXPECT_TRUE(traceIs(r.runDir, t, worker));
  EXPECT_FALSE(proctest::exists(r.runDir + "/" + stress::traceName(kThreads + 1)));
}

// Thread numbers are never reused though the system reuses the handles.
void churn(bool wrapped) {
  const int kThreads = static_cast<int>(stress::scaled(2000, 100));
  const Outcome r = runFresh({"churn", std::to_string(kThreads), wrapped ? "1" : "0"});
  ASSERT_EQ(r.result.exitCode, 0) << r.result.err;
  EXPECT_EQ(r.result.err, "");
  unsigned long handles = 0;
  ASSERT_EQ(sscanf(r.result.out.c_str(), "distinct handles %lu", &handles), 1) << r.result.out;
  EXPECT_LT(handles, static_cast<unsigned long>(kThreads));  // reused
  std::printf("%d threads, %lu distinct handles\n", kThreads, handles);
  const Bytes worker = kHeader + entry(kChurnWorker, 0) + entry(kLeaf, kChurnWorker) + kExit + kExit;
  for (uint32_t t = 1; t <= uint32_t(kThreads); ++t) ASSERT_TRUE(traceIs(r.runDir, t, worker));
  EXPECT_FALSE(proctest::exists(r.runDir + "/" + stress::traceName(uint32_t(kThreads) + 1)));
  Bytes main = kHeader + entry(kMain, 0);
  if (wrapped) {
    // Per batch of 8: the handle slot's report and the creation, then the joins.
    for (uint64_t first = 1; first <= uint64_t(kThreads); first += 8) {
      const uint64_t count = std::min<uint64_t>(8, uint64_t(kThreads) + 1 - first);
      for (uint64_t i = 0; i < count; ++i) main = main + proctest::uleb({4, 2, 8 * i, 8, 12, first + i});
      for (uint64_t i = 0; i < count; ++i) main = main + proctest::uleb({14, first + i});
    }
  }
  EXPECT_TRUE(traceIs(r.runDir, 0, main + kExit));
}

TEST(Stress, ThreadChurnWithoutTheWrappers) { churn(false); }
TEST(Stress, ThreadChurnThroughTheWrappers) { churn(true); }

// Processes started at the same moment each get their own run directory
// and a complete manifest.
TEST(Stress, ProcessesRacingForRunDirectories) {
  constexpr int kProcesses = 50;
  const std::string profile = proctest::profileDir(kProgram);
  proctest::removeAll(profile);
  const std::string cwd = proctest::scratchDir(kProgram);
  const std::string program = proctest::programPath(kProgram);
  int gate[2];
  ASSERT_EQ(pipe(gate), 0);
  std::vector<pid_t> children;
  for (int i = 0; i < kProcesses; ++i) {
    const pid_t pid = fork();
    if (pid == 0) {
      close(gate[1]);
      char c;
      if (read(gate[0], &c, 1) != 0) _exit(126);  // released when the gate closes
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      if (chdir(cwd.c_str()) != 0) _exit(126);
      alarm(60);
      execl(program.c_str(), program.c_str(), "events", "1", "100", static_cast<char*>(nullptr));
      _exit(127);
    }
    children.push_back(pid);
  }
  close(gate[0]);
  close(gate[1]);
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  const std::vector<std::string> dirs = proctest::runDirs(profile);
  ASSERT_EQ(dirs.size(), static_cast<size_t>(kProcesses));
  const std::string mapping = "200 app_0 200\n201 app_0 201\n202 app_0 202\n203 app_0 203\n204 app_0 204\n";
  const std::string commandline = "\"" + program + "\" \"events\" \"1\" \"100\"";
  for (int i = 0; i < kProcesses; ++i) {
    const std::string& dir = dirs[static_cast<size_t>(i)];
    EXPECT_EQ(dir, profile + "/app_0_" + std::to_string(i));  // numbers distinct, none skipped
    EXPECT_EQ(proctest::readFile(dir + "/workingDirectory"), cwd);
    EXPECT_EQ(proctest::readFile(dir + "/commandline"), commandline);
    EXPECT_EQ(proctest::readFile(dir + "/functionMapping"), mapping);
    EXPECT_EQ(proctest::readFile(dir + "/binaries"), "app_0\n");
    EXPECT_EQ(proctest::readFile(dir + "/lookupOrder"), "app_0\n");
    EXPECT_TRUE(proctest::exists(dir + "/globalVariableMapping"));
    EXPECT_TRUE(traceIs(dir, 0, kHeader + entry(kMain, 0) + kExit));
    EXPECT_TRUE(traceIs(dir, 1, kHeader + entry(kWorker, 0) + calls(100, kWorker) + kExit));
  }
}

// Handlers run with tracing suspended: whatever hooks they call, the
// interrupted thread's trace holds exactly its own records.
TEST(Stress, SignalsAtAHighRateIntoTracedCode) {
  const long n = stress::scaled(3000000, 100000);
  const Outcome r = runFresh({"signals", std::to_string(n)});
  ASSERT_EQ(r.result.exitCode, 0) << r.result.err;
  EXPECT_EQ(r.result.err, "");
  long handled = 0;
  ASSERT_EQ(sscanf(r.result.out.c_str(), "handled %ld", &handled), 1) << r.result.out;
  EXPECT_GT(handled, stress::scaled(1000)) << r.result.out;
  std::printf("%ld signals handled during %ld calls\n", handled, n);
  EXPECT_TRUE(traceIs(r.runDir, 0, kHeader + entry(kMain, 0) + calls(n, kMain) + kExit));
  EXPECT_FALSE(proctest::exists(r.runDir + "/" + stress::traceName(1)));
}

}  // namespace
