// Builds beyond one unit: a design over three units and an instrumented
// static library, a program with a unit built without the plugin, the two
// things the runtime refuses, a second process and an instrumented library
// loaded while the program runs, and builds with the faster codecs.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>

#include "expected_records.h"
#include "plugin_run.h"
#include "tracereader/tracereader.h"

using plugintest::PluginRun;
using plugintest::Records;

namespace {

std::vector<std::vector<std::string>> lines(const std::string& text) {
  std::vector<std::vector<std::string>> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::istringstream f(line);
    std::string field;
    while (std::getline(f, field, '\t')) fields.push_back(field);
    out.push_back(fields);
  }
  return out;
}

// Ids are unique per binary across every unit and the library: one
// function line per static id, one variable id per global and local, and
// one mapping line per function.
TEST(MultiUnit, EveryUnitAndTheLibraryShareOneIdSpaceAndOneMapping) {
  const PluginRun run = plugintest::runProgram("multi_unit");
  ASSERT_EQ(run.result.exitCode, 0) << run.result.err;
  plugintest::expectWellFormed(run);

  std::map<std::string, std::string> functionIds;  // static id -> name
  std::set<std::string> variableIds;
  std::set<std::string> globals;
  std::set<std::string> localsOf;  // functions with local lines
  for (const auto& f : lines(proctest::readFile(run.runDir + "/globalVariableMapping"))) {
    ASSERT_GE(f.size(), 4u);
    EXPECT_EQ(f[1], "app_0");
    if (f[0] == "function") {
      EXPECT_TRUE(functionIds.emplace(f[2], f[3]).second) << "static id " << f[2] << " twice";
    }
    if (f[0] == "global") {
      EXPECT_TRUE(variableIds.insert(f[2]).second) << "variable id " << f[2] << " twice";
      globals.insert(f[3]);
      EXPECT_NE(f[5], "") << f[3] << " has its source file";
      EXPECT_NE(f[6], "0") << f[3] << " has its line";
    }
    if (f[0] == "local") {
      EXPECT_TRUE(variableIds.insert(f[3]).second) << "variable id " << f[3] << " twice";
      localsOf.insert(functionIds[f[2]]);
    }
  }
  // Each unit's functions have their locals named, also those that a unit
  // earlier in the link order only calls.
  EXPECT_EQ(localsOf, (std::set<std::string>{"main", "smooth", "fillRamp", "libraryChecksum"}));
  EXPECT_EQ(globals, (std::set<std::string>{"gFrames", "gSmoothed", "gFilled", "gChecksums"}));
  for (const char* name : {"main", "smooth", "fillRamp", "libraryChecksum", "printf"}) {
    bool found = false;
    for (const auto& [id, n] : functionIds) found = found || n == name;
    EXPECT_TRUE(found) << name << " has a function line";
  }
  EXPECT_EQ(functionIds.begin()->second, "main");

  std::set<std::string> mapped;
  for (const auto& f : lines(proctest::readFile(run.runDir + "/functionMapping"))) {
    std::istringstream in(f[0]);
    std::string staticId, binary, linked;
    in >> staticId >> binary >> linked;
    EXPECT_TRUE(mapped.insert(staticId).second) << "static id " << staticId << " mapped twice";
    EXPECT_EQ(functionIds.count(staticId), 1u) << "mapped id " << staticId << " has a name";
  }
  EXPECT_EQ(mapped.size(), functionIds.size());

  // Calls across the units are entered from their callers, and every
  // unit's global is written under its own name.
  const std::vector<std::string>& r = run.threads[0].records;
  for (const char* line : {"enter fillRamp from main", "enter smooth from main", "enter libraryChecksum from main",
                           "global gFilled +0", "global gSmoothed +0", "global gChecksums +0", "global gFrames +0"})
    EXPECT_NE(std::find(r.begin(), r.end(), line), r.end()) << line;
}

// The plain unit's function is a library function to the instrumented
// code; the callback it makes is not announced by any instrumented caller,
// so the callback enters itself with caller 0, twice.
TEST(MixedUnits, UninstrumentedUnitRunsAndItsCallbacksAppearCalledFromLibraryCode) {
  const PluginRun run = plugintest::runProgram("mixed_units");
  ASSERT_EQ(run.result.exitCode, 0) << run.result.err;
  EXPECT_EQ(run.result.out, "21 2\n");
  plugintest::expectWellFormed(run);
  Records callback;
  callback.enter("addTen", "-").local("addTen::x").global("gCalls").global("gCalls").local("addTen::x").exit();
  Records r;
  r.enter("main", "-").local("main::retval").enter("plainTwice", "main");
  r.append(callback).append(callback);
  r.exit().global("gCalls").call("printf", "main").exit();
  EXPECT_EQ(plugintest::match(run.threads[0].records, r), "");
}

TEST(Refused, ForkEndsTheProgramWithTheRuntimesMessageAndFinishedTraces) {
  const PluginRun run = plugintest::runProgram("fork_refused");
  EXPECT_EQ(run.result.exitCode, 1);
  EXPECT_EQ(run.result.out, "before\n");
  EXPECT_EQ(run.result.err, "nuq:0:0: error: fork()/vfork() are not supported by NUQ, exiting.\n");
  ASSERT_EQ(run.threads.size(), 1u);
  EXPECT_TRUE(run.threads[0].complete);
  EXPECT_EQ(run.threads[0].error, "");
  const std::vector<std::string>& r = run.threads[0].records;
  ASSERT_FALSE(r.empty());
  EXPECT_EQ(r.back(), "enter fork from main") << "the refusal ends the process inside the call";
}

TEST(Refused, LoadingAnInstrumentedLibraryEndsTheProgramWithTheRuntimesMessage) {
  const PluginRun run =
      plugintest::runProgram("dlopen_host", {plugintest::programPath("libplugin_dlopen_library.so")});
  const std::string refusal =
      "spec:0:0: error: Loading instrumented shared libraries dynamically (via dlopen()) is not supported.\n";
  EXPECT_EQ(run.result.out, "loading\n");
#if PLUGIN_TESTS_SANITIZED
  // The process ends inside the loader, where a sanitizer has suspended
  // its checks; it reports that after the refusal, with its own status.
  EXPECT_NE(run.result.exitCode, 0);
  EXPECT_EQ(run.result.err.substr(0, refusal.size()), refusal);
#else
  EXPECT_EQ(run.result.exitCode, 1);
  EXPECT_EQ(run.result.err, refusal);
#endif
}

// The codec changes the compressed bytes only: the same records, in a zlib
// stream whose header names the level (0x5E: level 4, 0x01: the fastest).
TEST(Codec, Zlib1WritesTheSameRecordsAtTheFastestLevel) {
  const PluginRun level4 = plugintest::runProgram("plain_vendel_O2");
  const PluginRun level1 = plugintest::runProgram("plain_vendel_zlib1_O2");
  ASSERT_EQ(level1.result.exitCode, 0) << level1.result.err;
  EXPECT_EQ(level1.result.out, level4.result.out);
  ASSERT_EQ(level1.threads.size(), level4.threads.size());
  const std::string trace = "/thread0000-trace.txt";
  const tracereader::InflatedTrace at4 = tracereader::readTraceFile(level4.runDir + trace);
  const tracereader::InflatedTrace at1 = tracereader::readTraceFile(level1.runDir + trace);
  ASSERT_TRUE(at4.complete && at1.complete) << at4.error << at1.error;
  EXPECT_GT(at1.bytes.size(), 5120u) << "the trace spans several buffers";
  EXPECT_EQ(at1.bytes, at4.bytes);
  const std::string file4 = proctest::readFile(level4.runDir + trace);
  const std::string file1 = proctest::readFile(level1.runDir + trace);
  ASSERT_GE(file4.size(), 2u);
  ASSERT_GE(file1.size(), 2u);
  EXPECT_EQ(file4.substr(0, 2), "\x78\x5e");
  EXPECT_EQ(file1.substr(0, 2), "\x78\x01");
}

// ISA-L's deflate writes zlib streams too: with threads compressing at the
// same time, every trace inflates with zlib to the default build's bytes.
TEST(Codec, Isal1WritesTheSameRecordsOnEveryThread) {
  const PluginRun zlib = plugintest::runProgram("codec_threads_zlib4_O2");
  const PluginRun isal = plugintest::runProgram("codec_threads_isal1_O2");
  ASSERT_EQ(isal.result.exitCode, 0) << isal.result.err;
  EXPECT_EQ(isal.result.out, zlib.result.out);
  ASSERT_EQ(isal.threads.size(), 4u);
  ASSERT_EQ(zlib.threads.size(), 4u);
  for (int t = 0; t < 4; ++t) {
    const std::string trace = "/thread000" + std::to_string(t) + "-trace.txt";
    const tracereader::InflatedTrace fromZlib = tracereader::readTraceFile(zlib.runDir + trace);
    const tracereader::InflatedTrace fromIsal = tracereader::readTraceFile(isal.runDir + trace);
    ASSERT_TRUE(fromZlib.complete && fromIsal.complete) << trace << fromZlib.error << fromIsal.error;
    EXPECT_EQ(fromIsal.bytes, fromZlib.bytes) << trace;
    const std::string file = proctest::readFile(isal.runDir + trace);
    EXPECT_EQ(file.substr(0, 2), "\x78\x01") << trace << " is not the default codec's";
    if (t > 0) {
      EXPECT_GT(file.size(), 65536u) << trace << " spans several output chunks";
    }
  }
}

// However many threads compress, each trace is the same file: with none
// (every worker deflates its own) and with three working on the workers'
// traces at once.
TEST(Codec, CompressionThreadsWriteTheSameFiles) {
  PluginRun runs[2];
  const int counts[2] = {0, 3};
  for (int i = 0; i < 2; ++i) {
    runs[i] = plugintest::runProgram("codec_threads_compressors" + std::to_string(counts[i]) + "_O2");
    ASSERT_EQ(runs[i].result.exitCode, 0) << runs[i].result.err;
    EXPECT_NE(runs[i].result.err.find("compression threads: " + std::to_string(counts[i]) + "\n"), std::string::npos)
        << runs[i].result.err;
    ASSERT_EQ(runs[i].threads.size(), 4u);
  }
  EXPECT_EQ(runs[1].result.out, runs[0].result.out);
  for (int t = 1; t < 4; ++t) {  // the workers; main reads the process's threads
    const std::string trace = "/thread000" + std::to_string(t) + "-trace.txt";
    const std::string own = proctest::readFile(runs[0].runDir + trace);
    EXPECT_GT(own.size(), 65536u) << trace << " spans several output chunks";
    EXPECT_TRUE(proctest::readFile(runs[1].runDir + trace) == own) << trace << " differs";
    EXPECT_TRUE(tracereader::readTraceFile(runs[1].runDir + trace).complete) << trace;
  }
}

}  // namespace
