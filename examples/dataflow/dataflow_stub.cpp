// The generated part of the start-up stub of this binary: its functions
// (static ids from 200), its globals and its one thread-local variable.
#include <csignal>
#include <cstdint>
#include <cstdio>

#include "dataflow.h"
#include "init.h"

int main();
int parseHeader(const char* header);
void rejectHeader(const char* header);
uint32_t checksum(const int32_t* values, int count);
void onDone(int);

namespace {
template <typename F>
inline uint64_t addressOf(F* f) {
  return reinterpret_cast<uint64_t>(reinterpret_cast<const void*>(f));
}
}  // namespace

extern "C" void __PROF_FNsInitializeFuncStruct(void) {
  __PROF_FNInitializeFuncStruct(kMainId, addressOf(&main), "app_0");
  __PROF_FNInitializeFuncStruct(kProducerId, addressOf(&producer), "app_0");
  __PROF_FNInitializeFuncStruct(kFirStageId, addressOf(&firStage), "app_0");
  __PROF_FNInitializeFuncStruct(kConsumerId, addressOf(&consumer), "app_0");
  __PROF_FNInitializeFuncStruct(kChecksumId, addressOf(&checksum), "app_0");
  __PROF_FNInitializeFuncStruct(kParseHeaderId, addressOf(&parseHeader), "app_0");
  __PROF_FNInitializeFuncStruct(kRejectHeaderId, addressOf(&rejectHeader), "app_0");
  __PROF_FNInitializeFuncStruct(kOnDoneId, addressOf(&onDone), "app_0");
  __PROF_FNInitializeFuncStruct(kPrintfId, addressOf(&printf), "app_0");
  __PROF_FNInitializeFuncStruct(kRaiseId, addressOf(&raise), "app_0");
}

extern "C" void __PROF_LSInitGlobalInfos(FILE* mapping, const char* binary) {
  __PROF_LSInitGlobalInfo(kInFifoVar, reinterpret_cast<U64>(&gInFifo), sizeof gInFifo, mapping, binary);
  __PROF_LSInitGlobalInfo(kOutFifoVar, reinterpret_cast<U64>(&gOutFifo), sizeof gOutFifo, mapping, binary);
  __PROF_LSInitGlobalInfo(kSignalsSeenVar, reinterpret_cast<U64>(&gSignalsSeen), sizeof gSignalsSeen, mapping,
                          binary);
}

// Runs on every thread, for its own instance.
extern "C" void __PROF_LSInitTLSs(FILE* mapping, const char* binary) {
  __PROF_LSInitTLS(kItemsVar, reinterpret_cast<U64>(&tItems), sizeof tItems, mapping, binary);
}
