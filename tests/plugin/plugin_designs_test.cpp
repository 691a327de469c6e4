// The shipped designs built from their plain sources through the plugin,
// and the filter-bank design. Each must print what the hand-instrumented
// simulation prints, write the same data files and a complete run
// directory, and its traces must be what the program did.
//
// Where the plugin's traces differ from the hand-instrumented ones, by its
// rules:
//  - loads are reported as well as stores, each as a named access record;
//    the hand-instrumented design wrote bare store offsets instead, which
//    no reader can place without the program;
//  - every call writes an entry record, library calls included (the hand-
//    instrumented bench announced library calls without one, and its
//    design wrote five call events that the plain design does not make);
//  - pointers handed to library functions are reported only with the
//    library-pointer option, and then as the variables they point into.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>

#include "expected_records.h"
#include "plugin_run.h"
#include "vendel_expect.h"

using plugintest::PluginRun;
using plugintest::Records;

namespace {

// ---------------------------------------------------------------- vendel


void expectVendelOutputs(const PluginRun& run) {
  ASSERT_EQ(run.result.exitCode, 0) << run.result.err;
  EXPECT_EQ(run.result.err, "");
  EXPECT_EQ(run.result.out, proctest::vendelConsole());
  EXPECT_EQ(proctest::readFile(run.cwd + "/inA.dat"), proctest::vendelDataFile(0));
  EXPECT_EQ(proctest::readFile(run.cwd + "/inB.dat"), proctest::vendelDataFile(1));
  EXPECT_EQ(proctest::readFile(run.cwd + "/out_vendel.dat"), proctest::vendelDataFile(2));
}

// A complete run directory: manifest files, and every function of the
// mapping named.
void expectCompleteRunDirectory(const PluginRun& run, const std::string& program) {
  EXPECT_EQ(proctest::readFile(run.runDir + "/workingDirectory"), run.cwd);
  EXPECT_EQ(proctest::readFile(run.runDir + "/commandline"), "\"" + plugintest::programPath(program) + "\"");
  EXPECT_EQ(proctest::readFile(run.runDir + "/binaries"), "app_0\n");
  EXPECT_EQ(proctest::readFile(run.runDir + "/lookupOrder"), "app_0\n");
  EXPECT_FALSE(run.names.run->functionMapping.empty());
  for (const tracereader::FunctionMapping& f : run.names.run->functionMapping)
    EXPECT_NE(run.names.index->functionName(f.linkedId), "") << "function " << f.staticId << " has no name line";
}

const std::string kOpen = "(anonymous namespace)::openDataFile(char const*)";
const std::string kWrite = "(anonymous namespace)::writeValue(_IO_FILE*, int)";
const std::string kClose = "(anonymous namespace)::closeDataFile(_IO_FILE*)";
const std::string kVendel = "vendel(short*, short*, int*)";

// The unoptimised build: every read and write of the source, in order.
Records vendelTrace() {
  Records r;
  r.enter("main", "-").local("main::retval");
  auto loop = [&](int trips, auto body) {
    r.local("main::i");
    for (int i = 0; i <= trips; ++i) {
      r.local("main::i");
      if (i == trips) break;
      body(i);
      r.local("main::i").local("main::i");
    }
  };
  loop(512, [&](int i) {
    r.local("main::i").local("main::i").local("main::sigA", 2 * i);
    r.local("main::i").local("main::i").local("main::sigB", 2 * i);
  });

  const std::string v = kVendel + "::";
  r.enter(kVendel, "main").local(v + "sigA").local(v + "sigB").local(v + "energy");
  r.local(v + "i");
  for (int i = 0; i <= 512; i += 4) {
    r.local(v + "i");
    if (i == 512) break;
    r.local(v + "sum").local(v + "j");
    for (int j = 0; j <= 4; ++j) {
      r.local(v + "j");
      if (j == 4) break;
      r.local(v + "sigA").local(v + "i").local(v + "j").outer("main::sigA", 1, 2 * (i + j));
      r.local(v + "sigB").local(v + "i").local(v + "j").outer("main::sigB", 1, 2 * (i + j));
      r.local(v + "diff").local(v + "diff").local(v + "diff").local(v + "sum").local(v + "sum");
      r.local(v + "j").local(v + "j");
    }
    r.local(v + "sum").local(v + "energy").local(v + "i").outer("main::energy", 1, i);
    r.local(v + "i").local(v + "i");
  }
  r.exit();

  for (const char* file : {"inA", "inB", "out"}) {
    r.enter(kOpen, "main").local(kOpen + "::name").local(kOpen + "::name").call("fopen", kOpen);
    r.local(kOpen + "::stream").local(kOpen + "::stream").local(kOpen + "::stream").exit();
    r.local(std::string("main::") + file);
  }
  auto writeValue = [&](const std::string& stream, const std::string& array, int offset) {
    r.local(stream).local("main::i").local(array, offset);
    r.enter(kWrite, "main").local(kWrite + "::stream").local(kWrite + "::value").local(kWrite + "::stream");
    r.local(kWrite + "::stream").local(kWrite + "::value").call("fprintf", kWrite).exit();
  };
  loop(512, [&](int i) {
    writeValue("main::inA", "main::sigA", 2 * i);
    writeValue("main::inB", "main::sigB", 2 * i);
  });
  loop(128, [&](int i) { writeValue("main::out", "main::energy", 4 * i); });
  for (const char* file : {"inA", "inB", "out"}) {
    r.local(std::string("main::") + file).enter(kClose, "main").local(kClose + "::stream").local(kClose + "::stream");
    r.local(kClose + "::stream").call("fclose", kClose).exit();
  }
  loop(128, [&](int i) { r.local("main::i").local("main::i").local("main::energy", 4 * i).call("printf", "main"); });
  return r.exit();
}

TEST(PlainVendel, UnoptimisedBuildPrintsWritesAndTracesExactlyWhatItDid) {
  const PluginRun run = plugintest::runProgram("plain_vendel_O0");
  expectVendelOutputs(run);
  expectCompleteRunDirectory(run, "plain_vendel_O0");
  plugintest::expectWellFormed(run);
  ASSERT_EQ(run.threads.size(), 1u);
  if (!plugintest::kExactSequences) GTEST_SKIP() << "sanitizer build: the generated code differs";
  EXPECT_EQ(plugintest::match(run.threads[0].records, vendelTrace()), "");
}

// Optimised, the design reads both signals and writes every window of
// main's energy array through its pointer arguments, and nothing else.
TEST(PlainVendel, OptimisedBuildKeepsCallsAndTouchesOnlyTheSignalsAndEnergies) {
  const PluginRun o0 = plugintest::runProgram("plain_vendel_O0");
  const PluginRun o2 = plugintest::runProgram("plain_vendel_O2");
  expectVendelOutputs(o2);
  plugintest::expectWellFormed(o2);
  plugintest::expectSameObservableBehaviour(o0, o2, {"fopen", "fprintf", "fclose", "printf", kVendel});
  const std::vector<std::string>& records = o2.threads[0].records;
  const auto enter = std::find(records.begin(), records.end(), "enter " + kVendel + " from main");
  ASSERT_NE(enter, records.end());
  std::set<std::string> arrays;
  uint64_t highestEnergyOffset = 0;
  for (auto it = enter + 1; it != records.end() && *it != "exit"; ++it) {
    ASSERT_EQ(it->rfind("outer main::", 0), 0u) << *it;
    const std::string array = it->substr(6, it->find(' ', 6) - 6);
    arrays.insert(array);
    const uint64_t offset = std::stoull(it->substr(it->rfind('+') + 1));
    EXPECT_LT(offset, array == "main::energy" ? 512u : 1024u) << *it;
    if (array == "main::energy") highestEnergyOffset = std::max(highestEnergyOffset, offset);
  }
  EXPECT_EQ(arrays, (std::set<std::string>{"main::sigA", "main::sigB", "main::energy"}));
  EXPECT_GE(highestEnergyOffset, 496u) << "the last windows are written";
}

// With the library-pointer option every pointer handed to the C library is
// reported before the call, as the hand-instrumented bench reports it: the
// stream (a C library block, unknown) and the bench's static format.
TEST(PlainVendel, LibraryPointerOptionReportsWhatTheLibraryIsHanded) {
  const PluginRun run = plugintest::runProgram("plain_vendel_libargs_O2");
  expectVendelOutputs(run);
  plugintest::expectWellFormed(run);
  const std::vector<std::string>& r = run.threads[0].records;
  int fprintfCalls = 0;
  for (size_t i = 0; i < r.size(); ++i) {
    if (r[i].rfind("enter fprintf from", 0) != 0) continue;
    ++fprintfCalls;
    ASSERT_GE(i, 2u);
    EXPECT_EQ(r[i - 2], "unknown") << "record " << i;
    EXPECT_EQ(r[i - 1], "global " + kWrite + "::format +0") << "record " << i;
  }
  EXPECT_EQ(fprintfCalls, 1152);
}

// -------------------------------------------------------------- dataflow

constexpr int kSamples = 16;

int32_t sampleAt(int i) { return (i * 7) % 23 - 11; }

std::string dataflowConsole() {
  std::string text = "header 'XX16' rejected\n";
  int32_t x1 = 0, x2 = 0;
  uint32_t sum = 0;
  char line[64];
  for (int i = 0; i < kSamples; ++i) {
    const int32_t x = sampleAt(i);
    const int32_t y = 3 * x - x1 + 2 * x2;
    x2 = x1;
    x1 = x;
    sum = sum * 31 + static_cast<uint32_t>(y);
    snprintf(line, sizeof line, "y[%d] = %d\n", i, y);
    text += line;
  }
  snprintf(line, sizeof line, "checksum %08x, completion signals 1\n", sum);
  return text + line;
}

const std::string kPush = "(anonymous namespace)::push(Channel*, int const*)";
const std::string kPop = "(anonymous namespace)::pop(Channel*, int*)";
const std::string kCount = "(anonymous namespace)::countItem()";
const std::string kParse = "parseHeader(char const*)";
const std::string kReject = "rejectHeader(char const*)";
const std::string kChecksum = "checksum(int const*, int)";

// push(channel, &value) from `caller`, whose frame (depth 1) holds value.
void push(Records& r, const std::string& caller, const std::string& value, const std::string& fifo) {
  const std::string p = kPush + "::";
  r.enter(kPush, caller).local(p + "channel").local(p + "value").local(p + "channel").call("pthread_mutex_lock", kPush);
  r.local(p + "channel").local(p + "value");
  r.enter("nuq_hls_stream_blocking_write", kPush).outer(value, 1).size(4).global(fifo).size(1).global(fifo).size(1).exit();
  r.local(p + "channel").call("pthread_cond_signal", kPush).local(p + "channel").call("pthread_mutex_unlock", kPush);
  r.exit();
}

// pop(channel, &value); the reader may wait any number of times.
void pop(Records& r, const std::string& caller, const std::string& value, const std::string& fifo) {
  const std::string p = kPop + "::";
  Records wait;
  wait.local(p + "channel").local(p + "channel").call("pthread_cond_wait", kPop);
  wait.local(p + "channel").global(fifo).call("nuq_hls_stream_empty", kPop);
  r.enter(kPop, caller).local(p + "channel").local(p + "value").local(p + "channel").call("pthread_mutex_lock", kPop);
  r.local(p + "channel").global(fifo).call("nuq_hls_stream_empty", kPop).repeated(wait);
  r.local(p + "channel").local(p + "value");
  r.enter("nuq_hls_stream_blocking_read", kPop).global(fifo).size(1).outer(value, 1).size(4).global(fifo).size(1).exit();
  r.local(p + "channel").call("pthread_mutex_unlock", kPop).exit();
}

void countItem(Records& r, const std::string& caller) { r.enter(kCount, caller).global("tItems").global("tItems").exit(); }

template <typename Body>
void loop(Records& r, const std::string& i, const std::string& bound, int trips, Body body) {
  r.local(i);
  for (int k = 0; k <= trips; ++k) {
    r.local(i);
    if (!bound.empty()) r.local(bound);
    if (k == trips) break;
    body(k);
    r.local(i).local(i);
  }
}

void parseHeader(Records& r, bool rejected) {
  r.enter(kParse, "main").local(kParse + "::header").local(kParse + "::header").call("strncmp", kParse);
  if (rejected) {
    // rejectHeader leaves by a long jump back into main: the jump, the
    // rejecting and the parsing frames are abandoned.
    r.local(kParse + "::header").enter(kReject, kParse).local(kReject + "::.addr").enter("longjmp", kReject);
    r.unwind(3, 1);
    return;
  }
  r.local(kParse + "::header").call("atoi", kParse).exit();
}

Records dataflowMain() {
  Records r;
  r.enter("main", "-").local("main::retval").local("main::malformed").local("main::malformed");
  parseHeader(r, true);
  r.local("main::malformed").call("printf", "main");
  parseHeader(r, false);
  r.local("main::samples").local("main::samples");
  r.enter("malloc", "main").alloc(1, 8).exit().local("main::coeffs");
  r.local("main::coeffs").enter("realloc", "main").realloc(1, 12).exit().local("main::coeffs");
  r.enter("memcpy", "main").outer("main::taps", 1).size(12).unknown().size(12).exit();
  loop(r, "main::k", "", 3, [&](int k) {
    r.local("main::k").local("main::taps", 4 * k).local("main::coeffs").local("main::k").heap(1, 4 * k);
  });
  r.local("main::samples").local("main::saved_stack").vla(4 * kSamples).local("main::__vla_expr0");
  r.call("nuq_hls_stream_create", "main").global("gInFifo").call("nuq_hls_stream_create", "main").global("gOutFifo");
  r.call("signal", "main");
  r.local("main::coeffs").local("main::stageArgs").local("main::consumerArgs");
  for (uint32_t t = 1; t <= 3; ++t)
    r.enter("pthread_create", "main").outer("main::handles", 1, 8 * (t - 1)).size(8).created(t).exit();
  r.local("main::handles", 8).enter("pthread_setname_np", "main").line("name 2 fir-stage").exit();
  // for (pthread_t handle : handles): the range, its begin and end.
  r.local("main::__range1").local("main::__range1").local("main::__begin1").local("main::__range1").local("main::__end1");
  for (uint32_t t = 1; t <= 4; ++t) {
    r.local("main::__begin1").local("main::__end1");
    if (t == 4) break;
    r.local("main::__begin1").local("main::handles", 8 * (t - 1)).local("main::handle").local("main::handle");
    r.enter("pthread_join", "main").joined(t).exit();
    r.local("main::__begin1").local("main::__begin1");
  }
  r.local("main::coeffs").enter("free", "main").free(1, 12).exit();
  r.local("main::samples").enter(kChecksum, "main");
  const std::string c = kChecksum + "::";
  r.local(c + "values").local(c + "count").local(c + "sum");
  loop(r, c + "i", c + "count", kSamples, [&](int i) {
    r.local(c + "sum").local(c + "values").local(c + "i").outer("main::results", 1, 4 * i).local(c + "sum");
  });
  r.local(c + "sum").exit().local("main::sum");
  loop(r, "main::i", "main::samples", kSamples, [&](int i) {
    r.local("main::i").local("main::i").local("main::results", 4 * i).call("printf", "main");
  });
  r.local("main::sum").global("gSignalsSeen").call("printf", "main");
  r.global("gInFifo").call("nuq_hls_stream_delete", "main").global("gOutFifo").call("nuq_hls_stream_delete", "main");
  return r.local("main::retval").local("main::saved_stack").local("main::retval").exit();
}

Records dataflowProducer() {
  const std::string f = "producer(void*)";
  Records r;
  r.enter(f, "-").local(f + "::.addr");
  loop(r, f + "::i", "", kSamples, [&](int) {
    r.local(f + "::i").enter("sampleAt(int)", f).local("sampleAt(int)::i").local("sampleAt(int)::i").exit();
    r.local(f + "::sample");
    push(r, f, f + "::sample", "gInFifo");
    countItem(r, f);
  });
  return r.exit();
}

// The coefficients are the bench's heap block #1, the history the stage's
// own block #2; the arguments are read from main's frame on thread 0.
Records dataflowFirStage() {
  const std::string f = "firStage(void*)";
  const std::string v = f + "::";
  Records r;
  r.enter(f, "-").local(v + "stageArgs").local(v + "stageArgs").line("remote main::stageArgs of main thread 0 +0");
  r.local(v + "coeffs").enter("malloc", f).alloc(2, 8).exit().local(v + "history");
  r.local(v + "history").heap(2, 0).local(v + "history").heap(2, 4);
  loop(r, v + "i", "", kSamples, [&](int) {
    pop(r, f, v + "x", "gInFifo");
    r.local(v + "coeffs").heap(1, 0).local(v + "x").local(v + "coeffs").heap(1, 4).local(v + "history").heap(2, 0);
    r.local(v + "coeffs").heap(1, 8).local(v + "history").heap(2, 4).local(v + "y");
    r.local(v + "history").heap(2, 0).local(v + "history").heap(2, 4);
    r.local(v + "x").local(v + "history").heap(2, 0);
    push(r, f, v + "y", "gOutFifo");
    countItem(r, f);
  });
  return r.local(v + "history").enter("free", f).free(2, 8).exit().exit();
}

Records dataflowConsumer() {
  const std::string f = "consumer(void*)";
  const std::string v = f + "::";
  Records r;
  r.enter(f, "-").local(v + "consumerArgs").local(v + "consumerArgs").line("remote main::consumerArgs of main thread 0 +0");
  r.local(v + "results");
  loop(r, v + "i", "", kSamples, [&](int i) {
    pop(r, f, v + "value", "gOutFifo");
    r.local(v + "value").local(v + "results").local(v + "i");
    r.line("remote main::results of main thread 0 +" + std::to_string(4 * i));
    countItem(r, f);
  });
  // The completion signal's handler runs with tracing suspended.
  return r.call("raise", f).exit();
}

void expectDataflowOutputs(const PluginRun& run) {
  ASSERT_EQ(run.result.exitCode, 0) << run.result.err;
  EXPECT_EQ(run.result.err, "");
  EXPECT_EQ(run.result.out, dataflowConsole());
}

TEST(PlainDataflow, UnoptimisedBuildTracesEveryThreadExactly) {
  const Records expected[] = {dataflowMain(), dataflowProducer(), dataflowFirStage(), dataflowConsumer()};
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE("run " + std::to_string(round));
    const PluginRun run = plugintest::runProgram("plain_dataflow_O0");
    expectDataflowOutputs(run);
    expectCompleteRunDirectory(run, "plain_dataflow_O0");
    plugintest::expectWellFormed(run);
    ASSERT_EQ(run.threads.size(), 4u);
    if (!plugintest::kExactSequences) GTEST_SKIP() << "sanitizer build: the generated code differs";
    for (size_t t = 0; t < 4; ++t)
      EXPECT_EQ(plugintest::match(run.threads[t].records, expected[t]), "") << "thread " << t;
  }
}

TEST(PlainDataflow, OptimisedBuildKeepsThreadsStreamsHeapAndTheLongJump) {
  const PluginRun o0 = plugintest::runProgram("plain_dataflow_O0");
  const PluginRun o2 = plugintest::runProgram("plain_dataflow_O2");
  expectDataflowOutputs(o2);
  plugintest::expectWellFormed(o2);
  plugintest::expectSameObservableBehaviour(
      o0, o2,
      {"printf", "longjmp", "pthread_create", "pthread_join", "pthread_setname_np", "nuq_hls_stream_create",
       "nuq_hls_stream_delete", "nuq_hls_stream_blocking_write", "nuq_hls_stream_blocking_read", "raise", "signal"});
}

// ------------------------------------------------------------ filterbank

// Small enough for the test's time budget; every stage still runs.
TEST(Filterbank, RunsToItsReferenceAndEveryTraceDecodes) {
  const PluginRun run = plugintest::runProgram("filterbank_O2", {"2"});
  ASSERT_EQ(run.result.exitCode, 0) << run.result.err;
  EXPECT_EQ(run.result.err, "");
  EXPECT_NE(run.result.out.find("filterbank: 2 frames, 8 beams, checksum "), std::string::npos) << run.result.out;
  EXPECT_NE(run.result.out.find(": PASS\n"), std::string::npos);
  EXPECT_TRUE(proctest::exists(run.cwd + "/fb_spectra.dat"));
  plugintest::expectWellFormed(run);
  // The bench and the six processes.
  ASSERT_EQ(run.threads.size(), 7u);
  std::set<std::string> names;
  for (const std::string& r : run.threads[0].records)
    if (r.rfind("name ", 0) == 0) names.insert(r.substr(r.find(' ', 5) + 1));
  EXPECT_EQ(names, (std::set<std::string>{"source", "conditioner", "bank", "mixer", "spectral", "sink"}));
  // Every heap block taken by the design and its bench is given back.
  std::map<std::string, int> live;
  for (const plugintest::Decoded& thread : run.threads)
    for (const std::string& r : thread.records) {
      if (r.rfind("alloc #", 0) == 0) ++live[r.substr(6, r.find(' ', 6) - 6)];
      if (r.rfind("free #", 0) == 0) --live[r.substr(5, r.find(' ', 5) - 5)];
    }
  for (const auto& [block, count] : live) EXPECT_EQ(count, 0) << "block " << block;
}

}  // namespace
