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

// Static ids of the binary's functions (registered by the stub).
enum FunctionIds : uint32_t {
  kMainId = 200,
  kProducerId,
  kFirStageId,
  kConsumerId,
  kChecksumId,
  kParseHeaderId,
  kRejectHeaderId,
  kOnDoneId,
  kPrintfId,
  kRaiseId,
};

// Identifiers of the variables the profiler knows.
enum VariableIds : uint32_t {
  kInFifoVar = 1,    // global
  kOutFifoVar,       // global
  kSignalsSeenVar,   // global
  kItemsVar,         // thread-local
  kHandlesVar,       // main: static local
  kResultsVar,       // main: variable-length array
  kSampleVar,        // producer: static local
  kStageInVar,       // FIR stage: static locals
  kStageOutVar,
  kConsumerValueVar  // consumer: static local
};

// A stream between two stages. The stream model has no locks: every
// operation on `stream` happens under `lock`, and a reader waits on `ready`
// until a value is queued. `stream` is the handle variable the design's
// stream operations report, so it stays the first member.
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
