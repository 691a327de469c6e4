// The test bench, as a designer writes it: checks the configuration header
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

namespace {
std::jmp_buf gMalformedHeader;
}  // namespace

// Leaves the header parsing altogether: back to the test bench.
[[noreturn]] void rejectHeader(const char*) { std::longjmp(gMalformedHeader, 1); }

// "DF<n>": a dataflow run of n samples.
int parseHeader(const char* header) {
  if (strncmp(header, "DF", 2) != 0) rejectHeader(header);
  return atoi(header + 2);
}

// Reads the results through its argument, a pointer into main's frame.
uint32_t checksum(const int32_t* values, int count) {
  uint32_t sum = 0;
  for (int i = 0; i < count; ++i) sum = sum * 31 + static_cast<uint32_t>(values[i]);
  return sum;
}

void onDone(int) { gSignalsSeen = gSignalsSeen + 1; }

int main() {
  pthread_t handles[3];

  static const char rejected[] = "header '%s' rejected\n";
  const char* malformed = "XX16";
  if (setjmp(gMalformedHeader) == 0) {
    parseHeader(malformed);
  } else {
    printf(rejected, malformed);
  }
  const int samples = parseHeader("DF16");
  if (samples != kSamples) {
    fprintf(stderr, "dataflow: the design is built for %d samples, not %d\n", kSamples, samples);
    return 1;
  }

  // Filter coefficients: two taps first, then grown to three.
  auto* coeffs = static_cast<int32_t*>(malloc(2 * sizeof(int32_t)));
  coeffs = static_cast<int32_t*>(realloc(coeffs, kTaps * sizeof(int32_t)));
  const int32_t taps[kTaps] = {3, -1, 2};
  for (int k = 0; k < kTaps; ++k) coeffs[k] = taps[k];

  int32_t results[samples];

  gInFifo.stream = nuq_hls_stream_create("in_fifo", 1);
  gOutFifo.stream = nuq_hls_stream_create("out_fifo", 1);
  signal(SIGUSR1, onDone);

  StageArgs stageArgs{coeffs};
  ConsumerArgs consumerArgs{results};
  pthread_create(&handles[0], nullptr, producer, nullptr);
  pthread_create(&handles[1], nullptr, firStage, &stageArgs);
  pthread_create(&handles[2], nullptr, consumer, &consumerArgs);
  pthread_setname_np(handles[1], "fir-stage");
  for (pthread_t handle : handles) pthread_join(handle, nullptr);

  free(coeffs);

  const uint32_t sum = checksum(results, samples);

  static const char line[] = "y[%d] = %d\n";
  for (int i = 0; i < samples; ++i) printf(line, i, results[i]);
  static const char summary[] = "checksum %08x, completion signals %d\n";
  printf(summary, sum, static_cast<int>(gSignalsSeen));

  nuq_hls_stream_delete(gInFifo.stream);
  nuq_hls_stream_delete(gOutFifo.stream);
  return 0;
}
