/* Three workers filter their own signal at the same time, each long enough
 * that its trace is several 64 KiB chunks compressed; nothing they trace
 * depends on how they interleave, so every build writes the same records. */
#include <pthread.h>
#include <stdio.h>

#ifdef COUNT_COMPRESSION_THREADS
#include <dirent.h>
#include <string.h>

/* Left uninstrumented by the build (EXCLUDE): what it reads depends on the
 * build, the workers' traces must not. */
int compressionThreads(void) {
  DIR* tasks = opendir("/proc/self/task");
  if (tasks == NULL) return -1;
  int count = 0;
  for (struct dirent* e = readdir(tasks); e != NULL; e = readdir(tasks)) {
    char path[300], name[32] = "";
    snprintf(path, sizeof path, "/proc/self/task/%s/comm", e->d_name);
    FILE* f = fopen(path, "r");
    if (f == NULL) continue;
    if (fgets(name, sizeof name, f) != NULL && strcmp(name, "prof-compress\n") == 0) ++count;
    fclose(f);
  }
  closedir(tasks);
  return count;
}
#endif

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
#ifdef COUNT_COMPRESSION_THREADS
  fprintf(stderr, "compression threads: %d\n", compressionThreads());
#endif
  return 0;
}
