// Tests of the stream model, its two profiler wrappers and its "streams"
// file. The runtime's __PROF_LSBlock, run directory and thread number are
// replaced by fakes defined here: a definition in the test object takes
// precedence over the member of the static prof archive as long as nothing
// else pulls that member in.
#include "hls/nuq_hls_stream.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "prof/Wrappers.h"
#include "prof/proflibAPI.h"

namespace {
std::vector<std::pair<const void*, U64>> Reported;
}

extern "C" void __PROF_LSBlock(const U8* adr, U64 size) { Reported.emplace_back(adr, size); }

// No run directory unless a test gives one; each test thread says which
// profiler thread it plays.
namespace {
const char* RunDirectory = nullptr;
thread_local uint32_t ThreadNumber = 0;
}  // namespace
extern "C" const char* __PROF_getRunDirectory(void) { return RunDirectory; }
extern "C" uint32_t __PROF_getThreadNumber(void) { return ThreadNumber; }

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

// A fresh scratch run directory for the statistics file.
class HlsStreamFile : public testing::Test {
 protected:
  void SetUp() override {
    char Template[] = "/tmp/hls_streams_XXXXXX";
    ASSERT_NE(mkdtemp(Template), nullptr);
    Directory = Template;
    RunDirectory = Directory.c_str();
  }
  void TearDown() override {
    RunDirectory = nullptr;
    std::remove(Path().c_str());
    rmdir(Directory.c_str());
  }
  std::string Path() const { return Directory + "/streams"; }
  std::vector<std::string> Lines() const {
    std::ifstream In(Path());
    std::vector<std::string> Out;
    for (std::string Line; std::getline(In, Line);) Out.push_back(Line);
    return Out;
  }
  // Serials are process-wide; counted here from the smallest in the file.
  std::vector<std::string> RelativeLines() const {
    std::vector<std::string> Out = Lines();
    unsigned long long Base = ~0ull;
    for (const std::string& L : Out) Base = std::min(Base, std::stoull(L));
    for (std::string& L : Out) L = std::to_string(std::stoull(L) - Base) + L.substr(L.find('\t'));
    return Out;
  }
  std::string Directory;
};

TEST_F(HlsStreamFile, DeletionWritesTrafficPerThreadLeftoverAndHighWater) {
  HlsStream* S = nuq_hls_stream_create("in\tfifo", 1);
  HlsStream* Unused = nuq_hls_stream_create("unused", 1);
  uint16_t V = 0;
  ThreadNumber = 3;  // the producer: 3 writes, then 2 more after two reads
  for (int I = 0; I < 3; ++I) nuq_hls_stream_blocking_write(&S, &V, sizeof V);
  ThreadNumber = 5;  // the consumer
  for (int I = 0; I < 2; ++I) nuq_hls_stream_blocking_read(&S, &V, sizeof V);
  ThreadNumber = 3;
  nuq_hls_stream_non_blocking_write(&S, &V, sizeof V);
  __PROF_nuq_hls_stream_blocking_write(&S, &V, sizeof V);  // queue 3, high water stays 3
  ThreadNumber = 5;
  for (int I = 0; I < 3; ++I) nuq_hls_stream_non_blocking_read(&S, &V, sizeof V);
  CaptureStdout();
  nuq_hls_stream_blocking_read(&S, &V, sizeof V);      // empty: counted
  nuq_hls_stream_non_blocking_read(&S, &V, sizeof V);  // a poll: not counted
  GetCapturedStdout();
  ThreadNumber = 4294967295u;  // a thread the profiler does not know
  nuq_hls_stream_blocking_write(&S, &V, sizeof V);
  ThreadNumber = 0;
  EXPECT_EQ(Lines().size(), 0u);  // nothing before deletion
  CaptureStdout();
  nuq_hls_stream_delete(S);
  GetCapturedStdout();
  nuq_hls_stream_delete(Unused);
  EXPECT_EQ(RelativeLines(), (std::vector<std::string>{"0\tin fifo\t2\t6\t5\t1\t1\t3\t3:5:0 5:0:5 -:1:0",
                                               "1\tunused\t0\t0\t0\t0\t0\t0\t"}));
}

// Two threads use one stream under their own lock (as designs do) and each
// deletes streams of its own at the same time: every line stays whole.
TEST_F(HlsStreamFile, TwoThreadsShareAStreamAndDeleteStreamsAtOnce) {
  constexpr int kPerThread = 200;
  HlsStream* Shared = nuq_hls_stream_create("shared", 1);
  pthread_mutex_t Lock = PTHREAD_MUTEX_INITIALIZER;
  auto Work = [&](uint32_t Number, bool Writes) {
    ThreadNumber = Number;
    for (int I = 0; I < kPerThread; ++I) {
      HlsStream* Own = nuq_hls_stream_create("own", 1);
      int V = I;
      nuq_hls_stream_blocking_write(&Own, &V, sizeof V);
      nuq_hls_stream_blocking_read(&Own, &V, sizeof V);
      nuq_hls_stream_delete(Own);
      // The reader polls until a value is there, so every value is read.
      for (int Done = 0; Done == 0; std::this_thread::yield()) {
        pthread_mutex_lock(&Lock);
        if (Writes) {
          nuq_hls_stream_blocking_write(&Shared, &V, sizeof V);
          Done = 1;
        } else {
          Done = nuq_hls_stream_non_blocking_read(&Shared, &V, sizeof V);
        }
        pthread_mutex_unlock(&Lock);
      }
    }
  };
  std::thread A(Work, 1u, true);
  std::thread B(Work, 2u, false);
  A.join();
  B.join();
  nuq_hls_stream_delete(Shared);
  const std::vector<std::string> All = Lines();
  ASSERT_EQ(All.size(), 2u * kPerThread + 1);
  int Own[3] = {0, 0, 0};
  for (size_t I = 0; I + 1 < All.size(); ++I) {
    std::istringstream Fields(All[I]);
    std::string Serial, Name, Size, Writes, Reads, Empty, Leftover, High, Threads;
    std::getline(Fields, Serial, '\t');
    std::getline(Fields, Name, '\t');
    Fields >> Size >> Writes >> Reads >> Empty >> Leftover >> High >> Threads;
    ASSERT_EQ(Name + " " + Size + " " + Writes + " " + Reads + " " + Empty + " " + Leftover + " " + High,
              "own 4 1 1 0 0 1") << All[I];
    ASSERT_TRUE(Threads == "1:1:1" || Threads == "2:1:1") << All[I];
    ++Own[Threads[0] - '0'];
  }
  EXPECT_EQ(Own[1], kPerThread);
  EXPECT_EQ(Own[2], kPerThread);
  std::istringstream Fields(All.back());
  std::string Serial, Name, Size, Writes, Reads, Empty, Leftover, High, First, Second;
  Fields >> Serial >> Name >> Size >> Writes >> Reads >> Empty >> Leftover >> High >> First >> Second;
  const std::string N = std::to_string(kPerThread);
  EXPECT_EQ(Name + " " + Size + " " + Writes + " " + Reads + " " + Empty + " " + Leftover,
            "shared 4 " + N + " " + N + " 0 0");
  EXPECT_GE(std::stoul(High), 1ul);  // how far the writer ran ahead depends on the scheduler
  EXPECT_LE(std::stoul(High), static_cast<unsigned long>(kPerThread));
  // Either thread may reach the shared stream first.
  const std::string Writer = "1:" + N + ":0";
  const std::string Reader = "2:0:" + N;
  EXPECT_TRUE((First == Writer && Second == Reader) || (First == Reader && Second == Writer)) << All.back();
}

// Streams still alive when the process exits get their lines then, in
// creation order; a process without a run directory writes none.
TEST_F(HlsStreamFile, StreamsAliveAtExitAreWrittenByTheExitHandler) {
  const pid_t Child = fork();
  ASSERT_GE(Child, 0);
  if (Child == 0) {
    HlsStream* First = nuq_hls_stream_create("first", 1);
    HlsStream* Second = nuq_hls_stream_create("second", 1);
    HlsStream* Gone = nuq_hls_stream_create("gone", 1);
    const uint8_t B = 7;
    nuq_hls_stream_blocking_write(&Second, &B, 1);
    nuq_hls_stream_delete(Gone);
    (void)First;
    exit(0);
  }
  int Status = 0;
  ASSERT_EQ(waitpid(Child, &Status, 0), Child);
  ASSERT_TRUE(WIFEXITED(Status) && WEXITSTATUS(Status) == 0);
  EXPECT_EQ(RelativeLines(), (std::vector<std::string>{"2\tgone\t0\t0\t0\t0\t0\t0\t",
                                               "0\tfirst\t0\t0\t0\t0\t0\t0\t",
                                               "1\tsecond\t1\t1\t0\t0\t1\t1\t0:1:0"}));
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
