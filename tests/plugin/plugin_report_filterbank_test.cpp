// proftrace report on the filter-bank design: the numbers of its six
// dataflow processes follow from the design's geometry (channels, taps,
// frame lengths, tiles, FFT size) and the frame count, so the test derives
// them from those constants and compares, per process thread, exactly at
// -O0. The bench's own thread runs the kernel checks and the reference
// model as well and is left out. Optimised builds of this design and of the
// plain dataflow and vendel designs are held to what optimisation cannot
// change.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "plugin_run.h"
#include "report_json.h"
#include "strict_json.h"

using strictjson::JsonValue;
using plugintest::PluginRun;
using plugintest::reportOf;

namespace {

// The design's geometry (examples/filterbank/filterbank.h) and the run's.
constexpr uint64_t kFrames = 2;
constexpr uint64_t kChannels = 8, kBeams = 8, kTaps = 32, kFrameIn = 128, kFrameOut = 64;
constexpr uint64_t kFftLog2 = 6, kFftSize = 64, kTile = 4, kTones = 3;  // the bench's default tones
constexpr uint64_t kQ15 = 2;
constexpr uint64_t kChannelVector = kChannels * kQ15;
constexpr uint64_t kBeamBlock = 8 + kFrameOut * kQ15;     // frame, beam, samples
constexpr uint64_t kSpectrum = 12 + kFftSize * 4;         // frame, beam, exponent, power
constexpr uint64_t kCoefficients = (kChannels * kTaps + kBeams * kChannels + kFftSize + kFftSize) * kQ15;

// Steps through the whole run, outputs of the bank, and the mixer's tiles.
constexpr uint64_t kSteps = kFrames * kFrameIn;
constexpr uint64_t kColumns = kFrames * kFrameOut;
constexpr uint64_t kOutputTiles = kFrames * (kBeams / kTile) * (kFrameOut / kTile);
constexpr uint64_t kTilePasses = kOutputTiles * (kChannels / kTile);
constexpr uint64_t kSpectra = kFrames * kBeams;
constexpr uint64_t kButterflies = kSpectra * kFftLog2 * (kFftSize / 2);

const std::string kFirBankSite = "fb::FirBank::FirBank(fb::Coefficients const*)";

// Runs the program as plugintest::runProgram does, without decoding its
// traces into the run: the report reads them, and the unoptimised run's
// millions of records would cost more than the rest of the test.
PluginRun runOnly(const std::string& program, const std::vector<std::string>& args = {}) {
  PluginRun run;
  proctest::removeAll(plugintest::profileDir(program));
  run.cwd = proctest::scratchDir("plugin-report-" + program);
  run.result = proctest::run(plugintest::programPath(program), args, run.cwd);
  run.runDir = proctest::latestRunDir(plugintest::profileDir(program));
  return run;
}

// Functions are matched by their qualified name, without the parameters.
const JsonValue* function(const JsonValue& report, const std::string& name) {
  for (const JsonValue& f : report["functions"].array)
    if (f["name"].string == name || f["name"].string.rfind(name + "(", 0) == 0) return &f;
  return nullptr;
}

const JsonValue& named(const JsonValue& list, const std::string& name) {
  for (const JsonValue& item : list.array)
    if (item["name"].string == name) return item;
  throw std::runtime_error("nothing named '" + name + "'");
}

// Calls of a function made on one thread (0 when never entered there).
uint64_t callsOn(const JsonValue& report, const std::string& name, uint64_t thread) {
  const JsonValue* f = function(report, name);
  if (f == nullptr) return 0;
  for (const JsonValue& t : (*f)["callsByThread"].array)
    if (t["thread"].u() == thread) return t["calls"].u();
  return 0;
}

std::map<std::string, uint64_t> threadsByName(const JsonValue& report) {
  std::map<std::string, uint64_t> out;
  for (const JsonValue& t : report["threads"].array) out[t["name"].string] = t["thread"].u();
  return out;
}

std::map<uint64_t, uint64_t> accessesBy(const JsonValue& variable, const char* list, const char* key) {
  std::map<uint64_t, uint64_t> out;
  for (const JsonValue& item : variable[list].array) out[item[key].u()] = item["accesses"].u();
  return out;
}

uint64_t functionId(const JsonValue& report, const std::string& name) {
  const JsonValue* f = function(report, name);
  if (f == nullptr) throw std::runtime_error("no function " + name);
  return (*f)["id"].u();
}

struct StreamTraffic {
  const char* name;
  uint64_t elementSize, elements;
  const char *producer, *consumer;
};
// The end of the run travels through the last two streams as one more block.
const StreamTraffic kStreams[] = {{"raw", kChannelVector, kSteps, "source", "conditioner"},
                                  {"steps", kChannelVector, kSteps, "conditioner", "bank"},
                                  {"decimated", kChannelVector, kColumns, "bank", "mixer"},
                                  {"beams", kBeamBlock, kSpectra + 1, "mixer", "spectral"},
                                  {"spectra", kSpectrum, kSpectra + 1, "spectral", "sink"}};

// The streams file is written by the stream model from the operations the
// design makes, not by the instrumentation: the same at any optimisation.
// How deep a stream became depends on the threads' timing, but the design
// measures it itself after every write, under the stream's lock, and
// writes it to fb_streams.dat in its working directory.
void expectStreams(const JsonValue& report, const PluginRun& run) {
  const std::map<std::string, uint64_t> threads = threadsByName(report);
  std::map<std::string, uint64_t> deepest;
  std::ifstream depths(run.cwd + "/fb_streams.dat");
  std::string name;
  for (uint64_t depth = 0; depths >> name >> depth;) deepest[name] = depth;
  ASSERT_EQ(report["streams"].array.size(), 5u);
  for (const StreamTraffic& expected : kStreams) {
    const JsonValue& s = named(report["streams"], expected.name);
    EXPECT_EQ(s["elementSize"].u(), expected.elementSize) << expected.name;
    EXPECT_EQ(s["writes"].u(), expected.elements) << expected.name;
    EXPECT_EQ(s["reads"].u(), expected.elements) << expected.name;
    EXPECT_EQ(s["emptyReads"].u(), 0u) << expected.name;  // every reader waits for data first
    EXPECT_EQ(s["left"].u(), 0u) << expected.name;
    EXPECT_EQ(s["highWater"].u(), deepest.at(expected.name)) << expected.name;
    ASSERT_EQ(s["producers"].array.size(), 1u) << expected.name;
    ASSERT_EQ(s["consumers"].array.size(), 1u) << expected.name;
    EXPECT_EQ(s["producers"].array[0].u(), threads.at(expected.producer)) << expected.name;
    EXPECT_EQ(s["consumers"].array[0].u(), threads.at(expected.consumer)) << expected.name;
  }
}

// The bench's thread and the six processes, each started by the bench.
void expectThreads(const JsonValue& report) {
  ASSERT_EQ(report["threads"].array.size(), 7u);
  const uint64_t bench = report["threads"].array[0]["thread"].u();
  std::map<std::string, uint64_t> createdBy;
  for (const JsonValue& t : report["threads"].array)
    if (t["thread"].u() != bench) createdBy[t["name"].string] = t["createdBy"].u();
  EXPECT_EQ(createdBy, (std::map<std::string, uint64_t>{{"source", bench}, {"conditioner", bench}, {"bank", bench},
                                                         {"mixer", bench}, {"spectral", bench}, {"sink", bench}}));
}

using Calls = std::map<std::string, std::map<std::string, uint64_t>>;  // thread -> function -> calls

void expectCalls(const JsonValue& report, const Calls& expected) {
  const std::map<std::string, uint64_t> threads = threadsByName(report);
  for (const auto& [thread, calls] : expected)
    for (const auto& [name, n] : calls) EXPECT_EQ(callsOn(report, name, threads.at(thread)), n) << thread << ": " << name;
}

// Runs the filter bank for kFrames frames and reads its report, with the
// checks every build of it passes: a complete report, the design's threads
// and its streams' traffic.
void fullRunReport(const std::string& program, JsonValue* report) {
  const PluginRun run = runOnly(program, {std::to_string(kFrames)});
  ASSERT_EQ(run.result.exitCode, 0) << run.result.err;
  *report = reportOf(run);
  EXPECT_TRUE((*report)["complete"].boolean);
  expectThreads(*report);
  expectStreams(*report, run);
}

TEST(PluginReportFilterbank, ProcessesCallsArraysHeapAndStreamsAtO0) {
  JsonValue report;
  ASSERT_NO_FATAL_FAILURE(fullRunReport("filterbank_O0", &report));

  // Source: per step and channel one noise value and three tones, each a
  // table lookup (which asks for the table), a product and a saturation;
  // every product is rounded and saturated too.
  // Bank: a filter per channel on every kept step. Mixer: one product per
  // frame in kTile tiles. Spectral: one FFT per beam, kFftLog2 stages of
  // half-size butterflies. Sink: a detector per spectrum, a noise estimate
  // per bin of the lower half but the first.
  const uint64_t tones = kSteps * kChannels * kTones, kept = kColumns * kChannels;
  expectCalls(report,
              {{"source",
                {{"fb::SignalSource::next", kSteps}, {"fb::SignalSource::noise", kSteps * kChannels},
                 {"fb::sineAt", tones}, {"fb::sineTable", tones}, {"fb::mulQ15", tones}, {"fb::roundQ15", tones},
                 {"fb::saturate16", 2 * tones + kSteps * kChannels}, {"nuq_hls_stream_blocking_write", kSteps}}},
               {"conditioner",
                {{"fb::Conditioner::push", kSteps}, {"fb::(anonymous namespace)::absolute", kSteps * kChannels},
                 {"fb::saturate16", kSteps * kChannels}, {"nuq_hls_stream_blocking_read", kSteps},
                 {"nuq_hls_stream_blocking_write", kSteps}}},
               {"bank",
                {{"fb::FirBank::FirBank", 1}, {"fb::FirBank::~FirBank", 1}, {"fb::FirBank::push", kSteps},
                 {"fb::FirBank::filterChannel", kept}, {"fb::roundQ15", kept}, {"fb::saturate16", kept},
                 {"calloc", 1}, {"free", 1}, {"nuq_hls_stream_blocking_read", kSteps},
                 {"nuq_hls_stream_blocking_write", kColumns}}},
               {"mixer",
                {{"fb::mixFrame", kFrames}, {"fb::matmulTiled", kFrames},
                 {"fb::(anonymous namespace)::clearTile", kOutputTiles},
                 {"fb::(anonymous namespace)::storeTile", kOutputTiles},
                 {"fb::(anonymous namespace)::loadTileA", kTilePasses},
                 {"fb::(anonymous namespace)::loadTileB", kTilePasses},
                 {"fb::(anonymous namespace)::multiplyAccumulate", kTilePasses},
                 {"fb::roundQ15", kBeams * kColumns}, {"nuq_hls_stream_blocking_read", kColumns},
                 {"nuq_hls_stream_blocking_write", kSpectra + 1}}},
               {"spectral",
                {{"fb::beamSpectrum", kSpectra}, {"fb::fftForward", kSpectra}, {"fb::bitReverse", kSpectra},
                 {"fb::(anonymous namespace)::transform", kSpectra},
                 {"fb::(anonymous namespace)::reverseBits", kSpectra * kFftSize},
                 {"fb::(anonymous namespace)::magnitudeBound", kSpectra * kFftLog2},
                 {"fb::(anonymous namespace)::twiddleProduct", kButterflies}, {"fb::mulQ15", kSpectra * kFftSize},
                 {"malloc", 2}, {"free", 2}, {"nuq_hls_stream_blocking_read", kSpectra + 1},
                 {"nuq_hls_stream_blocking_write", kSpectra + 1}}},
               {"sink",
                {{"fb::detectTargets", kSpectra}, {"fb::(anonymous namespace)::noiseLevel", kSpectra * (kFftSize / 2 - 1)},
                 {"nuq_hls_stream_blocking_read", kSpectra + 1}}}});

  // Heap blocks by site: the delay lines of the bench's check, of the
  // reference and of the bank process; the spectral process's two blocks.
  // Unoptimised, the bench's vectors allocate in the allocator's own
  // functions: main's one block is the coefficient memory.
  const JsonValue& sites = report["heapSites"];
  const JsonValue& delaySite = named(sites, kFirBankSite);
  EXPECT_EQ(delaySite["blocks"].u(), 3u);
  EXPECT_EQ(delaySite["bytes"].u(), 3 * kChannels * kTaps * kQ15);
  EXPECT_EQ(delaySite["freed"].u(), 3u);
  EXPECT_EQ(named(sites, "main")["blocks"].u(), 1u);
  EXPECT_EQ(named(sites, "main")["bytes"].u(), kCoefficients);
  const JsonValue& spectral = named(sites, "fb::(anonymous namespace)::spectralProcess(void*)");
  EXPECT_EQ(spectral["blocks"].u(), 2u);
  EXPECT_EQ(spectral["bytes"].u(), kBeamBlock + kSpectrum);
  EXPECT_EQ(spectral["freed"].u(), 2u);

  if (!plugintest::kExactSequences) return;  // a sanitizer's code changes the accesses
  const std::map<std::string, uint64_t> threads = threadsByName(report);
  const JsonValue* coefficients = nullptr;
  const JsonValue* delayLine = nullptr;
  for (const JsonValue& v : report["variables"].array) {
    if (v["kind"].string != "heap") continue;
    if (v["size"].u() == kCoefficients && v["name"].string.find("(main)") != std::string::npos) coefficients = &v;
    if (v["name"].string.find("(" + kFirBankSite + ")") != std::string::npos &&
        v["allocatedBy"].u() == threads.at("bank"))
      delayLine = &v;
  }
  ASSERT_NE(coefficients, nullptr);
  ASSERT_NE(delayLine, nullptr);
  // The coefficient memory, per process: each tap once per output and tap;
  // each mixing weight once per tile pass and tile element; the window
  // once per sample and two twiddles per butterfly.
  const std::map<uint64_t, uint64_t> byThread = accessesBy(*coefficients, "byThread", "thread");
  const std::map<std::string, uint64_t> expected = {{"source", 0}, {"conditioner", 0}, {"bank", kept * kTaps},
                                                    {"mixer", kTilePasses * kTile * kTile},
                                                    {"spectral", kSpectra * kFftSize + 2 * kButterflies},
                                                    {"sink", 0}};
  for (const auto& [process, n] : expected)
    EXPECT_EQ(byThread.count(threads.at(process)) ? byThread.at(threads.at(process)) : 0, n) << process;
  EXPECT_TRUE((*coefficients)["shared"].boolean);

  // The bank's delay line: a store per step and channel, a load per tap of
  // each output; only the bank touches it.
  EXPECT_EQ((*delayLine)["size"].u(), kChannels * kTaps * kQ15);
  EXPECT_EQ(accessesBy(*delayLine, "byFunction", "function"),
            (std::map<uint64_t, uint64_t>{{functionId(report, "fb::FirBank::push"), kSteps * kChannels},
                                          {functionId(report, "fb::FirBank::filterChannel"), kept * kTaps}}));
  EXPECT_EQ((*delayLine)["bytesTouched"].u(), kChannels * kTaps * kQ15);
  EXPECT_FALSE((*delayLine)["shared"].boolean);

  // The mixer's frame buffer: written column by column, read once per tile
  // pass and element.
  const JsonValue& channels = named(report["variables"], "fb::(anonymous namespace)::mixerProcess(void*)::channels");
  EXPECT_EQ(channels["size"].u(), kChannels * kFrameOut * kQ15);
  EXPECT_EQ(accessesBy(channels, "byFunction", "function"),
            (std::map<uint64_t, uint64_t>{
                {functionId(report, "fb::(anonymous namespace)::mixerProcess"), kColumns * kChannels},
                {functionId(report, "fb::(anonymous namespace)::loadTileB"), kTilePasses * kTile * kTile}}));
  EXPECT_EQ(channels["bytesTouched"].u(), kChannels * kFrameOut * kQ15);
}

// What the optimiser cannot change. The design's units are compiled apart
// (no link-time optimisation), so a call from one unit to another stays a
// call however much each unit is inlined; a library function (the stream
// operations, the allocator, stdio) is never inlined; the stream model
// counts what passes, and the threads are the design's.
TEST(PluginReportFilterbank, OptimisedFilterbankKeepsCallsAcrossUnitsStreamsAndHeapSites) {
  JsonValue report;
  ASSERT_NO_FATAL_FAILURE(fullRunReport("filterbank_O2", &report));
  // Only calls from another unit: the source's calls from its oscillator
  // loop into the tables and the fixed-point unit, the processes' calls of
  // the kernels, the kernels' calls of the rounding.
  const uint64_t tones = kSteps * kChannels * kTones, kept = kColumns * kChannels;
  expectCalls(report,
              {{"source",
                {{"fb::SignalSource::next", kSteps}, {"fb::sineAt", tones}, {"fb::mulQ15", tones},
                 {"nuq_hls_stream_blocking_write", kSteps}}},
               {"conditioner",
                {{"fb::Conditioner::push", kSteps}, {"fb::saturate16", kSteps * kChannels},
                 {"nuq_hls_stream_blocking_read", kSteps}, {"nuq_hls_stream_blocking_write", kSteps}}},
               {"bank",
                {{"fb::FirBank::FirBank", 1}, {"fb::FirBank::push", kSteps}, {"fb::roundQ15", kept},
                 {"calloc", 1}, {"free", 1}, {"nuq_hls_stream_blocking_write", kColumns}}},
               {"mixer",
                {{"fb::mixFrame", kFrames}, {"fb::roundQ15", kBeams * kColumns},
                 {"nuq_hls_stream_blocking_read", kColumns}, {"nuq_hls_stream_blocking_write", kSpectra + 1}}},
               {"spectral",
                {{"fb::beamSpectrum", kSpectra}, {"fb::mulQ15", kSpectra * kFftSize}, {"malloc", 2}, {"free", 2},
                 {"nuq_hls_stream_blocking_write", kSpectra + 1}}},
               {"sink", {{"fb::detectTargets", kSpectra}, {"nuq_hls_stream_blocking_read", kSpectra + 1}}}});
  // The delay lines come from the constructor in its own unit, the
  // spectral buffers from a thread's first function: neither site can be
  // inlined away, and each block reaches code the optimiser cannot see.
  const JsonValue& sites = report["heapSites"];
  EXPECT_EQ(named(sites, kFirBankSite)["blocks"].u(), 3u);
  EXPECT_EQ(named(sites, kFirBankSite)["bytes"].u(), 3 * kChannels * kTaps * kQ15);
  const JsonValue& spectral = named(sites, "fb::(anonymous namespace)::spectralProcess(void*)");
  EXPECT_EQ(spectral["blocks"].u(), 2u);
  EXPECT_EQ(spectral["bytes"].u(), kBeamBlock + kSpectrum);
}

TEST(PluginReportFilterbank, OptimisedPlainDesignsKeepLibraryCallsStreamsAndThreads) {
  const PluginRun dataflow = runOnly("plain_dataflow_O2");
  ASSERT_EQ(dataflow.result.exitCode, 0) << dataflow.result.err;
  const JsonValue report = reportOf(dataflow);
  ASSERT_EQ(report["threads"].array.size(), 4u);
  // Library calls stay calls: 16 samples over each of two streams, three
  // stages, 16 result lines, the checksum and the rejected header.
  for (const auto& [name, n] : std::map<std::string, uint64_t>{{"nuq_hls_stream_blocking_write", 32},
                                                               {"nuq_hls_stream_blocking_read", 32},
                                                               {"pthread_create", 3}, {"pthread_join", 3},
                                                               {"printf", 18}}) {
    ASSERT_NE(function(report, name), nullptr) << name;
    EXPECT_EQ((*function(report, name))["calls"].u(), n) << name;
  }
  // The stream operations' own block reports are the wrappers', not the
  // instrumented code's: three per operation.
  EXPECT_EQ((*function(report, "nuq_hls_stream_blocking_write"))["accessesExclusive"].u(), 96u);
  for (const char* name : {"in_fifo", "out_fifo"}) {
    const JsonValue& s = named(report["streams"], name);
    EXPECT_EQ(s["writes"].u(), 16u);
    EXPECT_EQ(s["reads"].u(), 16u);
    EXPECT_EQ(s["elementSize"].u(), 4u);
  }
  // Thread start functions keep their bodies (their addresses are taken):
  // the producer writes the first stream, the consumer reads the second.
  const auto startedIn = [&](const std::string& f) {
    for (const JsonValue& t : report["threads"].array)
      if (t["startFunctionName"].string == f) return t["thread"].u();
    throw std::runtime_error("no thread started in " + f);
  };
  EXPECT_EQ(named(report["streams"], "in_fifo")["producers"].array.at(0).u(), startedIn("producer(void*)"));
  EXPECT_EQ(named(report["streams"], "out_fifo")["consumers"].array.at(0).u(), startedIn("consumer(void*)"));
  // The coefficients escape to another thread: main's block cannot go. (The
  // filter's history never leaves its thread and may be kept in registers.)
  EXPECT_EQ(named(report["heapSites"], "main")["blocks"].u(), 1u);
  EXPECT_EQ(named(report["heapSites"], "main")["bytes"].u(), 12u);

  const PluginRun vendel = runOnly("plain_vendel_O2");
  ASSERT_EQ(vendel.result.exitCode, 0) << vendel.result.err;
  const JsonValue v = reportOf(vendel);
  EXPECT_EQ(v["threads"].array.size(), 1u);
  EXPECT_EQ(v["streams"].kind, JsonValue::kNull);
  // The design is in its own unit; the bench's output goes through stdio.
  for (const auto& [name, n] : std::map<std::string, uint64_t>{
           {"vendel", 1}, {"fopen", 3}, {"fclose", 3}, {"fprintf", 1152}, {"printf", 128}}) {
    ASSERT_NE(function(v, name), nullptr) << name;
    EXPECT_EQ((*function(v, name))["calls"].u(), n) << name;
  }
}

}  // namespace
