// Two threads share one stream: the producer writes four values, the
// consumer waits for each and adds them up.
#include <pthread.h>

#include <cstdio>

#include "hls/nuq_hls_stream.h"

namespace {
HlsStream* gStream;
pthread_mutex_t gLock = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t gReady = PTHREAD_COND_INITIALIZER;
int gSum;
}  // namespace

void* produce(void*) {
  for (int i = 1; i <= 4; ++i) {
    pthread_mutex_lock(&gLock);
    nuq_hls_stream_blocking_write(&gStream, &i, sizeof i);
    pthread_cond_signal(&gReady);
    pthread_mutex_unlock(&gLock);
  }
  return nullptr;
}

void* consume(void*) {
  for (int k = 0; k < 4; ++k) {
    int v;
    pthread_mutex_lock(&gLock);
    while (nuq_hls_stream_empty(gStream) != 0) pthread_cond_wait(&gReady, &gLock);
    nuq_hls_stream_blocking_read(&gStream, &v, sizeof v);
    pthread_mutex_unlock(&gLock);
    gSum += v;
  }
  return nullptr;
}

int main() {
  gStream = nuq_hls_stream_create("shared", 1);
  pthread_t threads[2];
  pthread_create(&threads[0], nullptr, produce, nullptr);
  pthread_create(&threads[1], nullptr, consume, nullptr);
  pthread_join(threads[0], nullptr);
  pthread_join(threads[1], nullptr);
  nuq_hls_stream_delete(gStream);
  std::printf("%d\n", gSum);
  return 0;
}
