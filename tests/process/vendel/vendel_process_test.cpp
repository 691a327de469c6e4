// Runs the simulation in its own process and checks everything it leaves
// behind: console lines, data files, the run directory with its manifest,
// and the main thread's trace byte for byte.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "process_support.h"
#include "vendel_expect.h"

using namespace proctest;

namespace {

// The main thread's records: entry of main, the design's five call events
// and 128 store offsets, its exit, then per library call one unknown-variable
// access per reported pointer and one exit, and main's own exit.
std::vector<uint8_t> expectedMainTrace(bool memoryAccesses) {
  std::vector<uint8_t> t = {0x18, 0x05, 0x1A, static_cast<uint8_t>(memoryAccesses ? 1 : 0), 0x01};
  const std::vector<uint8_t> entryOfMain = {0x00, 0xC8, 0x01, 0x00};
  t.insert(t.end(), entryOfMain.begin(), entryOfMain.end());
  for (int k = 0; k < 5; ++k) t.push_back(0x02);
  if (memoryAccesses)
    for (int w = 0; w < 128; ++w) appendSleb(t, 4 * w);
  t.push_back(0x02);
  auto call = [&](int pointers) {
    if (memoryAccesses)
      for (int p = 0; p < pointers; ++p) t.insert(t.end(), {0x04, 0x00, 0x00});
    t.push_back(0x02);
  };
  for (int f = 0; f < 3; ++f) call(2);      // fopen(name, "w")
  for (int i = 0; i < 1152; ++i) call(2);   // fprintf(stream, format)
  for (int f = 0; f < 3; ++f) call(1);      // fclose(stream)
  for (int w = 0; w < 128; ++w) call(1);    // printf(format)
  t.push_back(0x02);                         // main returns
  return t;
}

std::vector<uint8_t> compressLevel4(const std::vector<uint8_t>& content) {
  uLongf size = compressBound(content.size());
  std::vector<uint8_t> out(size);
  EXPECT_EQ(compress2(out.data(), &size, content.data(), content.size(), 4), Z_OK);
  out.resize(size);
  return out;
}

mode_t modeOf(const std::string& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

}  // namespace

TEST(Vendel, RunLeavesConsoleDataFilesAndManifest) {
  const std::string profile = profileDir("vendel_under_test");
  removeAll(profile);
  const std::string cwd = scratchDir("vendel-run");
  const RunResult r = run(programPath("vendel_under_test"), {"a b", "x\"y\\z"}, cwd);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, vendelConsole());
  EXPECT_EQ(readFile(cwd + "/inA.dat"), vendelDataFile(0));
  EXPECT_EQ(readFile(cwd + "/inB.dat"), vendelDataFile(1));
  EXPECT_EQ(readFile(cwd + "/out_vendel.dat"), vendelDataFile(2));

  const std::vector<std::string> dirs = runDirs(profile);
  ASSERT_EQ(dirs.size(), 1u);
  EXPECT_EQ(dirs[0], profile + "/app_0_0");
  EXPECT_EQ(modeOf(dirs[0]), 0700u);
  EXPECT_EQ(modeOf(profile), 0700u);

  EXPECT_EQ(readFile(dirs[0] + "/workingDirectory"), cwd);
  EXPECT_EQ(readFile(dirs[0] + "/commandline"),
            "\"" + programPath("vendel_under_test") + "\" \"a b\" \"x\\\"y\\\\z\"");
  EXPECT_EQ(readFile(dirs[0] + "/binaries"), "app_0\n");
  EXPECT_EQ(readFile(dirs[0] + "/lookupOrder"), "app_0\n");
  EXPECT_EQ(readFile(dirs[0] + "/globalVariableMapping"), "");
  EXPECT_EQ(readFile(dirs[0] + "/functionMapping"),
            "200 app_0 200\n201 app_0 201\n202 app_0 202\n203 app_0 203\n204 app_0 204\n205 app_0 205\n");
  EXPECT_FALSE(exists(dirs[0] + "/thread0001-trace.txt"));

  // A second run numbers its directory one higher.
  ASSERT_EQ(run(programPath("vendel_under_test"), {}, cwd).exitCode, 0);
  EXPECT_EQ(latestRunDir(profile), profile + "/app_0_1");
  EXPECT_EQ(readFile(profile + "/app_0_1/commandline"), "\"" + programPath("vendel_under_test") + "\"");
}

TEST(Vendel, MainThreadTraceIsExact) {
  const std::string profile = profileDir("vendel_under_test");
  removeAll(profile);
  ASSERT_EQ(run(programPath("vendel_under_test"), {}, scratchDir("vendel-trace")).exitCode, 0);
  const std::string dir = latestRunDir(profile);
  const Trace trace = readTrace(dir, 0);
  EXPECT_TRUE(trace.complete);
  const std::vector<uint8_t> expected = expectedMainTrace(true);
  ASSERT_EQ(trace.bytes.size(), expected.size());
  EXPECT_EQ(trace.bytes, expected);

  const std::string file = readFile(dir + "/thread0000-trace.txt");
  EXPECT_EQ(std::vector<uint8_t>(file.begin(), file.end()), compressLevel4(expected));
}

TEST(Vendel, WithoutMemoryTracingOnlyFunctionRecordsRemain) {
  const std::string profile = profileDir("vendel_no_mem");
  removeAll(profile);
  const RunResult r = run(programPath("vendel_no_mem"), {}, scratchDir("vendel-no-mem"));
  ASSERT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, vendelConsole());
  const Trace trace = readTrace(latestRunDir(profile), 0);
  EXPECT_TRUE(trace.complete);
  EXPECT_EQ(trace.bytes, expectedMainTrace(false));
}

TEST(Vendel, MissingProfileDirectoryIsCreatedWithItsParents) {
  const std::string top = std::string(PROF_TEST_PROFILES_DIR) + "/vendel_deep";
  removeAll(top);
  const RunResult r = run(programPath("vendel_deep_profile"), {}, scratchDir("vendel-deep"));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(exists(top + "/a/b/c/app_0_0/functionMapping"));
  EXPECT_EQ(modeOf(top + "/a"), 0700u);
  EXPECT_EQ(modeOf(top + "/a/b/c"), 0700u);
}

TEST(Vendel, ProfilePathThatIsAFileStopsBeforeTheBench) {
  const std::string top = std::string(PROF_TEST_PROFILES_DIR) + "/vendel_deep";
  removeAll(top);
  mkdir(top.c_str(), 0700);
  mkdir((top + "/a").c_str(), 0700);
  mkdir((top + "/a/b").c_str(), 0700);
  FILE* f = fopen((top + "/a/b/c").c_str(), "w");
  ASSERT_NE(f, nullptr);
  fclose(f);
  const std::string cwd = scratchDir("vendel-file-profile");
  const RunResult r = run(programPath("vendel_deep_profile"), {}, cwd);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "spec:0:0: error: [TRACE] Could not create a unique trace directory '" + top +
                       "/a/b/c/app_0_<number>'\n");
  EXPECT_EQ(r.out, "");
  EXPECT_FALSE(exists(cwd + "/inA.dat"));
}

TEST(Vendel, UnopenableDataFileIsSkippedWithAWarning) {
  const std::string profile = profileDir("vendel_under_test");
  removeAll(profile);
  const std::string cwd = scratchDir("vendel-unopenable");
  mkdir((cwd + "/inB.dat").c_str(), 0700);  // fopen(..., "w") fails on a directory
  const RunResult r = run(programPath("vendel_under_test"), {}, cwd);
  ASSERT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "vendel_test: warning: cannot open 'inB.dat' for writing, its data is not written\n");
  EXPECT_EQ(r.out, vendelConsole());
  EXPECT_EQ(readFile(cwd + "/inA.dat"), vendelDataFile(0));
  EXPECT_EQ(readFile(cwd + "/out_vendel.dat"), vendelDataFile(2));
  EXPECT_TRUE(readTrace(latestRunDir(profile), 0).complete);
}
