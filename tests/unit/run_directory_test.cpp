// Tests of the run-directory reader: the quoted command line, the function
// mapping, the name lines (every kind, unknown kinds, malformed lines) and
// the names they give to linked ids and variables.
#include "tracereader/run_directory.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "traceTestSupport.h"

namespace {

void writeText(const std::string& path, const std::string& text) {
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fwrite(text.data(), 1, text.size(), f);
  fclose(f);
}

TEST(RunDirectory, CommandlineQuotingRoundTripsAndMalformedTextIsRefused) {
  std::string why;
  // The runtime's quoting of ./sim, "a b" and x"y\z.
  const auto args = tracereader::parseCommandline(R"("./sim" "a b" "x\"y\\z")", &why);
  ASSERT_TRUE(args.has_value()) << why;
  EXPECT_EQ(*args, (std::vector<std::string>{"./sim", "a b", "x\"y\\z"}));
  EXPECT_EQ(tracereader::parseCommandline("", &why)->size(), 0u);
  EXPECT_EQ(tracereader::parseCommandline(R"("" "")", &why)->size(), 2u);
  for (const char* bad : {R"("open)", R"("a""b")", R"(a)", R"("a\n")", R"("a" )"})
    EXPECT_FALSE(tracereader::parseCommandline(bad, &why).has_value()) << bad;
}

TEST(RunDirectory, ReadsManifestNameLinesAndTraces) {
  trace_test::ScratchDir dir;
  writeText(dir.file("workingDirectory"), "/home/d");
  writeText(dir.file("commandline"), R"("./dsim" "-n" "3")");
  writeText(dir.file("binaries"), "app_0\nlib_1\n");
  writeText(dir.file("lookupOrder"), "app_0\nlib_1\n");
  // lib_1 registers an address that app_0 registered too: same linked id.
  writeText(dir.file("functionMapping"), "200 app_0 200\n201 app_0 201\n200 lib_1 202\n201 lib_1 201\nbad line\n");
  writeText(dir.file("globalVariableMapping"),
            "function\tapp_0\t200\tmain\n"
            "function\tapp_0\t201\tmalloc\n"
            "function\tlib_1\t200\tfilter<int> (long)\n"
            "global\tapp_0\t1\tgTable\t64\tdesign.cpp\t12\n"
            "threadlocal\tapp_0\t2\ttCount\t4\t\t0\n"
            "global\tlib_1\t1\tgOther\t8\t\t0\n"
            "local\tlib_1\t200\t3\tacc\t16\n"
            "stream\tapp_0\t9\tfuture kind\n"
            "global\tapp_0\tx\tbad\t1\t\t0\n"
            "local\tapp_0\t200\t4\n");
  writeText(dir.file("thread0010-trace.txt"), "");
  writeText(dir.file("thread0002-trace.txt"), "");
  writeText(dir.file("thread2-trace.txt"), "");  // not the runtime's name form

  const tracereader::RunDirectory run = tracereader::readRunDirectory(dir.file(""));
  EXPECT_TRUE(run.isRunDirectory);
  EXPECT_EQ(run.workingDirectory, "/home/d");
  EXPECT_EQ(run.arguments, (std::vector<std::string>{"./dsim", "-n", "3"}));
  EXPECT_EQ(run.binaries, (std::vector<std::string>{"app_0", "lib_1"}));
  ASSERT_EQ(run.functionMapping.size(), 4u);
  EXPECT_EQ(run.functionMapping[2].binary, "lib_1");
  EXPECT_EQ(run.functionMapping[2].linkedId, 202u);
  EXPECT_EQ(run.names.functions.size(), 3u);
  EXPECT_EQ(run.names.variables.size(), 3u);
  EXPECT_EQ(run.names.locals.size(), 1u);
  EXPECT_EQ(run.names.ignoredLines, 1u);
  ASSERT_EQ(run.problems.size(), 3u);
  EXPECT_EQ(run.problems[0], "functionMapping:5: not \"<static id> <binary> <linked id>\"");
  EXPECT_NE(run.problems[1].find("globalVariableMapping:9: malformed global line"), std::string::npos);
  EXPECT_NE(run.problems[2].find("globalVariableMapping:10: malformed local line"), std::string::npos);
  ASSERT_EQ(run.traces.size(), 2u);
  EXPECT_EQ(run.traces[0].thread, 2u);
  EXPECT_EQ(run.traces[1].thread, 10u);

  const tracereader::NameIndex names(run);
  EXPECT_EQ(names.functionName(200), "main");
  EXPECT_EQ(names.functionName(201), "malloc");
  EXPECT_EQ(names.functionName(202), "filter<int> (long)");
  EXPECT_EQ(names.functionName(203), "");
  EXPECT_TRUE(names.isLinkedId(202));
  EXPECT_FALSE(names.isLinkedId(203));
  EXPECT_TRUE(names.isStaticId(201));
  EXPECT_EQ(names.variableName(2), "tCount");
  EXPECT_EQ(names.variableName(1), "") << "two binaries name id 1 differently";
  EXPECT_EQ(names.localName(202, 3), "acc");
  EXPECT_EQ(names.localName(200, 3), "");

  const tracereader::RunDirectory none = tracereader::readRunDirectory("/nonexistent-dir");
  EXPECT_FALSE(none.isRunDirectory);
  EXPECT_FALSE(none.problems.empty());
}

}  // namespace
