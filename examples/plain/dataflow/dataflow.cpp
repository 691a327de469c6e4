// The design's three stages, as a designer writes them: no profiling code.
#include "dataflow.h"

#include <cstdlib>

Channel gInFifo = {nullptr, PTHREAD_MUTEX_INITIALIZER, PTHREAD_COND_INITIALIZER};
Channel gOutFifo = {nullptr, PTHREAD_MUTEX_INITIALIZER, PTHREAD_COND_INITIALIZER};
volatile sig_atomic_t gSignalsSeen = 0;
thread_local uint32_t tItems = 0;

namespace {

// A write never blocks; the reader is woken when its value is queued.
void push(Channel* channel, const int32_t* value) {
  pthread_mutex_lock(&channel->lock);
  nuq_hls_stream_blocking_write(&channel->stream, value, sizeof *value);
  pthread_cond_signal(&channel->ready);
  pthread_mutex_unlock(&channel->lock);
}

// Waits for a value first: a blocking read of an empty stream would not
// wait in the simulation, the hardware would.
void pop(Channel* channel, int32_t* value) {
  pthread_mutex_lock(&channel->lock);
  while (nuq_hls_stream_empty(channel->stream) != 0) pthread_cond_wait(&channel->ready, &channel->lock);
  nuq_hls_stream_blocking_read(&channel->stream, value, sizeof *value);
  pthread_mutex_unlock(&channel->lock);
}

void countItem() { ++tItems; }

}  // namespace

void* producer(void*) {
  int32_t sample;
  for (int i = 0; i < kSamples; ++i) {
    sample = sampleAt(i);
    push(&gInFifo, &sample);
    countItem();
  }
  return nullptr;
}

// y[i] = c0 * x[i] + c1 * x[i-1] + c2 * x[i-2], with x[-1] = x[-2] = 0.
void* firStage(void* stageArgs) {
  const int32_t* coeffs = static_cast<const StageArgs*>(stageArgs)->coeffs;
  int32_t x;
  int32_t y;
  auto* history = static_cast<int32_t*>(malloc((kTaps - 1) * sizeof(int32_t)));
  history[0] = 0;
  history[1] = 0;

  for (int i = 0; i < kSamples; ++i) {
    pop(&gInFifo, &x);
    y = coeffs[0] * x + coeffs[1] * history[0] + coeffs[2] * history[1];
    history[1] = history[0];
    history[0] = x;
    push(&gOutFifo, &y);
    countItem();
  }

  free(history);
  return nullptr;
}

void* consumer(void* consumerArgs) {
  int32_t* results = static_cast<ConsumerArgs*>(consumerArgs)->results;
  int32_t value;
  for (int i = 0; i < kSamples; ++i) {
    pop(&gOutFifo, &value);
    results[i] = value;
    countItem();
  }
  // Tells the test bench that the last result is in.
  raise(SIGUSR1);
  return nullptr;
}
