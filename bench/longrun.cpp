// A long traced run for cost and trace size per event: argv[1] events (trace
// records) in iterations of three, a call to one of eight functions (entry
// record), an access to one of the callee's locals (local record) and its
// return (exit record). Prints the time spent in the loop; the driver reads
// the trace sizes and the peak memory after the process has ended.
#include <time.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "prof/proflibAPI.h"

namespace {

// Distinct bodies, so that no two share an address after identical-code
// folding.
volatile int sink;
void f0() { sink = 0; }
void f1() { sink = 1; }
void f2() { sink = 2; }
void f3() { sink = 3; }
void f4() { sink = 4; }
void f5() { sink = 5; }
void f6() { sink = 6; }
void f7() { sink = 7; }
void (*const callees[8])() = {f0, f1, f2, f3, f4, f5, f6, f7};

uint64_t addressOf(const void* p) { return reinterpret_cast<uint64_t>(p); }
uint64_t addressOf(void (*f)()) { return reinterpret_cast<uint64_t>(reinterpret_cast<const void*>(f)); }
uint64_t addressOf(int (*f)(int, char**)) { return reinterpret_cast<uint64_t>(reinterpret_cast<const void*>(f)); }

uint64_t nowNs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<uint64_t>(t.tv_sec) * 1000000000u + static_cast<uint64_t>(t.tv_nsec);
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t frameId;
  __PROF_FNProcessFunctionStart(addressOf(main), 0, &frameId);
  const uint64_t events = argc > 1 ? strtoull(argv[1], nullptr, 10) : 1000000;
  const uint64_t iterations = events / 3;
  int locals[64] = {};
  const uint64_t begin = nowNs();
  for (uint64_t i = 0; i < iterations; ++i) {
    const uint64_t callee = addressOf(callees[i % 8]);
    __PROF_FNProcessFunctionEntry(1, callee, 200);
    if (__PROF_FNProcessFunctionStart(callee, addressOf(locals), &frameId) != 0)
      __PROF_LSInitLocalInfo(1, 1, 1, addressOf(locals), sizeof locals);
    __PROF_LSVariable(reinterpret_cast<const U8*>(&locals[(i * 7) % 64]));
    __PROF_UpdateRetBBCount();
    __PROF_FNProcessFunctionExit();
  }
  const uint64_t elapsed = nowNs() - begin;
  printf("events=%" PRIu64 " loop_ns=%" PRIu64 "\n", iterations * 3, elapsed);
  __PROF_UpdateRetBBCount();
  return 0;
}

extern "C" void __PROF_FNsInitializeFuncStruct(void) {
  __PROF_FNInitializeFuncStruct(200, addressOf(main), "app_0");
  for (uint32_t i = 0; i < 8; ++i) __PROF_FNInitializeFuncStruct(201 + i, addressOf(callees[i]), "app_0");
}
extern "C" void __PROF_LSInitGlobalInfos(FILE*, const char*) {}
extern "C" void __PROF_LSInitTLSs(FILE*, const char*) {}
