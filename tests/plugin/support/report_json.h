// The run report of a plugin-built run as JSON values, for the tests of
// `proftrace report`: the command must succeed and print one strict JSON
// document. Needs PROFTRACE_PATH, the path of the command under test.
#pragma once

#include <gtest/gtest.h>

#include "plugin_run.h"
#include "strict_json.h"

namespace plugintest {

inline strictjson::JsonValue reportOf(const PluginRun& run) {
  const proctest::RunResult r = proctest::run(PROFTRACE_PATH, {"report", run.runDir, "--json"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return strictjson::parse(r.out);
}

}  // namespace plugintest
