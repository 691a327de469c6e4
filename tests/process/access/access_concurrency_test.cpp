// Runs the stress program and walks every worker's trace record by record.
// Accesses whose target another thread changes meanwhile may land on either
// of two answers; everything a worker owns must come out exactly.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "process_support.h"

using namespace proctest;

namespace {

constexpr int kWorkers = 4;
constexpr int kIterations = 300;
constexpr uint64_t kWorkerFn = 201;

class Cursor {
 public:
  explicit Cursor(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
  uint64_t next() {
    uint64_t value = 0;
    for (int shift = 0; pos_ < bytes_.size(); shift += 7) {
      const uint8_t b = bytes_[pos_++];
      if (shift < 64) value |= static_cast<uint64_t>(b & 0x7F) << shift;
      if ((b & 0x80) == 0) return value;
    }
    truncated_ = true;
    return UINT64_MAX;
  }
  uint64_t peek() {
    const size_t saved = pos_;
    const uint64_t value = next();
    pos_ = saved;
    return value;
  }
  // Reads values that must be exactly these.
  bool take(std::initializer_list<uint64_t> values) {
    for (uint64_t v : values)
      if (next() != v) return false;
    return true;
  }
  bool atEnd() const { return pos_ == bytes_.size(); }
  size_t pos() const { return pos_; }

 private:
  const std::vector<uint8_t>& bytes_;
  size_t pos_ = 0;
  bool truncated_ = false;
};

struct Walk {
  std::string failure;  // empty when the trace is as expected
  std::vector<uint64_t> heapIds;
};

// The records of one worker after its index value, as the program's fixed
// sequence produces them.
Walk walkRounds(Cursor& c, int w, const std::map<int, uint64_t>& threadOf) {
  Walk walk;
  auto fail = [&](int i, const char* what) {
    walk.failure = "worker " + std::to_string(w) + ", round " + std::to_string(i) + ": " + what +
                   " (byte " + std::to_string(c.pos()) + ")";
    return walk;
  };
  uint64_t lastId = 0;
  for (int i = 0; i < kIterations; ++i) {
    const uint64_t size = 16 + static_cast<uint64_t>(i % 8) * 8;
    const int o = (w + 1 + i % (kWorkers - 1)) % kWorkers;
    const uint64_t other = threadOf.at(o);

    if (c.next() != 6) return fail(i, "allocation record");
    const uint64_t id = c.next();
    if (id <= lastId) return fail(i, "heap ids of one thread must increase");
    lastId = id;
    walk.heapIds.push_back(id);
    if (c.next() != size) return fail(i, "allocation size");
    c.next();  // address
    if (!c.take({2})) return fail(i, "exit of malloc");
    if (!c.take({6, id, size - 1})) return fail(i, "access to the own block");

    const uint64_t kind = c.next();  // another worker's block, maybe gone
    if (kind == 6) {
      c.next();
      c.next();
    } else if (kind != 4 || !c.take({0, 0})) {
      return fail(i, "access to another worker's block");
    }
    if (!c.take({7, 1, kWorkerFn, other, 5})) return fail(i, "another worker's local");
    if (!c.take({4, 0, 0})) return fail(i, "a gap in another worker's frame");
    if (!c.take({4, 9, 3})) return fail(i, "another worker's thread-local");

    if (!c.take({22, 16})) return fail(i, "array record");
    if (!c.take({3, 3, 15})) return fail(i, "access to the own array");
    if (c.peek() == 7) {
      if (!c.take({7, 3, kWorkerFn, other, 2})) return fail(i, "another worker's array");
    } else if (!c.take({4, 0, 0})) {
      return fail(i, "another worker's array, out of scope");
    }

    uint64_t current = size;
    if (i % 3 == 0) {
      current = size * 2;
      if (!c.take({8, id, current})) return fail(i, "reallocation record");
      c.next();  // new address
      if (!c.take({2})) return fail(i, "exit of realloc");
      if (!c.take({6, id, current - 1})) return fail(i, "access to the grown block");
    }
    if (!c.take({10, current, id})) return fail(i, "free record");
    if (!c.take({2})) return fail(i, "exit of free");
  }
  return walk;
}

// Rounds of one access per worker, then main's exit. A worker's local is
// found while the worker runs and unknown from some round on, for good.
std::string walkMainThread(const std::vector<uint8_t>& bytes, const std::map<int, uint64_t>& threadOf) {
  Cursor c(bytes);
  if (!c.take({24, 5, 26, 1, 1, 0, 200, 0})) return "header or entry of main";
  bool gone[kWorkers] = {};
  int rounds = 0;
  while (c.peek() != 2) {
    for (int w = 0; w < kWorkers; ++w) {
      const uint64_t kind = c.next();
      if (kind == 7 && !gone[w]) {
        if (!c.take({1, kWorkerFn, threadOf.at(w), 5})) return "remote record of worker " + std::to_string(w);
      } else if (kind == 4 && c.take({0, 0})) {
        gone[w] = true;
      } else {
        return "round " + std::to_string(rounds) + ", worker " + std::to_string(w) + ": unexpected record";
      }
    }
    ++rounds;
  }
  if (!c.take({2}) || !c.atEnd()) return "main's exit ends the trace";
  for (bool g : gone)
    if (!g) return "a worker's local was still found after it was joined";
  return "";
}

TEST(AccessConcurrency, ThreadsClassifyEachOthersBlocksLocalsAndThreadLocals) {
  const std::string program = "access_stress";
  removeAll(profileDir(program));
  const RunResult result = run(programPath(program), {}, "", [] { alarm(300); });
  ASSERT_EQ(result.signal, 0);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.err, "");  // no warning, no sanitizer report
  const std::string runDir = latestRunDir(profileDir(program));

  // Workers take thread numbers 1 to 4 in the order they first call in;
  // each names its index right after its entry record.
  std::vector<Trace> traces(kWorkers + 1);
  std::map<int, uint64_t> threadOf;
  std::map<uint64_t, int> workerOf;
  for (uint32_t t = 1; t <= kWorkers; ++t) {
    traces[t] = readTrace(runDir, t);
    EXPECT_TRUE(traces[t].complete) << "thread " << t;
    Cursor c(traces[t].bytes);
    ASSERT_TRUE(c.take({24, 5, 26, 1, 1, 0, kWorkerFn, 0})) << "thread " << t;
    const uint64_t w = c.next();
    ASSERT_LT(w, static_cast<uint64_t>(kWorkers));
    ASSERT_EQ(threadOf.count(static_cast<int>(w)), 0u);
    threadOf[static_cast<int>(w)] = t;
    workerOf[t] = static_cast<int>(w);
  }

  const Trace mainTrace = readTrace(runDir, 0);
  EXPECT_TRUE(mainTrace.complete);
  EXPECT_EQ(walkMainThread(mainTrace.bytes, threadOf), "");

  std::set<uint64_t> ids;
  for (uint32_t t = 1; t <= kWorkers; ++t) {
    Cursor c(traces[t].bytes);
    c.take({24, 5, 26, 1, 1, 0, kWorkerFn, 0});
    c.next();
    const Walk walk = walkRounds(c, workerOf[t], threadOf);
    EXPECT_EQ(walk.failure, "") << "thread " << t;
    if (!walk.failure.empty()) continue;
    EXPECT_TRUE(c.take({2}) && c.atEnd()) << "thread " << t << ": the worker's exit ends the trace";
    ids.insert(walk.heapIds.begin(), walk.heapIds.end());
  }
  // Ids are unique across threads and none is skipped.
  EXPECT_EQ(ids.size(), static_cast<size_t>(kWorkers * kIterations));
  if (!ids.empty()) {
    EXPECT_EQ(*ids.begin(), 1u);
    EXPECT_EQ(*ids.rbegin(), static_cast<uint64_t>(kWorkers * kIterations));
  }
}

}  // namespace
