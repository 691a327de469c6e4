// Counting a stream's traffic and writing it to the run directory's
// "streams" file. Counting runs inside every stream operation, so it takes
// no lock: it relies on the discipline the design already keeps for the
// stream itself (one thread at a time). Only creation, deletion and the
// exit-time lines, which are rare, take the registry lock, and the lines
// are appended under it, so two threads deleting streams at once write two
// whole lines.
#include "stream_statistics.h"

#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "prof/proflibAPI.h"

namespace {

constexpr uint32_t kNoThread = 4294967295u;

// Guards the registry of live streams, the serial counter and the file.
pthread_mutex_t RegistryLock = PTHREAD_MUTEX_INITIALIZER;
HlsStream* LiveStreams = nullptr;  // newest first
uint64_t NextSerial = 0;
bool ExitHandlerRegistered = false;
// Set by the exit handler: later deletions (threads still running while the
// process exits) write nothing, so no stream gets two lines.
bool ExitLinesWritten = false;

void Unlink(HlsStream* Stream) {
  HlsStreamStatistics* S = Stream->Statistics;
  if (S->PreviousLive != nullptr)
    S->PreviousLive->Statistics->NextLive = S->NextLive;
  else
    LiveStreams = S->NextLive;
  if (S->NextLive != nullptr) S->NextLive->Statistics->PreviousLive = S->PreviousLive;
  S->PreviousLive = S->NextLive = nullptr;
}

// The line of one stream, TAB-separated; a TAB or line end in the name
// becomes a blank so that the line stays one record.
void WriteLine(FILE* File, const HlsStream* Stream) {
  const HlsStreamStatistics* S = Stream->Statistics;
  uint64_t Writes = 0;
  uint64_t Reads = 0;
  for (uint32_t I = 0; I < S->ThreadCount; ++I) {
    Writes += S->Threads[I].Writes;
    Reads += S->Threads[I].Reads;
  }
  fprintf(File, "%llu\t", static_cast<unsigned long long>(S->Serial));
  for (const char* C = Stream->Name; *C != '\0'; ++C) fputc(*C == '\t' || *C == '\n' || *C == '\r' ? ' ' : *C, File);
  fprintf(File, "\t%u\t%llu\t%llu\t%llu\t%u\t%u\t", S->ElementSize, static_cast<unsigned long long>(Writes),
          static_cast<unsigned long long>(Reads), static_cast<unsigned long long>(S->EmptyReads), Stream->Count,
          S->HighWater);
  for (uint32_t I = 0; I < S->ThreadCount; ++I) {
    const HlsStreamThreadCounts& T = S->Threads[I];
    if (I != 0) fputc(' ', File);
    if (T.Thread == kNoThread)
      fputc('-', File);
    else
      fprintf(File, "%u", T.Thread);
    fprintf(File, ":%llu:%llu", static_cast<unsigned long long>(T.Writes), static_cast<unsigned long long>(T.Reads));
  }
  fputc('\n', File);
}

// Opens "<run directory>/streams" for appending and lets ForEach write its
// lines. Without a run directory (a program that never started the
// runtime) there is nowhere to write. A failure to
// write costs the statistics, not the simulation: it is reported and the
// run goes on.
template <typename Each>
void AppendLines(Each ForEach) {
  const char* Directory = __PROF_getRunDirectory();
  if (Directory == nullptr) return;
  const size_t Length = strlen(Directory) + sizeof "/streams";
  char* Path = static_cast<char*>(malloc(Length));
  if (Path == nullptr) HlsOutOfMemory();
  snprintf(Path, Length, "%s/streams", Directory);
  FILE* File = fopen(Path, "a");
  if (File == nullptr) {
    fprintf(stderr, "spec:0:0: warning: [HLS] Could not write the stream statistics to '%s': %s\n", Path,
            strerror(errno));
    free(Path);
    return;
  }
  ForEach(File);
  if (ferror(File) != 0 || fclose(File) != 0)
    fprintf(stderr, "spec:0:0: warning: [HLS] Could not write the stream statistics to '%s'\n", Path);
  free(Path);
}

// Streams still alive at exit get their lines in creation order.
void WriteLiveStreams() {
  pthread_mutex_lock(&RegistryLock);
  if (LiveStreams != nullptr) {
    AppendLines([](FILE* File) {
      HlsStream* Oldest = LiveStreams;
      while (Oldest->Statistics->NextLive != nullptr) Oldest = Oldest->Statistics->NextLive;
      for (HlsStream* S = Oldest; S != nullptr; S = S->Statistics->PreviousLive) WriteLine(File, S);
    });
  }
  ExitLinesWritten = true;
  pthread_mutex_unlock(&RegistryLock);
}

HlsStreamThreadCounts* CountsOfCallingThread(HlsStreamStatistics* S) {
  const uint32_t Thread = __PROF_getThreadNumber();
  if (S->LastThread < S->ThreadCount && S->Threads[S->LastThread].Thread == Thread) [[likely]]
    return &S->Threads[S->LastThread];
  for (uint32_t I = 0; I < S->ThreadCount; ++I) {
    if (S->Threads[I].Thread == Thread) {
      S->LastThread = I;
      return &S->Threads[I];
    }
  }
  // A thread's first use of the stream: the only allocation of counting.
  if (S->ThreadCount == S->ThreadCapacity) {
    const uint32_t Capacity = S->ThreadCapacity == 0 ? 2 : S->ThreadCapacity * 2;
    void* Grown = realloc(S->Threads, sizeof(HlsStreamThreadCounts) * Capacity);
    if (Grown == nullptr) HlsOutOfMemory();
    S->Threads = static_cast<HlsStreamThreadCounts*>(Grown);
    S->ThreadCapacity = Capacity;
  }
  S->LastThread = S->ThreadCount++;
  S->Threads[S->LastThread] = HlsStreamThreadCounts{Thread, 0, 0};
  return &S->Threads[S->LastThread];
}

}  // namespace

void HlsOutOfMemory() {
  fputs("spec:0:0: error: [HLS] Out of memory. Exiting ...\n", stderr);
  _exit(1);
}

void HlsStatisticsCreate(HlsStream* Stream) {
  auto* S = static_cast<HlsStreamStatistics*>(calloc(1, sizeof(HlsStreamStatistics)));
  if (S == nullptr) HlsOutOfMemory();
  Stream->Statistics = S;
  pthread_mutex_lock(&RegistryLock);
  S->Serial = NextSerial++;
  S->NextLive = LiveStreams;
  if (LiveStreams != nullptr) LiveStreams->Statistics->PreviousLive = Stream;
  LiveStreams = Stream;
  if (!ExitHandlerRegistered) {
    ExitHandlerRegistered = true;
    atexit(WriteLiveStreams);
  }
  pthread_mutex_unlock(&RegistryLock);
}

void HlsStatisticsWrote(HlsStream* Stream, uint32_t DataSize) {
  HlsStreamStatistics* S = Stream->Statistics;
  S->ElementSize = DataSize;
  ++CountsOfCallingThread(S)->Writes;
  if (Stream->Count > S->HighWater) S->HighWater = Stream->Count;
}

void HlsStatisticsRead(HlsStream* Stream, uint32_t DataSize) {
  HlsStreamStatistics* S = Stream->Statistics;
  S->ElementSize = DataSize;
  ++CountsOfCallingThread(S)->Reads;
}

void HlsStatisticsEmptyRead(HlsStream* Stream, uint32_t DataSize) {
  Stream->Statistics->ElementSize = DataSize;
  ++Stream->Statistics->EmptyReads;
}

void HlsStatisticsDelete(HlsStream* Stream) {
  HlsStreamStatistics* S = Stream->Statistics;
  pthread_mutex_lock(&RegistryLock);
  Unlink(Stream);
  if (!ExitLinesWritten) AppendLines([Stream](FILE* File) { WriteLine(File, Stream); });
  pthread_mutex_unlock(&RegistryLock);
  free(S->Threads);
  free(S);
  Stream->Statistics = nullptr;
}
