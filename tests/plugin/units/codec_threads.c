/* Three workers filter their own signal at the same time, each long enough
 * that its trace is several 64 KiB chunks compressed; nothing they trace
 * depends on how they interleave, so every build writes the same records. */
#include <pthread.h>
#include <stdio.h>

enum { kWorkers = 3, kSamples = 4096, kPasses = 24 };

static int gSignal[kWorkers][kSamples];
static int gWorkerIds[kWorkers] = {0, 1, 2};
static long gSums[kWorkers];

static void* filter(void* arg) {
  const int w = *(const int*)arg;
  int* s = gSignal[w];
  for (int i = 0; i < kSamples; ++i) s[i] = (i * (w + 3)) % 251;
  for (int pass = 0; pass < kPasses; ++pass)
    for (int i = 1; i < kSamples - 1; ++i) s[i] = (s[i - 1] + 2 * s[i] + s[i + 1] + pass) / 4;
  long sum = 0;
  for (int i = 0; i < kSamples; ++i) sum += s[i];
  gSums[w] = sum;
  return NULL;
}

int main(void) {
  pthread_t threads[kWorkers];
  for (int w = 0; w < kWorkers; ++w) pthread_create(&threads[w], NULL, filter, &gWorkerIds[w]);
  for (int w = 0; w < kWorkers; ++w) pthread_join(threads[w], NULL);
  printf("%ld %ld %ld\n", gSums[0], gSums[1], gSums[2]);
  return 0;
}
