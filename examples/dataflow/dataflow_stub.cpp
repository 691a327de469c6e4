// The generated part of the start-up stub of this binary: its functions
// (static ids from 200), its globals, its one thread-local variable and the
// names of the locals its functions register.
#include <csignal>
#include <cstdint>
#include <cstdio>

#include "dataflow.h"
#include "profStub/stub.h"

int main();
int parseHeader(const char* header);
void rejectHeader(const char* header);
uint32_t checksum(const int32_t* values, int count);
void onDone(int);

#define DATAFLOW_FUNCTIONS(F)  \
  F(kMainId, main)             \
  F(kProducerId, producer)     \
  F(kFirStageId, firStage)     \
  F(kConsumerId, consumer)     \
  F(kChecksumId, checksum)     \
  F(kParseHeaderId, parseHeader) \
  F(kRejectHeaderId, rejectHeader) \
  F(kOnDoneId, onDone)         \
  F(kPrintfId, printf)         \
  F(kRaiseId, raise)

#define DATAFLOW_GLOBALS(G) \
  G(kInFifoVar, gInFifo)    \
  G(kOutFifoVar, gOutFifo)  \
  G(kSignalsSeenVar, gSignalsSeen)

// Registered on every thread, for its own instance.
#define DATAFLOW_THREADLOCALS(T) T(kItemsVar, tItems)

// The results array is a variable-length array: its size is known at run time.
#define DATAFLOW_LOCALS(L)                                \
  L(kMainId, kHandlesVar, handles, 3 * sizeof(pthread_t)) \
  L(kMainId, kResultsVar, results, 0)                     \
  L(kProducerId, kSampleVar, sample, sizeof(int32_t))     \
  L(kFirStageId, kStageInVar, x, sizeof(int32_t))         \
  L(kFirStageId, kStageOutVar, y, sizeof(int32_t))        \
  L(kConsumerId, kConsumerValueVar, value, sizeof(int32_t))

PROF_STUB(DATAFLOW_FUNCTIONS, DATAFLOW_GLOBALS, DATAFLOW_THREADLOCALS, DATAFLOW_LOCALS)
