// The design in its instrumented form. Every stage reports its start, the
// locals it owns, its stream operations (through the profiler's stream
// wrappers), its loads, the offsets of its stores and its return; its
// per-thread item counter is a thread-local variable.
#include "dataflow.h"

#include "prof/Wrappers.h"
#include "prof/proflibAPI.h"

Channel gInFifo = {nullptr, PTHREAD_MUTEX_INITIALIZER, PTHREAD_COND_INITIALIZER};
Channel gOutFifo = {nullptr, PTHREAD_MUTEX_INITIALIZER, PTHREAD_COND_INITIALIZER};
volatile sig_atomic_t gSignalsSeen = 0;
thread_local uint32_t tItems = 0;

namespace {

inline uint64_t addressOf(const void* p) { return reinterpret_cast<uint64_t>(p); }
inline uint64_t addressOf(void* (*f)(void*)) { return reinterpret_cast<uint64_t>(reinterpret_cast<const void*>(f)); }
inline const U8* bytes(const void* p) { return static_cast<const U8*>(p); }

// A write never blocks; the reader is woken when its value is queued.
void push(Channel* channel, const int32_t* value) {
  pthread_mutex_lock(&channel->lock);
  __PROF_nuq_hls_stream_blocking_write(&channel->stream, value, sizeof *value);
  pthread_cond_signal(&channel->ready);
  pthread_mutex_unlock(&channel->lock);
}

// Waits for a value first: a blocking read of an empty stream would not
// wait in the simulation, the hardware would.
void pop(Channel* channel, int32_t* value) {
  pthread_mutex_lock(&channel->lock);
  while (nuq_hls_stream_empty(channel->stream) != 0) pthread_cond_wait(&channel->ready, &channel->lock);
  __PROF_nuq_hls_stream_blocking_read(&channel->stream, value, sizeof *value);
  pthread_mutex_unlock(&channel->lock);
}

void countItem() {
  __PROF_LSVariable(bytes(&tItems));
  ++tItems;
}

}  // namespace

void* producer(void*) {
  int32_t sample;
  uint32_t frameId;
  if (__PROF_FNProcessFunctionStart(addressOf(&producer), addressOf(&sample), &frameId) != 0)
    __PROF_LSInitLocalInfo(1, 1, kSampleVar, addressOf(&sample), sizeof sample);

  for (int i = 0; i < kSamples; ++i) {
    __PROF_TRBasicBlockEntry(1);
    sample = sampleAt(i);
    push(&gInFifo, &sample);
    countItem();
  }

  __PROF_UpdateRetBBCount();
  return nullptr;
}

// y[i] = c0 * x[i] + c1 * x[i-1] + c2 * x[i-2], with x[-1] = x[-2] = 0.
void* firStage(void* stageArgs) {
  const int32_t* coeffs = static_cast<const StageArgs*>(stageArgs)->coeffs;
  int32_t x;
  int32_t y;
  uint32_t frameId;
  if (__PROF_FNProcessFunctionStart(addressOf(&firStage), addressOf(&x), &frameId) != 0) {
    __PROF_LSInitLocalInfo(2, 1, kStageInVar, addressOf(&x), sizeof x);
    __PROF_LSInitLocalInfo(2, 2, kStageOutVar, addressOf(&y), sizeof y);
  }

  auto* history = static_cast<int32_t*>(__PROF_Malloc((kTaps - 1) * sizeof(int32_t)));
  history[0] = 0;
  history[1] = 0;

  for (int i = 0; i < kSamples; ++i) {
    pop(&gInFifo, &x);
    for (int k = 0; k < kTaps; ++k) __PROF_LSVariable(bytes(&coeffs[k]));
    __PROF_LSVariable(bytes(&history[0]));
    __PROF_LSVariable(bytes(&history[1]));
    y = coeffs[0] * x + coeffs[1] * history[0] + coeffs[2] * history[1];
    __PROF_LSOffset(4);
    history[1] = history[0];
    __PROF_LSOffset(0);
    history[0] = x;
    push(&gOutFifo, &y);
    countItem();
  }

  __PROF_Free(history);
  __PROF_UpdateRetBBCount();
  return nullptr;
}

void* consumer(void* consumerArgs) {
  int32_t* results = static_cast<ConsumerArgs*>(consumerArgs)->results;
  int32_t value;
  uint32_t frameId;
  if (__PROF_FNProcessFunctionStart(addressOf(&consumer), addressOf(&value), &frameId) != 0)
    __PROF_LSInitLocalInfo(1, 1, kConsumerValueVar, addressOf(&value), sizeof value);

  for (int i = 0; i < kSamples; ++i) {
    pop(&gOutFifo, &value);
    __PROF_LSVariable(bytes(&results[i]));  // an array on the test bench's stack
    results[i] = value;
    countItem();
  }

  // Tells the test bench that the last result is in.
  __PROF_FNProcessFunctionEntry(0, reinterpret_cast<uint64_t>(reinterpret_cast<const void*>(&raise)), kConsumerId);
  raise(SIGUSR1);
  __PROF_FNProcessFunctionExit();

  __PROF_UpdateRetBBCount();
  return nullptr;
}
