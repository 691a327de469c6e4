// Loads and stores told apart: one design with known loads and stores built
// as always and with the access-kinds option. The option's traces say so in
// their header and tag every store; the report splits each access count of
// the design's arrays exactly as its source says, and the plain build's
// counts are the same totals with the split left unknown.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "plugin_run.h"
#include "report_json.h"
#include "strict_json.h"

using strictjson::JsonValue;
using plugintest::PluginRun;
using plugintest::reportOf;

namespace {

proctest::RunResult proftrace(const std::vector<std::string>& args) { return proctest::run(PROFTRACE_PATH, args); }

const JsonValue& variable(const JsonValue& report, const std::string& name) {
  for (const JsonValue& v : report["variables"].array)
    if (v["name"].string == name) return v;
  throw std::runtime_error("no variable " + name);
}

struct Split {
  uint64_t reads, writes;
};

// What the design's source says (see units/access_kinds.c).
const std::map<std::string, Split> kExpected = {
    {"source", {16 + 1, 16 + 1}}, {"target", {1, 16 + 1}}, {"counter", {1, 1}}};

std::string file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(PluginAccessKinds, ReportSplitsEveryCountIntoReadsAndWrites) {
  const PluginRun run = plugintest::runProgram("access_kinds_O0");
  ASSERT_EQ(run.result.exitCode, 0) << run.result.err;
  ASSERT_EQ(run.threads.size(), 1u);
  const JsonValue report = reportOf(run);
  ASSERT_TRUE(report["accessKinds"].boolean);
  // A sanitizer adds loads and stores of its own: the exact counts hold
  // without one.
  for (const auto& [name, split] : plugintest::kExactSequences ? kExpected : std::map<std::string, Split>{}) {
    SCOPED_TRACE(name);
    const JsonValue& v = variable(report, name);
    EXPECT_EQ(v["reads"].u(), split.reads);
    EXPECT_EQ(v["writes"].u(), split.writes);
    EXPECT_EQ(v["accesses"].u(), split.reads + split.writes);
  }
  // The fill loop in main writes source; scale reads it and writes target.
  for (const JsonValue& f : variable(report, "target")["byFunction"].array) {
    if (f["accesses"].u() == 16) {
      EXPECT_EQ(f["writes"].u(), 16u);
    }
  }
  const JsonValue& totals = report["totals"];
  EXPECT_EQ(totals["reads"].u() + totals["writes"].u(), totals["accesses"].u());
  for (const JsonValue& f : report["functions"].array) {
    if (f["name"].string == "scale") {
      EXPECT_GE(f["writesExclusive"].u(), 16u);  // and its counter i
    }
  }

  // The text shows the split; the CSV tables carry it, and every record
  // of the export names its direction.
  const proctest::RunResult text = proftrace({"report", run.runDir});
  EXPECT_NE(text.out.find("reads/writes"), std::string::npos) << text.out;
  const proctest::RunResult dump = proftrace({"dump", "--labels", run.runDir + "/thread0000-trace.txt"});
  EXPECT_NE(dump.out.find("name=\"target\" offset=60 direction=\"write\""), std::string::npos) << dump.out;
  const std::string csvDir = run.cwd + "/csv";
  ASSERT_EQ(proftrace({"export", run.runDir, "--csv", csvDir}).exitCode, 0);
  if (plugintest::kExactSequences) {
    EXPECT_NE(file(csvDir + "/variables.csv").find(",source,,64,34,"), std::string::npos);
  }
  std::istringstream records(file(csvDir + "/records.csv"));
  std::string line;
  uint64_t reads = 0, writes = 0;
  while (std::getline(records, line)) {
    if (line.find("-access") == std::string::npos) continue;
    reads += line.ends_with(",read") ? 1 : 0;
    writes += line.ends_with(",write") ? 1 : 0;
  }
  EXPECT_EQ(reads, totals["reads"].u());
  EXPECT_EQ(writes, totals["writes"].u());
}

TEST(PluginAccessKinds, PlainBuildCountsTheSameAccessesWithoutTheSplit) {
  const PluginRun kinds = plugintest::runProgram("access_kinds_O0");
  const PluginRun plain = plugintest::runProgram("access_plain_O0");
  ASSERT_EQ(plain.result.exitCode, 0) << plain.result.err;
  // The plain build's header keeps access mode 1, the option's says 2;
  // only the option's trace holds store tags (50).
  const std::vector<uint8_t> plainBytes = proctest::readTrace(plain.runDir, 0).bytes;
  const std::vector<uint8_t> kindsBytes = proctest::readTrace(kinds.runDir, 0).bytes;
  ASSERT_GE(plainBytes.size(), 5u);
  ASSERT_GE(kindsBytes.size(), 5u);
  EXPECT_EQ(std::vector<uint8_t>(plainBytes.begin(), plainBytes.begin() + 5), proctest::uleb({24, 5, 26, 1, 1}));
  EXPECT_EQ(std::vector<uint8_t>(kindsBytes.begin(), kindsBytes.begin() + 5), proctest::uleb({24, 5, 26, 2, 1}));
  EXPECT_GT(kindsBytes.size(), plainBytes.size());
  const JsonValue a = reportOf(kinds);
  const JsonValue b = reportOf(plain);
  EXPECT_FALSE(b["accessKinds"].boolean);
  EXPECT_EQ(b["totals"]["reads"].kind, JsonValue::kNull);
  EXPECT_EQ(a["totals"]["accesses"].u(), b["totals"]["accesses"].u());
  if (!plugintest::kExactSequences) return;
  for (const auto& [name, split] : kExpected) EXPECT_EQ(variable(b, name)["accesses"].u(), split.reads + split.writes) << name;
}

}  // namespace
