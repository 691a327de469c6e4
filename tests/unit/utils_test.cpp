// Run-directory numbering and directory creation.
#include "utils.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

// The exhaustion test needs malloc to answer null, also under the
// sanitizers (which would otherwise stop the process themselves).
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }
extern "C" const char* __tsan_default_options() { return "allocator_may_return_null=1"; }

namespace {

class RunDirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/prof-utils-XXXXXX";
    root_ = mkdtemp(pattern);
  }
  void TearDown() override { std::filesystem::remove_all(root_); }

  void makeEntry(const std::string& name) { ASSERT_EQ(mkdir((root_ + "/" + name).c_str(), 0700), 0); }

  std::string uniqueDir(const std::string& in) {
    const char* result = nullptr;
    EXPECT_EQ(__PROF_mk_unique_dir(in.c_str(), "app_0", &result), 1);
    std::string path = result ? result : "";
    free(const_cast<char*>(result));
    return path;
  }

  std::string root_;
};

TEST_F(RunDirectoryTest, EmptyDirectoryStartsAtZeroAndCountsUp) {
  EXPECT_EQ(uniqueDir(root_), root_ + "/app_0_0");
  EXPECT_EQ(uniqueDir(root_), root_ + "/app_0_1");
}

TEST_F(RunDirectoryTest, NextNumberFollowsTheLargestWithoutFillingGaps) {
  for (const char* name : {"app_0_0", "app_0_1", "app_0_9"}) makeEntry(name);
  EXPECT_EQ(uniqueDir(root_), root_ + "/app_0_10");
}

TEST_F(RunDirectoryTest, MalformedNamesAreIgnoredAndLeadingZerosCount) {
  for (const char* name : {"app_0_x", "app_0_-1", "app_0_3b", "app_00_7", "app_1_5"}) makeEntry(name);
  EXPECT_EQ(uniqueDir(root_), root_ + "/app_0_0");
  makeEntry("app_0_03");
  EXPECT_EQ(uniqueDir(root_), root_ + "/app_0_4");
}

TEST_F(RunDirectoryTest, EntriesOfAnyTypeCount) {
  FILE* f = fopen((root_ + "/app_0_6").c_str(), "w");
  ASSERT_NE(f, nullptr);
  fclose(f);
  EXPECT_EQ(uniqueDir(root_), root_ + "/app_0_7");
}

TEST_F(RunDirectoryTest, MissingDirectoryIsCreatedWithParentsAndTrailingSlash) {
  const std::string deep = root_ + "/x/y/z/";
  EXPECT_EQ(__PROF_mkdir_recursive(deep.c_str()), 1);
  struct stat st {};
  ASSERT_EQ(stat((root_ + "/x/y/z").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(uniqueDir(deep), root_ + "/x/y/z//app_0_0");
}

TEST_F(RunDirectoryTest, AProfilePathThatIsAFileYieldsNoDirectory) {
  const std::string file = root_ + "/plain";
  FILE* f = fopen(file.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fclose(f);
  const char* result = nullptr;
  EXPECT_EQ(__PROF_mk_unique_dir(file.c_str(), "app_0", &result), 0);
  EXPECT_EQ(result, nullptr);
}

TEST_F(RunDirectoryTest, UncreatableDirectoryIsFatal) {
  const std::string file = root_ + "/plain";
  FILE* f = fopen(file.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fclose(f);
  const std::string below = file + "/sub";
  EXPECT_EXIT(__PROF_mkdir_recursive(below.c_str()), ::testing::ExitedWithCode(1),
              "mkdir failed: : Not a directory\nspec:0:0: error: \\[TRACE\\] Could not create directory '" + below +
                  "'\n");
}

TEST(GuardedAllocation, WarningCarriesItsPrefix) {
  ::testing::internal::CaptureStderr();
  __PROF_warning("Variables %d and %d partially overlap\n", 2, 1);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "tracing:0:0: warning: Variables 2 and 1 partially overlap\n");
}

TEST(GuardedAllocation, ExhaustionIsFatalWithItsMessage) {
  EXPECT_EXIT(ProfMalloc(SIZE_MAX / 2), ::testing::ExitedWithCode(1),
              "spec:0:0: error: \\[ProfMalloc\\] Out of memory. Exiting ...\n");
}

}  // namespace
