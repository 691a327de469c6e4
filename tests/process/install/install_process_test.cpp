// Installs this build into a temporary prefix, moves the prefix, and builds
// the probe (a small hand-instrumented C program outside this tree) against
// it with find_package and with pkg-config; runs it and checks its run
// directory. Also configures a project that adds this tree with
// add_subdirectory and finds nothing itself.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "process_support.h"
#include "trace_expect.h"

namespace {

const std::string kProbeDir = std::string(PROF_INSTALL_TEST_DIR) + "/probe";
enum : uint32_t { kMain = 200, kAccumulate, kPrintf };
enum : uint32_t { kTotal = 1, kWindow };

std::string describe(const proctest::RunResult& r) { return r.out + r.err; }

proctest::RunResult cmake(const std::vector<std::string>& args) { return proctest::run(PROF_CMAKE, args); }

proctest::RunResult shell(const std::string& command) { return proctest::run("/bin/sh", {"-c", command}); }

class InstalledPackage : public testing::Test {
 protected:
  // One installation for the suite: installed, then moved, so that every
  // path the package uses must be relative to where it lies now.
  static void SetUpTestSuite() {
    scratch_ = new std::string(proctest::scratchDir("install"));
    const std::string first = *scratch_ + "/first-prefix";
    const proctest::RunResult r = cmake({"--install", PROF_BUILD_DIR, "--prefix", first});
    installed_ = r.exitCode == 0;
    if (!installed_) {
      ADD_FAILURE() << "cmake --install: " << describe(r);
      return;
    }
    std::filesystem::rename(first, prefix());
  }
  static void TearDownTestSuite() { delete scratch_; }

  void SetUp() override {
    if (PROF_SANITIZED) GTEST_SKIP() << "the installed libraries carry the sanitizer; the probe does not";
    ASSERT_TRUE(installed_);
  }

  static std::string prefix() { return *scratch_ + "/prefix"; }
  static std::string scratch() { return *scratch_; }

  // Runs the probe and checks what it printed and its one run directory.
  static void runProbe(const std::string& program, const std::string& profile) {
    const proctest::RunResult r = proctest::run(program, {}, scratch());
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(r.out, "total 18\n");
    EXPECT_EQ(r.err, "");

    const std::vector<std::string> runs = proctest::runDirs(profile);
    ASSERT_EQ(runs.size(), 1u) << profile;
    const std::string& run = runs[0];
    EXPECT_EQ(proctest::readFile(run + "/binaries"), "app_0\n");
    EXPECT_EQ(proctest::readFile(run + "/functionMapping"), "200 app_0 200\n201 app_0 201\n202 app_0 202\n");
    EXPECT_EQ(proctest::readFile(run + "/globalVariableMapping"),
              "function\tapp_0\t200\tmain\n"
              "function\tapp_0\t201\taccumulate\n"
              "function\tapp_0\t202\tprintf\n"
              "global\tapp_0\t1\tgTotal\t4\t\t0\n"
              "local\tapp_0\t201\t2\twindow\t8\n");

    expect::Trace t;
    t.entry(kMain, 0);
    for (int i = 1; i <= 3; ++i) t.entry(kAccumulate, kMain).local(kWindow, 4).global(kTotal, 0).exitWith(3 * i);
    t.exit().exit();  // printf, main
    expect::expectTrace(run, 0, t);
    EXPECT_FALSE(proctest::exists(run + "/thread0001-trace.txt"));
  }

  static inline std::string* scratch_ = nullptr;
  static inline bool installed_ = false;
};

TEST_F(InstalledPackage, FindPackageBuildsAnOutOfTreeProgram) {
  const std::string build = scratch() + "/probe-cmake";
  const std::string profile = scratch() + "/profiles/cmake";
  proctest::RunResult r = cmake({"-S", kProbeDir, "-B", build, "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                                 "-DCMAKE_PREFIX_PATH=" + prefix(), "-DCMAKE_C_COMPILER=" PROF_C_COMPILER,
                                 "-DCMAKE_CXX_COMPILER=" PROF_CXX_COMPILER, "-DPROBE_PROFILE_DIR=" + profile,
                                 "-DPROBE_PROF_VERSION=" PROF_VERSION});
  ASSERT_EQ(r.exitCode, 0) << describe(r);
  r = cmake({"--build", build, "-j", "2"});
  ASSERT_EQ(r.exitCode, 0) << describe(r);
  runProbe(build + "/probe", profile);
}

TEST_F(InstalledPackage, PkgConfigBuildsTheSameProgram) {
  if (!proctest::exists("/usr/bin/pkg-config")) GTEST_SKIP() << "pkg-config is not installed";
  const std::string build = scratch() + "/probe-pkgconfig";
  const std::string profile = scratch() + "/profiles/pkgconfig";
  std::filesystem::create_directories(build);
  // What a Makefile would do: the stub's sources come from the package.
  const std::string command =
      "set -e; export PKG_CONFIG_PATH='" + prefix() + "/" PROF_INSTALL_LIBDIR "/pkgconfig'; cd '" + build +
      "'; stub=$(pkg-config --variable=stubdir prof); "
      "'" PROF_C_COMPILER "' -c $(pkg-config --cflags prof) '" + kProbeDir + "/probe.c' '" + kProbeDir +
      "/probe_stub.c'; '" PROF_CXX_COMPILER "' -o probe -DPROF_PROFILE_DIR='\"" + profile +
      "\"' -I\"$stub\" $(pkg-config --cflags prof) probe.o probe_stub.o \"$stub/init.cpp\" "
      "\"$stub/prof_stub.cpp\" $(pkg-config --libs prof)";
  const proctest::RunResult r = shell(command);
  ASSERT_EQ(r.exitCode, 0) << describe(r);
  runProbe(build + "/probe", profile);
}

// The tree's own CMake finds what it links: the parent calls neither
// find_package(ZLIB) nor find_package(Threads). Configuring is enough: a
// link item that cannot be resolved fails the generation step.
TEST(SourceTree, UsableThroughAddSubdirectory) {
  const std::string build = proctest::scratchDir("install-subproject");
  const proctest::RunResult r =
      cmake({"-S", std::string(PROF_INSTALL_TEST_DIR) + "/subproject", "-B", build,
             "-DPROF_SOURCE_DIR=" PROF_SOURCE_DIR, "-DCMAKE_C_COMPILER=" PROF_C_COMPILER,
             "-DCMAKE_CXX_COMPILER=" PROF_CXX_COMPILER});
  EXPECT_EQ(r.exitCode, 0) << describe(r);
}

// The profile directory is baked into the programs, which may run anywhere:
// a relative one is refused however it is given, never made absolute
// against the directory cmake happens to run in.
TEST(SourceTree, RefusesARelativeProfileDirectory) {
  for (const char* form : {"", ":STRING", ":PATH"}) {
    SCOPED_TRACE(form);
    const std::string build = proctest::scratchDir("install-relative");
    const proctest::RunResult r = cmake({"-S", PROF_SOURCE_DIR, "-B", build, "-DPROF_BUILD_TESTS=OFF",
                                         std::string("-DPROF_PROFILE_DIR") + form + "=profiles"});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find("PROF_PROFILE_DIR must be an absolute path, got 'profiles'"), std::string::npos) << r.err;
  }
}

}  // namespace
