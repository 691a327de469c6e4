// The runtime under trouble: a manifest or a trace that cannot be written,
// a process killed or aborted mid-run, a run directory removed under a
// running program, an unwritable profile directory and exhausted memory.
// Every case must end either as a complete run or with the runtime's
// message and status 1, and whatever reached the files must read back.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "process_support.h"

namespace {

const char kProgram[] = "fault_program";
constexpr uint64_t kMain = 200, kLeaf = 201;

std::string profile() { return proctest::profileDir(kProgram); }

proctest::RunResult runFresh(const std::vector<std::string>& args, const std::function<void()>& setup = {},
                             const std::string& cwd = "") {
  proctest::removeAll(profile());
  return proctest::run(proctest::programPath(kProgram), args, cwd.empty() ? proctest::scratchDir(kProgram) : cwd,
                       [setup] {
                         alarm(120);
                         if (setup) setup();
                       });
}

// Limits every file the child writes (its standard error included) to
// bytes; writes beyond fail with EFBIG instead of raising SIGXFSZ.
std::function<void()> fileSizeLimit(rlim_t bytes) {
  return [bytes] {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{bytes, bytes};
    setrlimit(RLIMIT_FSIZE, &limit);
  };
}

// The trace the program writes for n calls of the leaf, without the exit
// records of main; call i accesses element (i * 2654435761 mod 2^32) >> 7
// mod 64 of global 1.
std::vector<uint8_t> callsTrace(long n) {
  std::vector<uint8_t> t = proctest::uleb({24, 5, 26, 1, 1, 0, kMain, 0});
  for (long i = 0; i < n; ++i) {
    const uint64_t element = ((static_cast<uint32_t>(i) * 2654435761u) >> 7) % 64;
    for (uint64_t v : {uint64_t{0}, kLeaf, kMain, uint64_t{4}, uint64_t{1}, element * 4, uint64_t{2}})
      proctest::appendUleb(t, v);
  }
  return t;
}

bool isPrefix(const std::vector<uint8_t>& part, const std::vector<uint8_t>& whole) {
  return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

// ---- Manifest ----

std::string writeFailed(const std::string& runDir, const std::string& file) {
  return "spec:0:0: error: [TRACE] Could not write file '" + runDir + "/" + file + "': " + strerror(EFBIG) + "\n";
}

// A failed manifest write ends the run before the design starts: no trace
// is begun, and the file is named with the system error.
void expectManifestFailure(const proctest::RunResult& r, const std::string& file) {
  const std::string runDir = proctest::latestRunDir(profile());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, writeFailed(runDir, file));
  EXPECT_FALSE(proctest::exists(runDir + "/thread0000-trace.txt"));
}

TEST(ManifestWriteFailure, EachManifestFileIsCheckedBeforeTheDesignRuns) {
  constexpr rlim_t kLimit = 512;  // the fault program's function mapping is larger
  expectManifestFailure(runFresh({"events", "1"}, fileSizeLimit(kLimit)), "functionMapping");
  expectManifestFailure(runFresh({"events", std::string(kLimit + 1, 'x')}, fileSizeLimit(kLimit)), "commandline");
  // A working directory longer than the limit, in components a file name
  // may hold.
  std::string deep = proctest::scratchDir(std::string(kProgram) + "-deep");
  for (int i = 0; i < 3; ++i) deep += "/" + std::string(200, 'd');
  expectManifestFailure(runFresh({"events", "1"}, fileSizeLimit(kLimit), deep), "workingDirectory");
  // Without the limit the same run is complete.
  const proctest::RunResult ok = runFresh({"events", "1"});
  EXPECT_EQ(ok.exitCode, 0) << ok.err;
  EXPECT_EQ(ok.err, "");
}

// ---- Traces ----

// A trace that cannot be written ends the run with the printer's message,
// whether it fails at the close (small) or while draining (large); the
// part that reached the file reads back as a prefix.
TEST(TraceWriteFailure, SmallAndLargeTracesEndWithTheWriteFailureMessage) {
  // The manifest fits; 20,000 calls compress to some 13 KB, all written at
  // the close; 300,000 calls reach the first 64 KiB chunk mid-run.
  constexpr rlim_t kLimit = 2048;
  for (long calls : {20000L, 300000L}) {
    const proctest::RunResult r = runFresh({"events", std::to_string(calls)}, fileSizeLimit(kLimit));
    EXPECT_EQ(r.exitCode, 1) << calls;
    EXPECT_EQ(r.err, "spec:0:0: error: [TRACE] Trace buffer cannot be written to, exiting...5\n") << calls;
    const proctest::Trace t = proctest::readTrace(proctest::latestRunDir(profile()), 0);
    EXPECT_FALSE(t.complete);
    EXPECT_TRUE(isPrefix(t.bytes, callsTrace(calls))) << calls;
  }
}

// Killed mid-run: the trace holds the chunks written before the cut, reads
// back as an exact prefix and says it is incomplete. Aborted mid-run: the
// trace is finished to its last record first, and the crash file names the
// signal; the process still ends by the abort.
TEST(CutShort, KillLeavesAReadableIncompletePrefixAbortAFinishedTrace) {
  constexpr long kCalls = 400000;  // some 260 KB compressed: three whole chunks before the cut
  const proctest::RunResult killed = runFresh({"kill", std::to_string(kCalls)});
  EXPECT_EQ(killed.signal, SIGKILL);
  const proctest::Trace cut = proctest::readTrace(proctest::latestRunDir(profile()), 0);
  EXPECT_FALSE(cut.complete);
  EXPECT_GT(cut.bytes.size(), 64u * 1024);
  EXPECT_TRUE(isPrefix(cut.bytes, callsTrace(kCalls)));
  EXPECT_FALSE(proctest::exists(proctest::latestRunDir(profile()) + "/crash"));

  const proctest::RunResult aborted = runFresh({"abort", std::to_string(kCalls)});
  EXPECT_EQ(aborted.signal, SIGABRT);
  const std::string runDir = proctest::latestRunDir(profile());
  const proctest::Trace finished = proctest::readTrace(runDir, 0);
  EXPECT_TRUE(finished.complete);
  EXPECT_TRUE(finished.bytes == callsTrace(kCalls));
  const std::string crash = proctest::readFile(runDir + "/crash");
  EXPECT_EQ(crash.rfind("crash: 1\nsignal: 6 SIGABRT\ncode: -6 SI_TKILL\nsender: ", 0), 0u) << crash;
  EXPECT_NE(crash.find("\nthread: 0\ntrace 0: finished\nstack 0: " + std::to_string(kMain) + "\ndepth 0: 1\n"),
            std::string::npos)
      << crash;
}

// ---- Directories ----

// Open traces keep being written into the removed directory's files; the
// first trace opened afterwards cannot be, and ends the run with the
// open failure.
TEST(RunDirectoryRemoved, ANewTraceAfterwardsEndsTheRun) {
  const proctest::RunResult r = runFresh({"remove-run-dir", "1000"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err.rfind("spec:0:0: error: [TRACE] Trace file (" + profile() + "/app_0_0/thread0001-trace.txt", 0), 0u)
      << r.err;
}

TEST(ProfileDirectory, WithoutWritePermissionTheRunStopsBeforeTheDesign) {
  if (geteuid() == 0) GTEST_SKIP() << "running as root: permissions do not stop root";
  proctest::removeAll(profile());
  ASSERT_EQ(mkdir(profile().c_str(), 0500), 0);
  const proctest::RunResult r =
      proctest::run(proctest::programPath(kProgram), {"events", "1"}, proctest::scratchDir(kProgram));
  chmod(profile().c_str(), 0700);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("spec:0:0: error: [TRACE] Could not create directory '" + profile() + "/app_0_0'\n"),
            std::string::npos)
      << r.err;
}

// ---- Memory ----

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// With the address space nearly used up, the program's own allocations
// fail first or the runtime's do; the runtime's end the run with its
// out-of-memory message, never with a crash.
TEST(MemoryExhausted, TheRunEndsCleanlyOrWithTheOutOfMemoryMessage) {
  const proctest::RunResult r = runFresh({"exhaust"}, [] {
    const rlimit limit{256u << 20, 256u << 20};
    setrlimit(RLIMIT_AS, &limit);
  });
  EXPECT_EQ(r.signal, 0);
  if (r.exitCode == 0) {
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("exhausted after"), std::string::npos);
    EXPECT_TRUE(proctest::readTrace(proctest::latestRunDir(profile()), 0).complete);
  } else {
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Out of memory. Exiting ...\n"), std::string::npos) << r.err;
  }
}
#endif

}  // namespace
