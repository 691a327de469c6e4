// Runs each scenario of the access probe in its own process, once per trace
// configuration, and compares the main thread's trace byte for byte with
// the records rebuilt from what the program did and printed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "process_support.h"

using namespace proctest;

namespace {

constexpr uint64_t kMain = 200;
constexpr uint64_t kWorker = 202;

struct Build {
  const char* program;
  bool mem;     // memory accesses traced
  bool allocs;  // heap blocks traced
};

std::ostream& operator<<(std::ostream& os, const Build& b) { return os << b.program; }

// The records a trace must hold, appended in program order. Each helper
// leaves out what the build's trace modes leave out.
class Expected {
 public:
  explicit Expected(const Build& b) : b_(b) {
    bytes_ = {0x18, 0x05, 0x1A, static_cast<uint8_t>(b.mem), static_cast<uint8_t>(b.allocs)};
  }
  void entry(uint64_t fn) { values({0, fn, 0}); }
  void exit() { values({2}); }
  void local(uint64_t uid, uint64_t off) { access({3, uid, off}); }
  void arg(uint64_t uid, uint64_t frame, uint64_t off) { access({5, uid, frame, off}); }
  void global(uint64_t uid, uint64_t off) { access({4, uid, off}); }
  void unknown() { access({4, 0, 0}); }
  void remote(uint64_t uid, uint64_t fn, uint64_t thread, uint64_t off) { access({7, uid, fn, thread, off}); }
  // Without heap tracking no block is known, so the access is unknown.
  void heap(uint64_t uid, uint64_t off) { b_.allocs ? access({6, uid, off}) : unknown(); }
  void alloc(uint64_t uid, uint64_t size, uint64_t adr) { heapEvent({6, uid, size, adr}); }
  void realloc(uint64_t uid, uint64_t size, uint64_t adr) { heapEvent({8, uid, size, adr}); }
  void freed(uint64_t uid, uint64_t size) { heapEvent({10, size, uid}); }
  void vla(uint64_t size) { values({22, size}); }
  void blockSize(uint64_t size) { access({size}); }
  void offset(int64_t value) {
    if (b_.mem) appendSleb(bytes_, value);
  }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  void values(std::initializer_list<uint64_t> v) {
    for (uint64_t x : v) appendUleb(bytes_, x);
  }
  void access(std::initializer_list<uint64_t> v) {
    if (b_.mem) values(v);
  }
  void heapEvent(std::initializer_list<uint64_t> v) {
    if (b_.allocs) values(v);
  }
  Build b_;
  std::vector<uint8_t> bytes_;
};

std::string hex(const std::vector<uint8_t>& bytes) {
  std::string text;
  char byte[4];
  for (uint8_t b : bytes) {
    snprintf(byte, sizeof byte, "%02X ", b);
    text += byte;
  }
  return text;
}

// "name hex" lines of the program's standard output; names may repeat.
std::map<std::string, std::vector<uint64_t>> parsePrinted(const std::string& out) {
  std::map<std::string, std::vector<uint64_t>> printed;
  std::istringstream lines(out);
  std::string name, value;
  while (lines >> name >> value) printed[name].push_back(std::stoull(value, nullptr, 16));
  return printed;
}

std::string freeWarning(uint64_t adr) {
  char text[256];
  snprintf(text, sizeof text,
           "tracing:0:0: warning:  [MEMORY] Trying to free memory at %lx that has not been allocated or has "
           "already been freed. As a result, the memory profile might be invalid: function 200\n",
           static_cast<unsigned long>(adr));
  return text;
}

std::string reallocWarning(uint64_t adr) {
  char text[256];
  snprintf(text, sizeof text,
           "tracing:0:0: warning:  [MEMORY] Trying to reallocate memory at %lx that has not been allocated or "
           "has already been freed. As a result, the memory profile might be invalid: function 200\n",
           static_cast<unsigned long>(adr));
  return text;
}

struct ScenarioRun {
  RunResult result;
  std::map<std::string, std::vector<uint64_t>> printed;
  std::string runDir;

  uint64_t at(const std::string& name, size_t i = 0) const {
    auto it = printed.find(name);
    if (it == printed.end() || it->second.size() <= i) {
      ADD_FAILURE() << "the program did not print " << name;
      return 0;
    }
    return it->second[i];
  }
};

// A hung classification must not hang the suite: the alarm survives exec.
ScenarioRun runScenario(const char* program, const std::string& scenario) {
  removeAll(profileDir(program));
  ScenarioRun r;
  r.result = run(programPath(program), {scenario}, "", [] { alarm(30); });
  r.printed = parsePrinted(r.result.out);
  r.runDir = latestRunDir(profileDir(program));
  return r;
}

void expectTrace(const ScenarioRun& r, uint32_t thread, const Expected& e) {
  const Trace t = readTrace(r.runDir, thread);
  EXPECT_TRUE(t.complete) << "trace of thread " << thread << " is not finished";
  EXPECT_EQ(hex(t.bytes), hex(e.bytes())) << "thread " << thread;
}

void expectCleanExit(const ScenarioRun& r) {
  EXPECT_EQ(r.result.signal, 0);
  EXPECT_EQ(r.result.exitCode, 0);
}

class AccessProbe : public ::testing::TestWithParam<Build> {
 protected:
  ScenarioRun start(const std::string& scenario, Expected& e) {
    ScenarioRun r = runScenario(GetParam().program, scenario);
    expectCleanExit(r);
    e.entry(kMain);
    return r;
  }
};

TEST_P(AccessProbe, FramesOfTheThreadAndGlobals) {
  Expected e(GetParam());
  const ScenarioRun r = start("locals", e);
  EXPECT_EQ(r.result.err, "");
  EXPECT_EQ(r.printed.at("innerFrame"), (std::vector<uint64_t>{2, 2}));
  for (int call = 0; call < 2; ++call) {
    e.local(3, 1);
    e.arg(1, 1, 2);  // the caller's array, written by the callee
    e.arg(2, 1, 1);  // a gap of the callee falls through to the caller
    e.local(4, 1);
    e.unknown();  // the caller's top is outside the caller
    e.local(5, 5);
    e.unknown();  // the callee's top
    e.exit();
  }
  e.local(1, 2);
  e.unknown();  // between main's locals
  e.unknown();  // main's top
  e.global(7, 5);
  e.global(8, 7);
  e.exit();
  expectTrace(r, 0, e);
}

TEST_P(AccessProbe, HeapBlocksFromAllocationToRelease) {
  const Build& b = GetParam();
  Expected e(b);
  const ScenarioRun r = start("heap", e);
  const uint64_t p1 = r.at("p1"), p2 = r.at("p2"), guard = r.at("guard"), q = r.at("q");
  const uint64_t p3 = r.at("p3"), p4 = r.at("p4");
  ASSERT_NE(q, p2) << "the reallocation was expected to move the block";

  e.alloc(1, 100, p1);
  e.exit();
  e.alloc(2, 32, p2);
  e.exit();
  e.heap(1, 99);  // last byte
  e.unknown();    // one past it
  e.heap(1, 0);
  e.realloc(2, 4096, q);  // the id stays
  e.exit();
  e.heap(2, 4095);
  e.unknown();  // the old place
  e.freed(1, 100);
  e.exit();
  e.alloc(3, 8, p3);  // ids are not reused
  e.exit();
  if (p1 + 1 >= p3 && p1 + 1 < p3 + 8)
    e.heap(3, p1 + 1 - p3);
  else
    e.unknown();
  e.exit();  // second release of p1: a warning only
  e.exit();  // release of address 0: nothing
  e.exit();  // release of an untracked block: a warning only
  e.exit();  // reallocation of it: a warning only
  e.freed(3, 8);
  e.exit();
  e.alloc(4, 0, p4);
  e.exit();
  e.heap(4, 0);  // a block of size 0 covers one byte
  e.unknown();
  e.freed(2, 4096);
  e.exit();
  e.freed(4, 0);
  e.exit();
  e.exit();
  expectTrace(r, 0, e);

  // Without heap tracking nothing is registered, so nothing is unknown either.
  const std::string warnings = b.allocs ? freeWarning(p1) + freeWarning(guard) + reallocWarning(guard) : "";
  EXPECT_EQ(r.result.err, warnings);
}

TEST_P(AccessProbe, FreedBlocksBeyondTheArchiveAreReleased) {
  Expected e(GetParam());
  const ScenarioRun r = start("archive", e);
  EXPECT_EQ(r.result.err, "");
  const std::vector<uint64_t>& blocks = r.printed.count("b") ? r.printed.at("b") : std::vector<uint64_t>{};
  ASSERT_EQ(blocks.size(), 2100u);
  for (size_t i = 0; i < blocks.size(); ++i) {
    e.alloc(i + 1, 16, blocks[i]);
    e.freed(i + 1, 16);
  }
  e.alloc(2101, 24, r.at("last"));
  e.heap(2101, 23);
  e.freed(2101, 24);
  e.exit();
  expectTrace(r, 0, e);
}

TEST_P(AccessProbe, AnotherThreadsThreadLocalsAndLocals) {
  const Build& b = GetParam();
  Expected e(b);
  const ScenarioRun r = start("threads", e);
  EXPECT_EQ(r.result.err, "");
  e.global(9, 5);  // its instance of the thread-local
  e.global(9, 1);  // this thread's instance
  e.remote(1, kWorker, 1, 3);
  e.unknown();  // its stack, between its locals
  e.remote(2, kWorker, 1, 2);
  e.remote(3, kWorker, 1, 1);  // its array in an open scope
  e.unknown();  // after it finished
  e.unknown();
  e.exit();
  expectTrace(r, 0, e);

  Expected other(b);
  other.entry(kWorker);
  other.vla(8);
  other.exit();
  expectTrace(r, 1, other);
}

TEST_P(AccessProbe, ArraysAndByValueCopiesLiveInTheirScopes) {
  Expected e(GetParam());
  const ScenarioRun r = start("vla", e);
  EXPECT_EQ(r.result.err, "");
  e.vla(24);
  e.local(11, 5);
  e.unknown();  // one past the array
  e.vla(0);     // written although nothing is registered
  e.unknown();
  e.arg(11, 1, 22);  // read by a callee
  e.exit();
  e.unknown();  // after the scope closed
  e.local(13, 7);
  e.unknown();
  e.vla(8);
  e.vla(8);
  e.local(14, 3);  // found from the nested scope
  e.local(15, 1);
  e.unknown();
  e.local(14, 3);
  e.unknown();
  e.exit();
  expectTrace(r, 0, e);
}

TEST_P(AccessProbe, ArrayIdsInitialisedAgainInOneFrame) {
  Expected e(GetParam());
  const ScenarioRun r = start("reinit", e);
  ASSERT_EQ(r.result.signal, 0) << "the program hung or crashed";
  EXPECT_EQ(r.result.err, "");
  for (int round = 0; round < 2; ++round) {
    e.vla(8);
    e.vla(8);
    e.unknown();
    e.local(21, 1);
    e.local(22, 1);
  }
  for (int i = 0; i < 4; ++i) e.vla(8);
  e.unknown();  // 21 moved away
  e.local(21, 1);
  e.local(23, 1);
  e.local(22, 1);
  e.vla(8);
  e.local(23, 1);
  e.unknown();  // 23 moved into the nested scope
  e.local(21, 1);
  e.local(21, 1);
  e.local(22, 1);
  e.exit();
  expectTrace(r, 0, e);
}

TEST_P(AccessProbe, BlocksOffsetsAndUnknownAddresses) {
  Expected e(GetParam());
  const ScenarioRun r = start("block", e);
  EXPECT_EQ(r.result.err, "");
  e.local(1, 0);
  e.blockSize(16);
  e.global(7, 4);
  e.blockSize(12);
  e.unknown();  // a string literal
  e.blockSize(8);
  e.offset(-8);
  e.offset(200);
  e.unknown();
  e.exit();
  expectTrace(r, 0, e);
}

TEST_P(AccessProbe, CallsOutOfProtocolChangeNothing) {
  Expected e(GetParam());
  // Before main's frame exists: only the array record and the access.
  e.vla(8);
  e.unknown();
  const ScenarioRun r = start("protocol", e);
  EXPECT_EQ(r.result.err, "");
  e.unknown();     // a local registered without a layout being built
  e.unknown();     // a second layout for main is not installed
  e.local(1, 2);   // the first one still is
  e.vla(8);        // an array without a scope is recorded, not registered
  e.unknown();
  e.unknown();     // neither is a by-value copy
  e.vla(8);
  e.local(35, 1);  // the callee's own array
  e.exit();        // the callee returns with its scope open
  e.unknown();
  e.vla(8);
  e.local(36, 1);
  e.exit();
  expectTrace(r, 0, e);
}

INSTANTIATE_TEST_SUITE_P(Builds, AccessProbe,
                         ::testing::Values(Build{"access_probe", true, true},
                                           Build{"access_probe_no_mem", false, true},
                                           Build{"access_probe_no_allocs", true, false}),
                         [](const ::testing::TestParamInfo<Build>& info) {
                           return std::string(info.param.mem ? "" : "NoMem") +
                                  (info.param.allocs ? "" : "NoAllocs") +
                                  (info.param.mem && info.param.allocs ? "AllModes" : "");
                         });

TEST(AccessOverlap, NewcomersAreCutOrDroppedWithAWarning) {
  const ScenarioRun r = runScenario("access_overlap", "");
  expectCleanExit(r);
  EXPECT_EQ(r.result.err,
            "tracing:0:0: warning: Variables 2 and 1 partially overlap\n"
            "tracing:0:0: warning: Variables 3 and 1 partially overlap\n"
            "tracing:0:0: warning: Variables 4 and 5 partially overlap\n");
  Expected e(Build{"access_overlap", true, true});
  e.entry(kMain);
  e.global(1, 2);  // 3 was dropped
  e.global(1, 5);  // 1 keeps its bytes
  e.global(2, 1);  // 2 starts where 1 ends
  e.global(4, 1);
  e.global(5, 2);  // 4 ends where 5 starts
  e.exit();
  expectTrace(r, 0, e);
}

}  // namespace
