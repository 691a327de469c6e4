// Runs the plugin-built smoke program and checks its run directory: the
// name lines of every function and variable, and traces that decode
// completely under the decodable-trace convention and leave no frame open.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "process_support.h"
#include "tracereader/tracereader.h"

namespace {

const std::string kProgram = "plugin_smoke_prog";

std::vector<std::vector<std::string>> fields(const std::string& text, char separator) {
  std::vector<std::vector<std::string>> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> f;
    std::istringstream l(line);
    for (std::string x; std::getline(l, x, separator);) f.push_back(x);
    lines.push_back(f);
  }
  return lines;
}

// Function names by linked id, from functionMapping and the name lines.
std::map<uint64_t, std::string> functionNames(const std::string& runDir) {
  std::map<std::string, std::string> byStatic;
  for (const auto& f : fields(proctest::readFile(runDir + "/globalVariableMapping"), '\t'))
    if (f.size() == 4 && f[0] == "function") byStatic[f[2]] = f[3];
  std::map<uint64_t, std::string> names;
  for (const auto& f : fields(proctest::readFile(runDir + "/functionMapping"), ' '))
    if (f.size() == 3) names[std::stoull(f[2])] = byStatic[f[0]];
  return names;
}

// Walks a whole trace; returns the number of function entries, or -1 (with
// a test failure) when a value cannot be placed or frames stay open.
int decode(const std::vector<uint8_t>& bytes, const std::map<uint64_t, std::string>& names) {
  // The wrappers that report the memory they touch as blocks.
  static const std::set<std::string> kBlock = {"memcpy", "memmove", "memset", "fread", "fwrite", "pthread_create",
                                               "nuq_hls_stream_blocking_write", "nuq_hls_stream_blocking_read"};
  static const std::set<std::string> kAlloc = {"malloc", "calloc", "realloc", "strdup", "operator new",
                                               "operator new[]"};
  tracereader::Cursor c(bytes);
  std::vector<std::string> stack;
  int entries = 0;
  auto skip = [&](int n) {
    for (int i = 0; i < n; ++i)
      if (!c.uleb()) return false;
    return true;
  };
  while (!c.atEnd()) {
    const size_t at = c.position();
    const uint64_t tag = *c.uleb();
    const std::string top = stack.empty() ? "" : stack.back();
    const int size = kBlock.count(top) != 0 ? 1 : 0;
    bool ok = true;
    switch (tag) {
      case 0: {
        const auto id = c.uleb();
        ok = id && c.uleb();
        if (ok) stack.push_back(names.count(*id) ? names.at(*id) : "?");
        ++entries;
        break;
      }
      case 2: case 18: ok = !stack.empty(); if (ok) stack.pop_back(); break;
      case 40: ok = !stack.empty() && skip(1); if (ok) stack.pop_back(); break;
      case 3: case 4: ok = skip(2 + size); break;
      case 5: ok = skip(3 + size); break;
      case 6: ok = kAlloc.count(top) != 0 ? skip(3) : skip(2 + size); break;
      case 7: ok = skip(4 + size); break;
      case 8: case 10: ok = skip(tag == 8 ? 3 : 2); break;
      case 12: case 14: case 20: case 22: case 24: ok = skip(1); break;
      case 26: ok = skip(2); break;
      default: ok = false;
    }
    if (!ok) {
      ADD_FAILURE() << "value " << tag << " at offset " << at << " cannot be placed (top frame '" << top << "')";
      return -1;
    }
  }
  EXPECT_TRUE(stack.empty()) << stack.size() << " frames left open, top '" << stack.back() << "'";
  return stack.empty() ? entries : -1;
}

TEST(PluginSmoke, RunDirectoryNamesEverythingAndTracesDecode) {
  proctest::removeAll(proctest::profileDir(kProgram));
  const proctest::RunResult r = proctest::run(proctest::programPath(kProgram), {}, proctest::scratchDir(kProgram));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "sum 30 thread 49 caught 1 last 2 window 5\n");
  EXPECT_EQ(r.err, "");
  const std::string runDir = proctest::latestRunDir(proctest::profileDir(kProgram));

  // main has the first id; every id is mapped once and named.
  const auto mapping = fields(proctest::readFile(runDir + "/functionMapping"), ' ');
  ASSERT_FALSE(mapping.empty());
  EXPECT_EQ(mapping.front(), (std::vector<std::string>{"200", "app_0", "200"}));
  std::set<std::string> named;
  std::vector<std::string> variableIds;
  std::map<std::string, std::vector<std::string>> byName;
  for (const auto& f : fields(proctest::readFile(runDir + "/globalVariableMapping"), '\t')) {
    ASSERT_GE(f.size(), 4u);
    EXPECT_EQ(f[1], "app_0");
    if (f[0] == "function") named.insert(f[2]);
    else variableIds.push_back(f[0] == "local" ? f[3] : f[2]);
    byName[f[0] + ":" + (f[0] == "local" ? f[4] : f[3])] = f;
  }
  for (const auto& f : mapping) EXPECT_EQ(named.count(f[0]), 1u) << "static id " << f[0] << " has no name line";
  for (const char* fn : {"function:main", "function:sumSquares(int const*, int)", "function:square(int)",
                         "function:malloc", "function:memcpy", "function:pthread_create", "function:free"})
    EXPECT_EQ(byName.count(fn), 1u) << fn;
  ASSERT_EQ(byName.count("global:gCounter"), 1u);
  EXPECT_EQ(byName["global:gCounter"][4], "4");
  EXPECT_NE(byName["global:gCounter"][5].find("smoke_prog.cpp"), std::string::npos);
  ASSERT_EQ(byName.count("threadlocal:tCalls"), 1u);
  // main's slot that escapes to the thread stays a stack slot at any level.
  ASSERT_EQ(byName.count("local:fromThread"), 1u);
  EXPECT_EQ(byName["local:fromThread"][2], "200");
  EXPECT_EQ(byName["local:fromThread"][5], "4");

  // The other unit's function keeps its locals although the calling unit
  // recorded it first; variable ids are unique in the binary.
  ASSERT_EQ(byName.count("local:window"), 1u);
  ASSERT_EQ(byName.count("function:windowSum(int const*)"), 1u);
  EXPECT_EQ(byName["local:window"][2], byName["function:windowSum(int const*)"][2]);
  EXPECT_EQ(std::set<std::string>(variableIds.begin(), variableIds.end()).size(), variableIds.size());

  const auto names = functionNames(runDir);
  for (uint32_t thread : {0u, 1u}) {
    const proctest::Trace t = proctest::readTrace(runDir, thread);
    EXPECT_TRUE(t.complete) << "thread " << thread;
    EXPECT_GT(decode(t.bytes, names), 0) << "thread " << thread;
  }
}

}  // namespace
