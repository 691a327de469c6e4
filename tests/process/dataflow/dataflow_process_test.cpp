// Runs the dataflow example several times and decodes the trace of each of
// its four threads against the records that thread produced. Each trace
// depends only on what its own thread did: the stages meet only through
// the streams and the bench, heap blocks are taken in an order the bench
// fixes (coefficients before the stages start, the filter's history in the
// filter), so whatever the interleaving the traces are the same, except for
// the heap addresses, which are matched as placeholders.
#include <gtest/gtest.h>

#include <pthread.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "process_support.h"
#include "trace_expect.h"

using expect::Trace;

namespace {

constexpr char kProgram[] = "dataflow_under_test";
constexpr int kSamples = 16;

// Function and variable ids of the example's stub.
enum : uint32_t { kMain = 200, kProducer, kFirStage, kConsumer, kChecksum, kParseHeader, kRejectHeader };
enum : uint32_t { kInFifo = 1, kOutFifo, kSignalsSeen, kItems, kHandles, kResults, kSample, kStageIn, kStageOut, kValue };

int32_t sample(int i) { return (i * 7) % 23 - 11; }

std::vector<int32_t> filtered() {
  std::vector<int32_t> y;
  int32_t x1 = 0, x2 = 0;
  for (int i = 0; i < kSamples; ++i) {
    const int32_t x = sample(i);
    y.push_back(3 * x - x1 + 2 * x2);
    x2 = x1;
    x1 = x;
  }
  return y;
}

uint32_t checksumOf(const std::vector<int32_t>& values) {
  uint32_t sum = 0;
  for (int32_t v : values) sum = sum * 31 + static_cast<uint32_t>(v);
  return sum;
}

std::string expectedConsole() {
  std::string text = "header 'XX16' rejected\n";
  const std::vector<int32_t> y = filtered();
  char line[64];
  for (int i = 0; i < kSamples; ++i) {
    snprintf(line, sizeof line, "y[%d] = %d\n", i, y[i]);
    text += line;
  }
  snprintf(line, sizeof line, "checksum %08x, completion signals 1\n", checksumOf(y));
  return text + line;
}

// A stream write reports the value, then the handle twice; a read the
// handle, the value, the handle. Handles are the channels' first members.
void write(Trace& t, uint32_t valueVar, uint32_t channel) {
  t.local(valueVar, 0).size(4).global(channel, 0).size(1).global(channel, 0).size(1);
}
void read(Trace& t, uint32_t channel, uint32_t valueVar) {
  t.global(channel, 0).size(1).local(valueVar, 0).size(4).global(channel, 0).size(1);
}

Trace mainTrace() {
  Trace t;
  t.entry(kMain, 0).string("dataflow");
  // The malformed header: two nested calls left by a non-local exit.
  t.entry(kParseHeader, kMain).entry(kRejectHeader, kParseHeader);
  t.u({18, 18, 20, 1});
  t.exit();  // printf
  t.entry(kParseHeader, kMain).exitWith(kSamples).u({kSamples});
  t.allocAt(1, 8, "coeffs").reallocAt(1, 12, "coeffs'");
  for (int k = 0; k < 3; ++k) t.heap(1, 4 * k);
  t.u({22, 4 * kSamples});  // the results array
  for (uint32_t n = 1; n <= 3; ++n) t.local(kHandles, 8 * (n - 1)).size(8).created(n);
  t.name(2, "fir-stage");
  t.joined(1).joined(2).joined(3);
  t.free(1, 12);
  t.entry(kChecksum, kMain);
  for (int i = 0; i < kSamples; ++i) t.u({2 * 2 + 1}).arg(kResults, 1, 4 * i);
  t.exitWith(checksumOf(filtered()));
  for (int i = 0; i <= kSamples; ++i) t.exit();  // printf
  t.exit();                                       // main returns
  return t;
}

Trace producerTrace() {
  Trace t;
  t.entry(kProducer, 0);
  for (int i = 0; i < kSamples; ++i) {
    t.u({2 * 1 + 1});
    write(t, kSample, kInFifo);
    t.global(kItems, 0);
  }
  return t.exit();
}

Trace firStageTrace() {
  Trace t;
  t.entry(kFirStage, 0).allocAt(2, 8, "history");
  for (int i = 0; i < kSamples; ++i) {
    read(t, kInFifo, kStageIn);
    t.heap(1, 0).heap(1, 4).heap(1, 8).heap(2, 0).heap(2, 4).s(4).s(0);
    write(t, kStageOut, kOutFifo);
    t.global(kItems, 0);
  }
  return t.free(2, 8).exit();
}

// The consumer stores into the bench's array: accesses to a local of
// another thread, whose frame 1 is main's.
Trace consumerTrace() {
  Trace t;
  t.entry(kConsumer, 0);
  for (int i = 0; i < kSamples; ++i) {
    read(t, kOutFifo, kValue);
    t.remote(kResults, kMain, 0, 4 * i).global(kItems, 0);
  }
  return t.exit().exit();  // raise (its handler leaves nothing), return
}

// The name lines of the example's registration routines: functions and
// globals once per run, the thread-local once (on the first thread), and
// the locals main and the stages register.
std::string expectedNames() {
  const std::string channel = std::to_string(sizeof(void*) + sizeof(pthread_mutex_t) + sizeof(pthread_cond_t));
  std::string text;
  const char* functions[] = {"main",        "producer",     "firStage", "consumer", "checksum",
                             "parseHeader", "rejectHeader", "onDone",   "printf",   "raise"};
  for (uint32_t id = kMain; id < kMain + 10; ++id)
    text += "function\tapp_0\t" + std::to_string(id) + "\t" + functions[id - kMain] + "\n";
  text += "global\tapp_0\t1\tgInFifo\t" + channel + "\t\t0\n";
  text += "global\tapp_0\t2\tgOutFifo\t" + channel + "\t\t0\n";
  text += "global\tapp_0\t3\tgSignalsSeen\t4\t\t0\n";
  text += "local\tapp_0\t200\t5\thandles\t" + std::to_string(3 * sizeof(pthread_t)) + "\n";
  text += "local\tapp_0\t200\t6\tresults\t0\n";  // a variable-length array
  text += "local\tapp_0\t201\t7\tsample\t4\n";
  text += "local\tapp_0\t202\t8\tx\t4\n";
  text += "local\tapp_0\t202\t9\ty\t4\n";
  text += "local\tapp_0\t203\t10\tvalue\t4\n";
  return text + "threadlocal\tapp_0\t4\ttItems\t4\t\t0\n";
}

}  // namespace

TEST(Dataflow, EveryThreadTracesExactlyWhatItDid) {
  const std::string profile = proctest::profileDir(kProgram);
  proctest::removeAll(profile);
  const std::string cwd = proctest::scratchDir("dataflow_under_test");
  const Trace expected[] = {mainTrace(), producerTrace(), firStageTrace(), consumerTrace()};
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE("run " + std::to_string(round));
    const proctest::RunResult r = proctest::run(proctest::programPath(kProgram), {}, cwd);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, expectedConsole());

    const std::string runDir = proctest::latestRunDir(profile);
    EXPECT_EQ(runDir, profile + "/app_0_" + std::to_string(round));
    EXPECT_EQ(proctest::readFile(runDir + "/globalVariableMapping"), expectedNames());
    std::map<std::string, uint64_t> addresses;
    for (uint32_t thread = 0; thread < 4; ++thread) {
      const proctest::Trace trace = proctest::readTrace(runDir, thread);
      EXPECT_TRUE(trace.complete) << "thread " << thread;
      EXPECT_EQ(expect::match(trace.bytes, expected[thread], &addresses), "")
          << "thread " << thread << ": " << expect::hex(trace.bytes);
    }
    EXPECT_FALSE(proctest::exists(runDir + "/thread0004-trace.txt"));
    // The coefficients moved or stayed, the history is a block of its own.
    EXPECT_NE(addresses["history"], addresses["coeffs'"]);
  }
}
