// Tests of the stream model and its two profiler wrappers. The runtime's
// __PROF_LSBlock is replaced by a recording fake defined here: a definition
// in the test object takes precedence over the member of the static prof
// archive as long as nothing else pulls that member in.
#include "hls/nuq_hls_stream.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "prof/Wrappers.h"
#include "prof/proflibAPI.h"

namespace {
std::vector<std::pair<const void*, U64>> Reported;
}

extern "C" void __PROF_LSBlock(const U8* adr, U64 size) { Reported.emplace_back(adr, size); }

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

std::string EmptyReadWarning(const std::string& Name) {
  return "spec:0:0: warning: Hls::stream '" + Name +
         "' is read while empty, which may result in RTL simulation hanging.\n";
}

TEST(HlsStream, EmptyReadsWarnOnlyWhenBlockingAndLeaveDestination) {
  HlsStream* S = nuq_hls_stream_create("in_fifo", 1);
  uint32_t Value = 0xdeadbeef;
  CaptureStdout();
  EXPECT_EQ(nuq_hls_stream_non_blocking_read(&S, &Value, sizeof Value), 0);
  EXPECT_EQ(GetCapturedStdout(), "");
  CaptureStdout();
  EXPECT_EQ(nuq_hls_stream_blocking_read(&S, &Value, sizeof Value), 0);
  EXPECT_EQ(GetCapturedStdout(), EmptyReadWarning("in_fifo"));
  EXPECT_EQ(Value, 0xdeadbeefu);
  nuq_hls_stream_delete(S);
}

TEST(HlsStream, FifoOrderSizeEmptyAndRefillAfterDrain) {
  HlsStream* S = nuq_hls_stream_create("q", 0);
  EXPECT_EQ(nuq_hls_stream_empty(S), 1);
  for (int V = 1; V <= 3; ++V) {
    if (V == 2)
      EXPECT_EQ(nuq_hls_stream_non_blocking_write(&S, &V, sizeof V), 1);
    else
      nuq_hls_stream_blocking_write(&S, &V, sizeof V);
    EXPECT_EQ(nuq_hls_stream_full(S), 0);
  }
  EXPECT_EQ(nuq_hls_stream_size(S), 3u);
  for (int Expected = 1; Expected <= 3; ++Expected) {
    EXPECT_EQ(nuq_hls_stream_empty(S), 0);
    int Got = 0;
    const int Ok = Expected == 2 ? nuq_hls_stream_non_blocking_read(&S, &Got, sizeof Got)
                                 : nuq_hls_stream_blocking_read(&S, &Got, sizeof Got);
    EXPECT_EQ(Ok, 1);
    EXPECT_EQ(Got, Expected);
    EXPECT_EQ(nuq_hls_stream_size(S), 3u - Expected);
  }
  EXPECT_EQ(nuq_hls_stream_empty(S), 1);
  EXPECT_EQ(S->Front, nullptr);
  EXPECT_EQ(S->Back, nullptr);

  // The drained stream must not keep a dangling Back to link behind.
  const int Four = 4;
  nuq_hls_stream_blocking_write(&S, &Four, sizeof Four);
  EXPECT_NE(S->Front, nullptr);
  EXPECT_EQ(S->Front, S->Back);
  int Got = 0;
  EXPECT_EQ(nuq_hls_stream_blocking_read(&S, &Got, sizeof Got), 1);
  EXPECT_EQ(Got, 4);
  nuq_hls_stream_delete(S);
}

TEST(HlsStream, DeleteWarnsOnceAboutLeftoverData) {
  HlsStream* S = nuq_hls_stream_create("out_fifo", 1);
  const char Bytes[3] = {1, 2, 3};
  nuq_hls_stream_blocking_write(&S, Bytes, 3);
  nuq_hls_stream_blocking_write(&S, Bytes, 3);
  CaptureStdout();
  nuq_hls_stream_delete(S);
  EXPECT_EQ(GetCapturedStdout(),
            "spec:0:0: warning: Hls::stream 'out_fifo' contains leftover data, which may result "
            "in RTL simulation hanging.\n");
  CaptureStdout();
  nuq_hls_stream_delete(nuq_hls_stream_create("drained", 1));
  EXPECT_EQ(GetCapturedStdout(), "");
}

TEST(HlsStream, PrintListsValuesMostSignificantByteFirst) {
  HlsStream* S = nuq_hls_stream_create("p", 1);
  CaptureStdout();
  nuq_hls_print_stream(S, 4);
  EXPECT_EQ(GetCapturedStdout(), "stream content: <none>\n");

  const uint16_t Half = 0xABCD;
  HlsStream* H = nuq_hls_stream_create("h", 1);
  nuq_hls_stream_blocking_write(&H, &Half, sizeof Half);
  CaptureStdout();
  nuq_hls_print_stream(H, sizeof Half);
  EXPECT_EQ(GetCapturedStdout(), "stream content: 0xabcd\n");
  nuq_hls_stream_delete(H);  // the leftover warning goes to the real stdout

  for (uint32_t V : {1u, 258u, 0xfeu}) nuq_hls_stream_blocking_write(&S, &V, sizeof V);
  CaptureStdout();
  nuq_hls_print_stream(S, 4);
  EXPECT_EQ(GetCapturedStdout(), "stream content: 0x00000001, 0x00000102, 0x000000fe\n");
  EXPECT_EQ(nuq_hls_stream_size(S), 3u);  // printing does not consume
  uint32_t Drain = 0;
  while (nuq_hls_stream_non_blocking_read(&S, &Drain, sizeof Drain) == 1) {
  }
  nuq_hls_stream_delete(S);
}

// The generated numbers are process-wide, so they are checked in a fresh
// child process where the counter starts at 0.
TEST(HlsStream, GeneratedNamesCountInHexAndUserNamesAreCopied) {
  int Pipe[2];
  ASSERT_EQ(pipe(Pipe), 0);
  const pid_t Child = fork();
  ASSERT_GE(Child, 0);
  if (Child == 0) {
    close(Pipe[0]);
    std::string Names;
    auto Add = [&](const char* Name, int User) {
      HlsStream* S = nuq_hls_stream_create(Name, User);
      Names += S->Name;
      Names += '\n';
      nuq_hls_stream_delete(S);
    };
    Add("hls::stream<float>::stream()", 0);
    Add("hls::stream<float>::stream()", 0);
    Add("hls::stream<int>::stream()", 1);  // user-given: kept, no number used
    Add("in_fifo", 0);                     // no constructor suffix: kept
    for (int I = 2; I < 11; ++I) Add("hls::stream<int>::stream()", 0);
    Add("a::stream()::stream()b", 0);  // first occurrence cuts the name
    if (write(Pipe[1], Names.data(), Names.size()) != static_cast<ssize_t>(Names.size()))
      _exit(2);
    _exit(0);
  }
  close(Pipe[1]);
  std::string Names;
  char Buffer[256];
  for (ssize_t N; (N = read(Pipe[0], Buffer, sizeof Buffer)) > 0;) Names.append(Buffer, N);
  close(Pipe[0]);
  int Status = 0;
  ASSERT_EQ(waitpid(Child, &Status, 0), Child);
  ASSERT_TRUE(WIFEXITED(Status) && WEXITSTATUS(Status) == 0);
  EXPECT_EQ(Names,
            "hls::stream<float>_0\nhls::stream<float>_1\nhls::stream<int>::stream()\nin_fifo\n"
            "hls::stream<int>_2\nhls::stream<int>_3\nhls::stream<int>_4\nhls::stream<int>_5\n"
            "hls::stream<int>_6\nhls::stream<int>_7\nhls::stream<int>_8\nhls::stream<int>_9\n"
            "hls::stream<int>_a\na_b\n");
}

TEST(HlsStream, WrappersOperateThenReportBlocksInOrder) {
  HlsStream* S = nuq_hls_stream_create("w", 1);
  const uint64_t In = 42;
  Reported.clear();
  __PROF_nuq_hls_stream_blocking_write(&S, &In, sizeof In);
  using Blocks = std::vector<std::pair<const void*, U64>>;
  EXPECT_EQ(Reported, (Blocks{{&In, 8}, {&S, 1}, {&S, 1}}));
  EXPECT_EQ(nuq_hls_stream_size(S), 1u);

  uint64_t Out = 0;
  Reported.clear();
  EXPECT_EQ(__PROF_nuq_hls_stream_blocking_read(&S, &Out, sizeof Out), 1);
  EXPECT_EQ(Out, 42u);
  EXPECT_EQ(Reported, (Blocks{{&S, 1}, {&Out, 8}, {&S, 1}}));

  // An empty read still warns, returns 0 and reports the same blocks.
  Reported.clear();
  CaptureStdout();
  EXPECT_EQ(__PROF_nuq_hls_stream_blocking_read(&S, &Out, sizeof Out), 0);
  EXPECT_EQ(GetCapturedStdout(), EmptyReadWarning("w"));
  EXPECT_EQ(Reported, (Blocks{{&S, 1}, {&Out, 8}, {&S, 1}}));
  nuq_hls_stream_delete(S);
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// A write that cannot get memory must stop the simulation instead of copying
// through a null block. The address-space limit makes the 4 GiB element fail;
// the sanitizers reserve too much address space to run under such a limit.
void WriteHugeElementUnderAddressSpaceLimit() {
  HlsStream* S = nuq_hls_stream_create("big", 1);
  const struct rlimit Limit = {1ul << 30, 1ul << 30};
  setrlimit(RLIMIT_AS, &Limit);
  char Byte = 0;
  nuq_hls_stream_blocking_write(&S, &Byte, UINT32_MAX);
}

TEST(HlsStreamDeathTest, OutOfMemoryEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(WriteHugeElementUnderAddressSpaceLimit(), testing::ExitedWithCode(1),
              "^spec:0:0: error: \\[HLS\\] Out of memory\\. Exiting \\.\\.\\.\n$");
}
#endif

}  // namespace
