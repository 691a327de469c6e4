// proftrace on runs of plugin-built programs: one that ends by exit()
// three calls deep while another thread waits, read by every command, and
// one built with basic-block records, whose labels stats refuses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plugin_run.h"
#include "strict_json.h"

namespace {

proctest::RunResult proftrace(const std::vector<std::string>& args) { return proctest::run(PROFTRACE_PATH, args); }

TEST(ProftraceOnPluginRuns, ExitDeepInTheCallsIsANormalEndForEveryCommand) {
  const plugintest::PluginRun run = plugintest::runProgram("exit_deep");
  ASSERT_EQ(run.result.exitCode, 3) << run.result.err;
  EXPECT_EQ(run.result.out, "check failed: 41\n");
  const std::string main = run.runDir + "/thread0000-trace.txt";
  const std::string waiter = run.runDir + "/thread0001-trace.txt";

  const proctest::RunResult check = proftrace({"check", run.runDir});
  EXPECT_EQ(check.exitCode, 0) << check.out;
  EXPECT_NE(check.out.find("; ended the process in exit with 4 frames open)"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("; still running in "), std::string::npos) << check.out;
  EXPECT_NE(check.out.find(" when thread 0 ended the process)"), std::string::npos) << check.out;

  const proctest::RunResult info = proftrace({"info", run.runDir});
  EXPECT_EQ(info.exitCode, 0) << info.err;
  EXPECT_EQ(info.out.find("Labels:"), std::string::npos) << "a plugin-built run can be labelled";

  const proctest::RunResult stats = proftrace({"stats", run.runDir});
  EXPECT_EQ(stats.exitCode, 0) << stats.out << stats.err;
  EXPECT_NE(stats.out.find("  end: ended the process in exit with 4 frames open\n"), std::string::npos) << stats.out;
  EXPECT_NE(stats.out.find("exit ["), std::string::npos) << stats.out;

  for (const std::string& trace : {main, waiter}) {
    for (const bool labels : {false, true}) {
      std::vector<std::string> args = {"dump", trace};
      if (labels) args.push_back("--labels");
      const proctest::RunResult text = proftrace(args);
      EXPECT_EQ(text.exitCode, 0) << trace << " " << labels << ": " << text.err;
      args.push_back("--json");
      const proctest::RunResult json = proftrace(args);
      EXPECT_EQ(json.exitCode, 0) << trace << " " << labels << ": " << json.err;
      EXPECT_EQ(strictjson::check(json.out), "") << trace << " " << labels;
    }
  }
  const proctest::RunResult labelled = proftrace({"dump", "--labels", "--json", main});
  EXPECT_NE(labelled.out.find("\"frames\":\"ended-process\",\"openFrames\":4,\"innermost\":\"exit\"}}\n"),
            std::string::npos)
      << labelled.out.substr(labelled.out.size() > 300 ? labelled.out.size() - 300 : 0);
}

TEST(ProftraceOnPluginRuns, StatsRefusesToLabelBasicBlockRecords) {
  const plugintest::PluginRun run = plugintest::runProgram("basic_blocks_recursion");
  ASSERT_EQ(run.result.exitCode, 0) << run.result.err;
  EXPECT_EQ(proftrace({"check", run.runDir}).exitCode, 0) << "the stream itself is sound";
  const proctest::RunResult stats = proftrace({"stats", run.runDir});
  EXPECT_EQ(stats.exitCode, 1) << stats.out;
  EXPECT_NE(stats.out.find("NOTE: not decodable from offset "), std::string::npos) << stats.out;
  EXPECT_NE(stats.out.find("BASIC_BLOCKS"), std::string::npos) << stats.out;
}

}  // namespace
