// Heap churn: threads allocate, reallocate and free through the wrappers
// at once, under one shared malloc arena (so a block one thread releases
// is at once handed to another) and under the default allocator with more
// threads than arenas. Every thread's trace is replayed step by step: each
// block keeps its id through every reallocation, ids are never shared, and
// no warning is printed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "heap_churn_ops.h"
#include "stress_support.h"

namespace {

constexpr uint64_t kMain = 200, kWorker = 201;

// Checks the trace of the thread that ran sequence `index`; adds the ids it
// allocated to *ids (a repeated id fails).
struct Counts {
  long allocations = 0, reallocations = 0, releases = 0;
};

std::string checkWorker(const std::string& runDir, uint32_t thread, uint64_t index, long steps, bool mappings,
                        std::set<uint64_t>* ids, Counts* counts) {
  const proctest::Trace t = proctest::readTrace(runDir, thread);
  if (!t.complete) return stress::traceName(thread) + " is not a finished stream";
  stress::Reader r(t.bytes, stress::traceName(thread));
  stress::readHeader(r, true, true);
  r.expectAll({0, kWorker, 0}, "worker entry");
  heapchurn::Sequence sequence(index);
  uint64_t uid[heapchurn::kSlots] = {};
  uint64_t size[heapchurn::kSlots] = {};
  bool live[heapchurn::kSlots] = {};
  auto released = [&](int slot) {
    ++counts->releases;
    r.expectAll({10, size[slot], uid[slot]}, "free record (tag, size, block id)");
    live[slot] = false;
  };
  for (long i = 0; i < steps && r.ok(); ++i) {
    const heapchurn::Step s = sequence.next(live, mappings);
    switch (s.op) {
      case heapchurn::Op::Malloc: {
        ++counts->allocations;
        if (!r.expect(6, "allocation tag")) break;
        const auto id = r.next("block id");
        if (id && !ids->insert(*id).second) r.failHere("block id " + std::to_string(*id) + " handed out twice");
        r.expect(s.size, "allocation size");
        r.next("block address");
        uid[s.slot] = id.value_or(0);
        size[s.slot] = s.size;
        live[s.slot] = true;
        break;
      }
      case heapchurn::Op::Realloc:
        ++counts->reallocations;
        r.expectAll({8, uid[s.slot], s.size}, "reallocation record (tag, block id, size)");
        r.next("block address");
        size[s.slot] = s.size;
        break;
      case heapchurn::Op::ReallocToZero:
      case heapchurn::Op::Free:
        released(s.slot);
        break;
    }
  }
  for (int slot = 0; slot < heapchurn::kSlots; ++slot)
    if (live[slot]) released(slot);
  r.expect(2, "worker exit");
  r.expectEnd();
  return r.error();
}

void churn(int threads, long steps, bool oneArena, bool mappings = false) {
  const std::string program = "heap_churn";
  proctest::removeAll(proctest::profileDir(program));
  std::vector<std::string> args{std::to_string(threads), std::to_string(steps)};
  if (mappings) args.push_back("mmap");
  const proctest::RunResult result = proctest::run(
      proctest::programPath(program), args,
      proctest::scratchDir(program), [oneArena] {
        alarm(120);
        if (oneArena) setenv("GLIBC_TUNABLES", "glibc.malloc.arena_max=1", 1);
      });
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_TRUE(result.err.empty()) << result.err.substr(0, 600);
  const std::string runDir = proctest::latestRunDir(proctest::profileDir(program));
  const proctest::Trace main = proctest::readTrace(runDir, 0);
  EXPECT_TRUE(main.complete);
  EXPECT_EQ(main.bytes, proctest::uleb({24, 5, 26, 1, 1, 0, kMain, 0, 2}));
  std::set<uint64_t> ids;
  Counts counts;
  for (int t = 0; t < threads; ++t)
    EXPECT_EQ(checkWorker(runDir, static_cast<uint32_t>(t + 1), static_cast<uint64_t>(t), steps, mappings, &ids, &counts), "");
  printf("%d threads: %ld allocations, %ld reallocations, %ld releases\n", threads, counts.allocations,
         counts.reallocations, counts.releases);
  EXPECT_FALSE(proctest::exists(runDir + "/" + stress::traceName(static_cast<uint32_t>(threads + 1))));
}

// One arena: the address a reallocation gives up is the next one another
// thread's allocation receives, so any window in which the registry still
// holds the old block under its old address shows at once.
TEST(HeapChurn, OneArenaEveryBlockKeepsItsIdThroughEveryReallocation) {
  churn(4, stress::scaled(400000, 5000), true);
}

// The default allocator: threads share arenas once they outnumber them.
TEST(HeapChurn, MoreThreadsThanArenas) { churn(32, stress::scaled(25000, 500), false); }

// Unmapped pages go to the next mapping of any thread at once.
TEST(HeapChurn, MappingsKeepTheirIdsAcrossThreads) { churn(4, stress::scaled(100000, 5000), false, true); }

}  // namespace
