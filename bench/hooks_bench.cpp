// Cost of the hooks on the paths that run at every call and memory access:
// a call between instrumented functions (entry + exit), a start hook that
// adopts an announced frame, accesses classified as the current frame's
// local, as a global, as a heap block and as unknown, and the printer's
// byte path. Run it from a build: ./build/bench/prof_bench
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>

#include "prof/Wrappers.h"
#include "prof/proflibAPI.h"

namespace {

constexpr uint32_t kBenchId = 200;
int global_table[256];

void callee() {}

uint64_t addressOf(const void* f) { return reinterpret_cast<uint64_t>(f); }

void BM_CallEvent(benchmark::State& state) {
  for (auto _ : state) {
    __PROF_FNProcessFunctionEntry(0, addressOf(reinterpret_cast<const void*>(&callee)), kBenchId);
    __PROF_FNProcessFunctionExit();
  }
}
BENCHMARK(BM_CallEvent);

void BM_CallEventWithStart(benchmark::State& state) {
  uint32_t frameId;
  for (auto _ : state) {
    __PROF_FNProcessFunctionEntry(0, addressOf(reinterpret_cast<const void*>(&callee)), kBenchId);
    __PROF_FNProcessFunctionStart(addressOf(reinterpret_cast<const void*>(&callee)), 0, &frameId);
    __PROF_UpdateRetBBCount();
    __PROF_FNProcessFunctionExit();
  }
}
BENCHMARK(BM_CallEventWithStart);

void BM_AccessLocal(benchmark::State& state) {
  int local[64] = {};
  uint32_t frameId;
  __PROF_FNProcessFunctionEntry(0, addressOf(reinterpret_cast<const void*>(&BM_AccessLocal)), kBenchId);
  if (__PROF_FNProcessFunctionStart(addressOf(reinterpret_cast<const void*>(&BM_AccessLocal)), addressOf(local),
                                    &frameId) != 0)
    __PROF_LSInitLocalInfo(1, 1, 1, addressOf(local), sizeof local);
  for (auto _ : state) __PROF_LSVariable(reinterpret_cast<const U8*>(&local[7]));
  __PROF_FNProcessFunctionExit();
}
BENCHMARK(BM_AccessLocal);

void BM_AccessGlobal(benchmark::State& state) {
  for (auto _ : state) __PROF_LSVariable(reinterpret_cast<const U8*>(&global_table[9]));
}
BENCHMARK(BM_AccessGlobal);

void BM_AccessHeap(benchmark::State& state) {
  auto* block = static_cast<int*>(__PROF_Malloc(1024));
  for (auto _ : state) __PROF_LSVariable(reinterpret_cast<const U8*>(&block[5]));
  __PROF_Free(block);
}
BENCHMARK(BM_AccessHeap);

void BM_AccessUnknown(benchmark::State& state) {
  static const char literal[] = "not a registered variable";
  for (auto _ : state) __PROF_LSVariable(reinterpret_cast<const U8*>(literal));
}
BENCHMARK(BM_AccessUnknown);

void BM_PrintU64(benchmark::State& state) {
  for (auto _ : state) __PROF_TRPrintU64(300);
}
BENCHMARK(BM_PrintU64);

}  // namespace

int main(int argc, char** argv) {
  uint32_t frameId;
  __PROF_FNProcessFunctionStart(addressOf(reinterpret_cast<const void*>(&main)), 0, &frameId);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  __PROF_UpdateRetBBCount();
  return 0;
}

extern "C" void __PROF_FNsInitializeFuncStruct(void) {
  __PROF_FNInitializeFuncStruct(200, addressOf(reinterpret_cast<const void*>(&main)), "app_0");
  __PROF_FNInitializeFuncStruct(201, addressOf(reinterpret_cast<const void*>(&callee)), "app_0");
  __PROF_FNInitializeFuncStruct(202, addressOf(reinterpret_cast<const void*>(&BM_AccessLocal)), "app_0");
}

extern "C" void __PROF_LSInitGlobalInfos(FILE* WriteTo, const char* BinaryUid) {
  __PROF_LSInitGlobalInfo(1, addressOf(global_table), sizeof global_table, WriteTo, BinaryUid);
}

extern "C" void __PROF_LSInitTLSs(FILE*, const char*) {}
