// Runs the allocation, string, I/O and semaphore scenarios of
// wrap_alloc_prog and compares the main thread's trace byte for byte with
// the records each wrapper call must leave.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "process_support.h"
#include "trace_expect.h"

using expect::Scenario;
using expect::Trace;

namespace {

constexpr char kProgram[] = "wrap_alloc_prog";

// Sanitizer allocators abort on impossible sizes unless told to fail the
// call the way the C library does.
void failHugeAllocations() {
  for (const char* variable : {"ASAN_OPTIONS", "TSAN_OPTIONS"}) {
    const char* old = getenv(variable);
    std::string value = old != nullptr ? std::string(old) + ":" : std::string();
    setenv(variable, (value + "allocator_may_return_null=1").c_str(), 1);
  }
}

// ... and they say so on standard error, which is the only output they add.
std::string withoutSanitizerWarnings(const std::string& err) {
  std::string kept;
  size_t start = 0;
  while (start < err.size()) {
    size_t end = err.find('\n', start);
    end = end == std::string::npos ? err.size() : end + 1;
    const std::string line = err.substr(start, end - start);
    if (!(line.rfind("==", 0) == 0 && line.find("Sanitizer failed to allocate") != std::string::npos)) kept += line;
    start = end;
  }
  return kept;
}

Scenario run(const std::string& scenario) {
  Scenario s = expect::runScenario(kProgram, scenario, failHugeAllocations);
  EXPECT_EQ(s.result.exitCode, 0) << s.result.err;
  EXPECT_EQ(withoutSanitizerWarnings(s.result.err), "");
  return s;
}

// Every scenario runs inside main, which starts as frame 1 with caller 0.
Trace mainStarted() {
  Trace t;
  t.entry(200, 0);
  return t;
}

}  // namespace

// malloc(0) is a block of size 0; pvalloc reports the whole pages it hands
// out; calloc the product of its arguments.
TEST(AllocationWrappers, ReportTheSizeTheBlockHas) {
  Scenario s = run("sizes");
  const uint64_t page = static_cast<uint64_t>(getpagesize());
  Trace t = mainStarted();
  t.alloc(1, 0, s.at["m0"]).alloc(2, page, s.at["pv1"]).alloc(3, page, s.at["pv2"]);
  t.alloc(4, 2 * page, s.at["pv3"]).alloc(5, 24, s.at["c"]);
  t.free(1, 0).free(2, page).free(3, page).free(4, 2 * page).free(5, 24).exit();
  expect::expectTrace(s.runDir, 0, t);
}

// realloc(NULL, n) is an allocation; realloc(p, n) moves the record and
// keeps its id; a failing realloc leaves the block registered and records
// nothing; realloc(p, 0) releases p before it is gone.
TEST(AllocationWrappers, ReallocInsertsMovesKeepsAndReleases) {
  Scenario s = run("realloc");
  EXPECT_TRUE(expect::hasLine(s.result.out, "huge null")) << s.result.out;
  Trace t = mainStarted();
  t.alloc(1, 16, s.at["a"]).realloc(1, 32, s.at["b"]);
  t.heap(1, 31);  // after the failed call: still block 1
  t.free(1, 32);
  if (s.at["zero"] != 0) t.alloc(2, 0, s.at["zero"]);  // a C library that returns a minimal block
  t.unknown();  // the released address belongs to nothing any more
  t.exit();
  expect::expectTrace(s.runDir, 0, t);
}

// A failed munmap keeps the mapping's block registered, a successful one
// releases it.
TEST(AllocationWrappers, MunmapReleasesOnlyWhenItSucceeds) {
  Scenario s = run("munmap");
  EXPECT_TRUE(expect::hasLine(s.result.out, "misaligned -1")) << s.result.out;
  EXPECT_TRUE(expect::hasLine(s.result.out, "whole 0")) << s.result.out;
  const uint64_t page = static_cast<uint64_t>(getpagesize());
  Trace t = mainStarted();
  t.alloc(1, 2 * page, s.at["map"]).heap(1, 5).free(1, 2 * page).unknown().exit();
  expect::expectTrace(s.runDir, 0, t);
}

// free(NULL) and delete of a null pointer leave no trace and no warning;
// new and delete of real blocks are tracked.
TEST(AllocationWrappers, NullReleasesAreSilentAndNewDeleteTracked) {
  Scenario s = run("release-null");
  Trace t = mainStarted();
  t.alloc(1, 24, s.at["single"]).free(1, 24).alloc(2, 40, s.at["array"]).free(2, 40).exit();
  expect::expectTrace(s.runDir, 0, t);
}

// The allocation failure of operator new reaches the caller as
// std::bad_alloc and takes no block id.
TEST(AllocationWrappers, NewFailurePropagatesBadAlloc) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizer runtimes replace operator new and end the process on an "
                  "impossible size instead of throwing";
#endif
  Scenario s = run("new-failure");
  EXPECT_TRUE(expect::hasLine(s.result.out, "bad_alloc")) << s.result.out;
  expect::expectTrace(s.runDir, 0, mainStarted().alloc(1, 8, s.at["after"]).exit());
}

TEST(AllocationWrappers, StringDuplicatesReportTheirCopies) {
  Scenario s = run("strings");
  EXPECT_TRUE(expect::hasLine(s.result.out, "contents abc|abc|ab")) << s.result.out;
  Trace t = mainStarted();
  t.alloc(1, 4, s.at["dup"]).alloc(2, 4, s.at["ndup"]).alloc(3, 3, s.at["ndup2"]);
  t.free(1, 4).free(2, 4).free(3, 3).exit();
  expect::expectTrace(s.runDir, 0, t);
}

// fread at the end of the file reports the buffer it was given (100 bytes)
// and returns the items it read.
TEST(IoWrappers, TransfersReportTheRequestedBlock) {
  Scenario s = run("io");
  EXPECT_TRUE(expect::hasLine(s.result.out, "items 2")) << s.result.out;
  EXPECT_TRUE(expect::hasLine(s.result.out, "written 2")) << s.result.out;
  EXPECT_EQ(proctest::readFile(s.cwd + "/output.dat"), "abcdefghij");
  Trace t = mainStarted();
  t.alloc(1, 100, s.at["buffer"]);
  t.heap(1, 0).size(100);  // fread(buffer, 10, 10)
  t.heap(1, 10).size(10);  // fwrite(buffer + 10, 5, 2)
  t.free(1, 100).exit();
  expect::expectTrace(s.runDir, 0, t);
}

// sem_open passes mode and value on with O_CREAT, reads nothing more
// without it, and reports each semaphore as a 32-byte block.
TEST(SemaphoreWrapper, PassesCreationArgumentsAndReportsTheSemaphore) {
  Scenario s = run("sem");
  EXPECT_TRUE(expect::hasLine(s.result.out, "value 3 mode 640")) << s.result.out;
  EXPECT_TRUE(expect::hasLine(s.result.out, "shared value 4")) << s.result.out;
  EXPECT_TRUE(expect::hasLine(s.result.out, "missing failed errno 2")) << s.result.out;
  expect::expectTrace(s.runDir, 0, mainStarted().alloc(1, 32, s.at["created"]).alloc(2, 32, s.at["opened"]).exit());
}

// A wrapper of a function the application does not bring is a fatal error
// with a message, not a call through a null pointer.
TEST(AllocationWrappers, MissingApplicationAllocatorIsFatal) {
  Scenario s = expect::runScenario(kProgram, "xmalloc");
  EXPECT_EQ(s.result.exitCode, 1);
  EXPECT_EQ(s.result.signal, 0);
  EXPECT_EQ(s.result.err, "spec:0:0: error: [WRAPPERS] 'xmalloc' is called but the application does not provide it\n");
}
