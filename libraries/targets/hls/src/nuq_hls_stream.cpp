// The stream model behind the design's hardware FIFOs, and the two profiler
// wrappers that instrumented code calls instead of the blocking operations.
// Streams and their elements live in plain malloc memory; the wrappers
// report the memory they touched through __PROF_LSBlock of the profiling
// runtime, which is linked after this library.
#include "hls/nuq_hls_stream.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "prof/Wrappers.h"
#include "prof/proflibAPI.h"
#include "stream_statistics.h"

// The value's bytes follow Next directly in the same allocation.
struct HlsStreamElement {
  HlsStreamElement* Next;
};

namespace {

// Numbers the streams whose name is generated. Unsynchronised: such
// streams are created from one thread.
int ObjectCount = 0;

unsigned char* ElementData(HlsStreamElement* Element) {
  return reinterpret_cast<unsigned char*>(Element) + sizeof(HlsStreamElement);
}

void* HlsMalloc(size_t Size) {
  void* Block = malloc(Size);
  if (Block == nullptr) HlsOutOfMemory();
  return Block;
}

// Builds the display name. Anonymous streams arrive with their
// constructor's name "<type>::stream()"; they are told apart by a number.
char* parse_class_name(const char* Name, int IsUserGivenName) {
  const char* Suffix = strstr(Name, "::stream()");
  if (IsUserGivenName != 0 || Suffix == nullptr) {
    const size_t Length = strlen(Name);
    char* Copy = static_cast<char*>(HlsMalloc(Length + 1));
    memcpy(Copy, Name, Length + 1);
    return Copy;
  }
  const int PrefixLength = static_cast<int>(Suffix - Name);
  const unsigned Number = static_cast<unsigned>(ObjectCount);
  const int Length = snprintf(nullptr, 0, "%.*s_%x", PrefixLength, Name, Number);
  char* Generated = static_cast<char*>(HlsMalloc(static_cast<size_t>(Length) + 1));
  snprintf(Generated, static_cast<size_t>(Length) + 1, "%.*s_%x", PrefixLength, Name, Number);
  ++ObjectCount;
  return Generated;
}

// Most significant byte first on this little-endian target, so the value
// reads as one hexadecimal number.
void printData(HlsStreamElement* Element, uint32_t DataSize) {
  const unsigned char* Data = ElementData(Element);
  fputs("0x", stdout);
  for (uint32_t Index = DataSize; Index > 0; --Index) printf("%02hhx", Data[Index - 1]);
}

// Shared by both reads; only the blocking one warns, because only there
// would the hardware wait forever.
int Read(HlsStream* Stream, void* Data, uint32_t DataSize, bool WarnWhenEmpty) {
  if (Stream->Count == 0) {
    if (WarnWhenEmpty) {
      HlsStatisticsEmptyRead(Stream, DataSize);
      printf("spec:0:0: warning: Hls::stream '%s' is read while empty, which may result in RTL "
             "simulation hanging.\n",
             Stream->Name);
    }
    return 0;
  }
  HlsStreamElement* Element = Stream->Front;
  memcpy(Data, ElementData(Element), DataSize);
  Stream->Front = Element->Next;
  free(Element);
  if (Stream->Front == nullptr) Stream->Back = nullptr;
  --Stream->Count;
  HlsStatisticsRead(Stream, DataSize);
  return 1;
}

}  // namespace

extern "C" {

HlsStream* nuq_hls_stream_create(const char* Name, int IsUserGivenName) {
  HlsStream* Stream = static_cast<HlsStream*>(HlsMalloc(sizeof(HlsStream)));
  Stream->Front = nullptr;
  Stream->Back = nullptr;
  Stream->Name = parse_class_name(Name, IsUserGivenName);
  Stream->Count = 0;
  HlsStatisticsCreate(Stream);
  return Stream;
}

int nuq_hls_stream_full(HlsStream* /*Stream*/) { return 0; }

int nuq_hls_stream_empty(HlsStream* Stream) { return Stream->Count == 0 ? 1 : 0; }

uint32_t nuq_hls_stream_size(HlsStream* Stream) { return Stream->Count; }

void nuq_hls_stream_blocking_write(HlsStream** StreamPtr, const void* Data, uint32_t DataSize) {
  HlsStream* Stream = *StreamPtr;
  HlsStreamElement* Element =
      static_cast<HlsStreamElement*>(HlsMalloc(sizeof(HlsStreamElement) + size_t{DataSize}));
  memcpy(ElementData(Element), Data, DataSize);
  Element->Next = nullptr;
  if (Stream->Back != nullptr)
    Stream->Back->Next = Element;
  else
    Stream->Front = Element;
  Stream->Back = Element;
  ++Stream->Count;
  HlsStatisticsWrote(Stream, DataSize);
}

int nuq_hls_stream_non_blocking_write(HlsStream** StreamPtr, const void* Data,
                                      uint32_t DataSize) {
  nuq_hls_stream_blocking_write(StreamPtr, Data, DataSize);
  return 1;
}

int nuq_hls_stream_blocking_read(HlsStream** StreamPtr, void* Data, uint32_t DataSize) {
  return Read(*StreamPtr, Data, DataSize, true);
}

int nuq_hls_stream_non_blocking_read(HlsStream** StreamPtr, void* Data, uint32_t DataSize) {
  return Read(*StreamPtr, Data, DataSize, false);
}

void nuq_hls_print_stream(HlsStream* Stream, uint32_t DataSize) {
  if (Stream->Count == 0) {
    fputs("stream content: <none>\n", stdout);
    return;
  }
  fputs("stream content: ", stdout);
  for (HlsStreamElement* Element = Stream->Front; Element != nullptr; Element = Element->Next) {
    if (Element != Stream->Front) fputs(", ", stdout);
    printData(Element, DataSize);
  }
  fputc('\n', stdout);
}

void nuq_hls_stream_delete(HlsStream* Stream) {
  if (Stream == nullptr) return;
  if (Stream->Count != 0)
    printf("spec:0:0: warning: Hls::stream '%s' contains leftover data, which may result in RTL "
           "simulation hanging.\n",
           Stream->Name);
  HlsStatisticsDelete(Stream);
  HlsStreamElement* Element = Stream->Front;
  while (Element != nullptr) {
    HlsStreamElement* Next = Element->Next;
    free(Element);
    Element = Next;
  }
  free(Stream->Name);
  free(Stream);
}

// The order and repetition of the reports are what later analysis of the
// trace expects for a stream write; the handle counts as a one-byte block.
void __PROF_nuq_hls_stream_blocking_write(void* handle, const void* Data, uint32_t DataSize) {
  nuq_hls_stream_blocking_write(static_cast<HlsStream**>(handle), Data, DataSize);
  __PROF_LSBlock(static_cast<const U8*>(Data), DataSize);
  __PROF_LSBlock(static_cast<const U8*>(handle), 1);
  __PROF_LSBlock(static_cast<const U8*>(handle), 1);
}

// Reported also when the stream was empty, so that the trace shows the same
// accesses whatever the simulation happened to queue.
int __PROF_nuq_hls_stream_blocking_read(void* handle, void* Data, uint32_t DataSize) {
  const int Result = nuq_hls_stream_blocking_read(static_cast<HlsStream**>(handle), Data, DataSize);
  __PROF_LSBlock(static_cast<const U8*>(handle), 1);
  __PROF_LSBlock(static_cast<const U8*>(Data), DataSize);
  __PROF_LSBlock(static_cast<const U8*>(handle), 1);
  return Result;
}

}  // extern "C"
