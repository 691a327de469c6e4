// A three-stage dataflow design: a producer generates samples, a three-tap
// FIR stage filters them and a consumer collects the results. The stages
// run concurrently, each on its own thread, and hand values over through
// HLS streams, in order.
#pragma once

#include <pthread.h>
#include <signal.h>

#include <cstdint>

#include "hls/nuq_hls_stream.h"

constexpr int kSamples = 16;
constexpr int kTaps = 3;

// A stream between two stages. The stream model has no locks: every
// operation on `stream` happens under `lock`, and a reader waits on `ready`
// until a value is queued.
struct Channel {
  HlsStream* stream;
  pthread_mutex_t lock;
  pthread_cond_t ready;
};

extern Channel gInFifo;   // producer -> FIR stage
extern Channel gOutFifo;  // FIR stage -> consumer
// Completion signals the test bench has received.
extern volatile sig_atomic_t gSignalsSeen;
// Values this thread has handled.
extern thread_local uint32_t tItems;

struct StageArgs {
  const int32_t* coeffs;  // kTaps coefficients
};

struct ConsumerArgs {
  int32_t* results;  // kSamples outputs
};

// Thread bodies of the three stages.
void* producer(void* unused);
void* firStage(void* stageArgs);
void* consumer(void* consumerArgs);

// The sample the producer emits at step i.
constexpr int32_t sampleAt(int i) { return (i * 7) % 23 - 11; }
