// The test bench in its instrumented form: checks the configuration header
// (a malformed one is left by a non-local exit out of two nested calls),
// puts the filter coefficients on the heap, starts the three stages on
// their own threads, names the filter's thread, waits for all of them, and
// prints the results, their checksum and the completion signals received.
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dataflow.h"
#include "prof/Wrappers.h"
#include "prof/proflibAPI.h"

namespace {

std::jmp_buf gMalformedHeader;

template <typename F>
inline uint64_t addressOf(F* f) {
  return reinterpret_cast<uint64_t>(reinterpret_cast<const void*>(f));
}
inline uint64_t addressOf(const void* p) { return reinterpret_cast<uint64_t>(p); }
inline const U8* bytes(const volatile void* p) { return static_cast<const U8*>(const_cast<const void*>(p)); }

}  // namespace

// Leaves the header parsing altogether: back to the test bench.
[[noreturn]] void rejectHeader(const char*) {
  uint32_t frameId;
  __PROF_FNProcessFunctionStart(addressOf(&rejectHeader), 0, &frameId);
  std::longjmp(gMalformedHeader, 1);
}

// "DF<n>": a dataflow run of n samples.
int parseHeader(const char* header) {
  uint32_t frameId;
  __PROF_FNProcessFunctionStart(addressOf(&parseHeader), 0, &frameId);
  if (strncmp(header, "DF", 2) != 0) {
    __PROF_FNProcessFunctionEntry(1, addressOf(&rejectHeader), kParseHeaderId);
    rejectHeader(header);
  }
  const int samples = atoi(header + 2);
  __PROF_UpdateRetBBCount();
  return samples;
}

// Reads the results through its argument, a pointer into main's frame.
uint32_t checksum(const int32_t* values, int count) {
  uint32_t frameId;
  __PROF_FNProcessFunctionStart(addressOf(&checksum), 0, &frameId);
  uint32_t sum = 0;
  for (int i = 0; i < count; ++i) {
    __PROF_TRBasicBlockEntry(2);
    __PROF_LSVariable(bytes(&values[i]));
    sum = sum * 31 + static_cast<uint32_t>(values[i]);
  }
  __PROF_UpdateRetBBCount();
  return sum;
}

// Installed through the signal wrapper: runs with tracing suspended, so
// its hooks leave nothing in the trace of the thread it interrupts.
void onDone(int) {
  uint32_t frameId;
  __PROF_FNProcessFunctionStart(addressOf(&onDone), 0, &frameId);
  __PROF_LSVariable(bytes(&gSignalsSeen));
  gSignalsSeen = gSignalsSeen + 1;
  __PROF_UpdateRetBBCount();
}

int main() {
  pthread_t handles[3];
  uint32_t frameId;
  if (__PROF_FNProcessFunctionStart(addressOf(&main), addressOf(handles), &frameId) != 0)
    __PROF_LSInitLocalInfo(1, 1, kHandlesVar, addressOf(handles), sizeof handles);

  __PROF_TRPrintString(bytes("dataflow"));

  static const char rejected[] = "header '%s' rejected\n";
  const char* malformed = "XX16";
  if (setjmp(gMalformedHeader) == 0) {
    __PROF_FNProcessFunctionEntry(1, addressOf(&parseHeader), kMainId);
    parseHeader(malformed);
    __PROF_FNProcessFunctionExit();
  } else {
    __PROF_FNProcessFunctionUnwind(frameId, 1);
    __PROF_FNProcessFunctionEntry(0, addressOf(&printf), kMainId);
    printf(rejected, malformed);
    __PROF_FNProcessFunctionExit();
  }
  __PROF_FNProcessFunctionEntry(1, addressOf(&parseHeader), kMainId);
  const int samples = parseHeader("DF16");
  __PROF_FNProcessFunctionExitWithReturnValue(static_cast<uint64_t>(samples));
  if (samples != kSamples) {
    fprintf(stderr, "dataflow: the design is built for %d samples, not %d\n", kSamples, samples);
    return 1;
  }
  __PROF_TRPrintU64(static_cast<U64>(samples));

  // Filter coefficients: two taps first, then grown to three.
  auto* coeffs = static_cast<int32_t*>(__PROF_Malloc(2 * sizeof(int32_t)));
  coeffs = static_cast<int32_t*>(__PROF_Realloc(coeffs, kTaps * sizeof(int32_t)));
  const int32_t taps[kTaps] = {3, -1, 2};
  for (int k = 0; k < kTaps; ++k) {
    __PROF_LSVariable(bytes(&coeffs[k]));
    coeffs[k] = taps[k];
  }

  __PROF_LSStackSave();
  int32_t results[samples];
  __PROF_LSInitVla(kResultsVar, addressOf(results), sizeof results);

  gInFifo.stream = nuq_hls_stream_create("in_fifo", 1);
  gOutFifo.stream = nuq_hls_stream_create("out_fifo", 1);
  __PROF_Signal(SIGUSR1, onDone);

  StageArgs stageArgs{coeffs};
  ConsumerArgs consumerArgs{results};
  __PROF_pthread_create(&handles[0], nullptr, producer, nullptr);
  __PROF_pthread_create(&handles[1], nullptr, firStage, &stageArgs);
  __PROF_pthread_create(&handles[2], nullptr, consumer, &consumerArgs);
  __PROF_pthread_setname_np(handles[1], "fir-stage");
  for (pthread_t handle : handles) __PROF_pthread_join(handle, nullptr);

  __PROF_Free(coeffs);

  __PROF_FNProcessFunctionEntry(1, addressOf(&checksum), kMainId);
  const uint32_t sum = checksum(results, samples);
  __PROF_FNProcessFunctionExitWithReturnValue(sum);

  static const char line[] = "y[%d] = %d\n";
  for (int i = 0; i < samples; ++i) {
    __PROF_FNProcessFunctionEntry(0, addressOf(&printf), kMainId);
    printf(line, i, results[i]);
    __PROF_FNProcessFunctionExit();
  }
  static const char summary[] = "checksum %08x, completion signals %d\n";
  __PROF_FNProcessFunctionEntry(0, addressOf(&printf), kMainId);
  printf(summary, sum, static_cast<int>(gSignalsSeen));
  __PROF_FNProcessFunctionExit();

  __PROF_LSStackRestore();
  nuq_hls_stream_delete(gInFifo.stream);
  nuq_hls_stream_delete(gOutFifo.stream);
  __PROF_UpdateRetBBCount();
  return 0;
}
