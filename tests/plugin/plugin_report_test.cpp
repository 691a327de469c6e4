// proftrace report and export on the plain designs built with the plugin:
// the numbers the report gives equal those that follow from the programs'
// source (calls, call edges, accesses per array and per function, heap
// blocks by allocation site, stream traffic), the JSON document is strict
// JSON, the text fits 100 columns, and the documented pandas example runs
// on the exported tables.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "plugin_run.h"
#include "report_json.h"
#include "strict_json.h"

using strictjson::JsonValue;
using plugintest::PluginRun;
using plugintest::reportOf;

namespace {

proctest::RunResult proftrace(const std::vector<std::string>& args) { return proctest::run(PROFTRACE_PATH, args); }

const JsonValue& named(const JsonValue& list, const std::string& name) {
  for (const JsonValue& item : list.array)
    if (item["name"].string == name) return item;
  throw std::runtime_error("nothing named '" + name + "'");
}

bool hasNamed(const JsonValue& list, const std::string& name) {
  for (const JsonValue& item : list.array)
    if (item["name"].string == name) return true;
  return false;
}

// {key: count} of an array of {"<keyName>": k, "<countName>": n}.
std::map<uint64_t, uint64_t> counts(const JsonValue& list, const char* keyName, const char* countName) {
  std::map<uint64_t, uint64_t> out;
  for (const JsonValue& item : list.array) out[item[keyName].u()] = item[countName].u();
  return out;
}

uint64_t threadStartedIn(const JsonValue& report, const std::string& function) {
  for (const JsonValue& t : report["threads"].array)
    if (t["startFunctionName"].string == function) return t["thread"].u();
  throw std::runtime_error("no thread started in " + function);
}

uint64_t functionId(const JsonValue& report, const std::string& name) { return named(report["functions"], name)["id"].u(); }

uint64_t edge(const JsonValue& report, const std::string& caller, const std::string& callee) {
  for (const JsonValue& e : report["callGraph"].array)
    if (e["callerName"].string == caller && e["calleeName"].string == callee) return e["calls"].u();
  return 0;
}

const std::string kPush = "(anonymous namespace)::push(Channel*, int const*)";
const std::string kPop = "(anonymous namespace)::pop(Channel*, int*)";
const std::string kCountItem = "(anonymous namespace)::countItem()";

TEST(PluginReport, DataflowCallsAccessesHeapSitesAndStreams) {
  const PluginRun run = plugintest::runProgram("plain_dataflow_O0");
  ASSERT_EQ(run.result.exitCode, 0) << run.result.err;
  const JsonValue report = reportOf(run);
  EXPECT_TRUE(report["complete"].boolean);
  const uint64_t main = threadStartedIn(report, "main");
  const uint64_t producer = threadStartedIn(report, "producer(void*)");
  const uint64_t fir = threadStartedIn(report, "firStage(void*)");
  const uint64_t consumer = threadStartedIn(report, "consumer(void*)");

  // Calls: 16 samples pass each of the two streams; every stage counts
  // each item; the bench parses two headers (one rejected), prints 16
  // results, a checksum line and the rejection.
  const std::map<std::string, uint64_t> calls = {
      {"main", 1}, {"producer(void*)", 1}, {"firStage(void*)", 1}, {"consumer(void*)", 1}, {kPush, 32}, {kPop, 32},
      {kCountItem, 48}, {"sampleAt(int)", 16}, {"nuq_hls_stream_blocking_write", 32},
      {"nuq_hls_stream_blocking_read", 32}, {"pthread_mutex_lock", 64}, {"pthread_cond_signal", 32},
      {"parseHeader(char const*)", 2}, {"rejectHeader(char const*)", 1}, {"checksum(int const*, int)", 1},
      {"printf", 18}, {"pthread_create", 3}, {"pthread_join", 3}, {"malloc", 2}, {"realloc", 1}, {"free", 2},
      {"nuq_hls_stream_create", 2}, {"nuq_hls_stream_delete", 2}};
  for (const auto& [name, n] : calls) EXPECT_EQ(named(report["functions"], name)["calls"].u(), n) << name;
  EXPECT_EQ(counts(named(report["functions"], kPush)["callsByThread"], "thread", "calls"),
            (std::map<uint64_t, uint64_t>{{producer, 16}, {fir, 16}}));
  EXPECT_EQ(counts(named(report["functions"], kPop)["callsByThread"], "thread", "calls"),
            (std::map<uint64_t, uint64_t>{{fir, 16}, {consumer, 16}}));

  EXPECT_EQ(edge(report, "(thread start)", "producer(void*)"), 1u);
  EXPECT_EQ(edge(report, "producer(void*)", kPush), 16u);
  EXPECT_EQ(edge(report, "firStage(void*)", kPush), 16u);
  EXPECT_EQ(edge(report, "firStage(void*)", kPop), 16u);
  EXPECT_EQ(edge(report, kPush, "nuq_hls_stream_blocking_write"), 32u);
  EXPECT_EQ(edge(report, "main", "parseHeader(char const*)"), 2u);
  EXPECT_EQ(edge(report, "parseHeader(char const*)", "rejectHeader(char const*)"), 1u);
  EXPECT_EQ(edge(report, "main", "producer(void*)"), 0u);  // started by the thread library, not called
  // The signal handler runs with tracing suspended; the error path's
  // fprintf is never taken.
  EXPECT_TRUE(hasNamed(report["neverEntered"], "onDone(int)"));
  EXPECT_TRUE(hasNamed(report["neverEntered"], "fprintf"));
  EXPECT_FALSE(hasNamed(report["neverEntered"], "main"));

  // Each stream operation reports three blocks; inclusive counts of the
  // stages' helpers take them in.
  for (const char* op : {"nuq_hls_stream_blocking_write", "nuq_hls_stream_blocking_read"}) {
    EXPECT_EQ(named(report["functions"], op)["accessesExclusive"].u(), 96u) << op;
    EXPECT_EQ(named(report["functions"], op)["accessesInclusive"].u(), 96u) << op;
  }
  for (const std::string& helper : {kPush, kPop}) {
    const JsonValue& f = named(report["functions"], helper);
    EXPECT_EQ(f["accessesInclusive"].u(), f["accessesExclusive"].u() + 96) << helper;
  }
  // A thread's first function holds all of the thread's accesses.
  for (const JsonValue& t : report["threads"].array)
    EXPECT_EQ(named(report["functions"], t["startFunctionName"].string)["accessesInclusive"].u(), t["accesses"].u());

  const JsonValue& variables = report["variables"];
  const JsonValue& items = named(variables, "tItems");
  EXPECT_EQ(items["kind"].string, "threadlocal");
  EXPECT_FALSE(items["shared"].boolean);  // each thread has its own

  if (plugintest::kExactSequences) {
    EXPECT_EQ(counts(items["byThread"], "thread", "accesses"),
              (std::map<uint64_t, uint64_t>{{producer, 32}, {fir, 32}, {consumer, 32}}));  // ++tItems: a load, a store
    EXPECT_EQ(named(report["functions"], kCountItem)["accessesExclusive"].u(), 96u);
    EXPECT_EQ(named(report["functions"], "sampleAt(int)")["accessesExclusive"].u(), 32u);  // store i, load i

    // results[16] on main's stack: written by the consumer, read by the
    // checksum through its argument and by the printing loop.
    const JsonValue& results = named(variables, "main::results");
    EXPECT_EQ(results["accesses"].u(), 48u);
    EXPECT_EQ(counts(results["byThread"], "thread", "accesses"), (std::map<uint64_t, uint64_t>{{main, 32}, {consumer, 16}}));
    EXPECT_EQ(counts(results["byFunction"], "function", "accesses"),
              (std::map<uint64_t, uint64_t>{{functionId(report, "main"), 16},
                                            {functionId(report, "consumer(void*)"), 16},
                                            {functionId(report, "checksum(int const*, int)"), 16}}));
    EXPECT_EQ(results["distinctOffsets"].u(), 16u);
    EXPECT_EQ(results["bytesTouched"].u(), 64u);
    EXPECT_EQ(results["pattern"]["kind"].string, "sequential");
    EXPECT_EQ(results["pattern"]["stride"].i(), 4);
    EXPECT_TRUE(results["shared"].boolean);

    // The coefficients: three stores in main, three loads per sample in
    // the FIR stage. The history: two stores, then five accesses a sample.
    const JsonValue& coeffs = named(variables, "heap#1 (main)");
    EXPECT_EQ(coeffs["size"].u(), 12u);
    EXPECT_EQ(coeffs["accesses"].u(), 51u);
    EXPECT_EQ(counts(coeffs["byThread"], "thread", "accesses"), (std::map<uint64_t, uint64_t>{{main, 3}, {fir, 48}}));
    EXPECT_EQ(coeffs["bytesTouched"].u(), 12u);
    const JsonValue& history = named(variables, "heap#2 (firStage(void*))");
    EXPECT_EQ(history["size"].u(), 8u);
    EXPECT_EQ(history["accesses"].u(), 82u);
    EXPECT_FALSE(history["shared"].boolean);
  }
  const JsonValue& sites = report["heapSites"];
  ASSERT_EQ(sites.array.size(), 2u);
  EXPECT_EQ(named(sites, "main")["blocks"].u(), 1u);
  EXPECT_EQ(named(sites, "main")["bytes"].u(), 12u);
  EXPECT_EQ(named(sites, "firStage(void*)")["blocks"].u(), 1u);
  EXPECT_EQ(named(sites, "firStage(void*)")["bytes"].u(), 8u);
  EXPECT_EQ(named(sites, "firStage(void*)")["freed"].u(), 1u);

  const JsonValue& streams = report["streams"];
  ASSERT_EQ(streams.array.size(), 2u);
  const std::pair<uint64_t, uint64_t> ends[] = {{producer, fir}, {fir, consumer}};
  for (size_t i = 0; i < 2; ++i) {
    const JsonValue& s = named(streams, i == 0 ? "in_fifo" : "out_fifo");
    EXPECT_EQ(s["elementSize"].u(), 4u);
    EXPECT_EQ(s["writes"].u(), 16u);
    EXPECT_EQ(s["reads"].u(), 16u);
    EXPECT_EQ(s["emptyReads"].u(), 0u);  // the stages wait for data first
    EXPECT_EQ(s["left"].u(), 0u);
    // How far the writer ran ahead depends on the scheduler.
    EXPECT_GE(s["highWater"].u(), 1u);
    EXPECT_LE(s["highWater"].u(), 16u);
    ASSERT_EQ(s["producers"].array.size(), 1u);
    ASSERT_EQ(s["consumers"].array.size(), 1u);
    EXPECT_EQ(s["producers"].array[0].u(), ends[i].first);
    EXPECT_EQ(s["consumers"].array[0].u(), ends[i].second);
  }

  const proctest::RunResult text = proftrace({"report", run.runDir});
  EXPECT_EQ(text.exitCode, 0) << text.err;
  EXPECT_NE(text.out.find("The traces carry no time"), std::string::npos);
  std::istringstream lines(text.out);
  for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 100u) << line;
}

// The documented pandas example, taken from the document itself.
std::string exampleFromDocs() {
  std::ifstream doc(REPORT_DOC);
  std::string line, code;
  bool marked = false, inside = false;
  while (std::getline(doc, line)) {
    if (line.find("<!-- example: top_arrays.py -->") != std::string::npos) marked = true;
    else if (marked && !inside && line == "```python") inside = true;
    else if (inside && line == "```") break;
    else if (inside) code += line + "\n";
  }
  return code;
}

TEST(PluginReport, VendelArraysAndTheExportedTablesInPandas) {
  const PluginRun run = plugintest::runProgram("plain_vendel_O0");
  ASSERT_EQ(run.result.exitCode, 0) << run.result.err;
  const JsonValue report = reportOf(run);
  EXPECT_TRUE(report["complete"].boolean);
  EXPECT_EQ(report["streams"].kind, JsonValue::kNull);  // no stream, no streams file
  EXPECT_FALSE(proctest::exists(run.runDir + "/streams"));
  const std::map<std::string, uint64_t> calls = {
      {"main", 1}, {"vendel(short*, short*, int*)", 1}, {"(anonymous namespace)::writeValue(_IO_FILE*, int)", 1152},
      {"fprintf", 1152}, {"(anonymous namespace)::openDataFile(char const*)", 3}, {"fopen", 3}, {"fclose", 3},
      {"printf", 128}};
  for (const auto& [name, n] : calls) EXPECT_EQ(named(report["functions"], name)["calls"].u(), n) << name;
  const JsonValue& vendel = named(report["functions"], "vendel(short*, short*, int*)");
  EXPECT_EQ(vendel["accessesInclusive"].u(), vendel["accessesExclusive"].u());  // it calls nothing

  if (plugintest::kExactSequences) {
    // Each signal: written once by the bench, read once by the design and
    // once for its data file; the energies: written by the design, read
    // for the data file and for the console.
    const uint64_t mainId = functionId(report, "main");
    const uint64_t vendelId = vendel["id"].u();
    for (const char* signal : {"main::sigA", "main::sigB"}) {
      const JsonValue& v = named(report["variables"], signal);
      EXPECT_EQ(v["accesses"].u(), 1536u) << signal;
      EXPECT_EQ(counts(v["byFunction"], "function", "accesses"),
                (std::map<uint64_t, uint64_t>{{mainId, 1024}, {vendelId, 512}}));
      EXPECT_EQ(v["bytesTouched"].u(), 1024u);
      EXPECT_EQ(v["size"].u(), 1024u);
      EXPECT_EQ(v["pattern"]["kind"].string, "sequential");
      EXPECT_EQ(v["pattern"]["stride"].i(), 2);
    }
    const JsonValue& energy = named(report["variables"], "main::energy");
    EXPECT_EQ(energy["accesses"].u(), 384u);
    EXPECT_EQ(counts(energy["byFunction"], "function", "accesses"),
              (std::map<uint64_t, uint64_t>{{mainId, 256}, {vendelId, 128}}));
    EXPECT_EQ(energy["bytesTouched"].u(), 512u);
  }

  const std::string csv = proctest::scratchDir("plugin_report_csv");
  const proctest::RunResult exported = proftrace({"export", run.runDir, "--csv", csv});
  ASSERT_EQ(exported.exitCode, 0) << exported.err;
  // One row per record of every trace.
  uint64_t records = 0;
  for (const JsonValue& t : report["threads"].array) records += t["records"].u();
  std::ifstream recordsCsv(csv + "/records.csv");
  uint64_t rows = 0;
  for (std::string line; std::getline(recordsCsv, line);) ++rows;
  EXPECT_EQ(rows, records + 1);

  const std::string script = csv + "/top_arrays.py";
  std::ofstream(script) << exampleFromDocs();
  const proctest::RunResult python = proctest::run("/usr/bin/python3", {script, csv});
  ASSERT_EQ(python.exitCode, 0) << python.err;
  const std::string top = python.out.substr(0, python.out.find('\n', python.out.find("main::energy")) + 1);
  if (plugintest::kExactSequences)
    EXPECT_EQ(top,
              "name,kind,size,accesses,pattern\n"
              "main::sigA,local,1024,1536,sequential\n"
              "main::sigB,local,1024,1536,sequential\n"
              "main::energy,local,512,384,sequential\n");
}

}  // namespace
