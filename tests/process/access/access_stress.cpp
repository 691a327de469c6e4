// Worker threads that allocate, grow and release heap blocks, open scopes
// with arrays, and meanwhile classify each other's blocks, locals, arrays
// and thread-locals. Every worker runs the same fixed sequence, so the
// driver can check each trace record by record.
//
// Per worker: entry of worker (201), its index as an untagged value, then
// kIterations rounds, then its exit. The main thread meanwhile looks at
// the workers' locals until it has joined them all. Locals of worker: 1 = [0, 31] and
// 2 = [48, 63] of its frame; its array 3 has 16 bytes; t_buf is 9.
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "prof/proflibAPI.h"

// Addresses of released blocks are reported on purpose, as numbers; they
// are never dereferenced.
#pragma GCC diagnostic ignored "-Wuse-after-free"

int main();

namespace {

constexpr int kWorkers = 4;
constexpr int kIterations = 300;
constexpr uint32_t kMainId = 200;
constexpr uint32_t kWorkerId = 201;

thread_local unsigned char t_buf[16];

std::atomic<unsigned char*> blockOf[kWorkers];
std::atomic<unsigned char*> localsOf[kWorkers];
std::atomic<unsigned char*> arrayOf[kWorkers];
std::atomic<unsigned char*> tlsOf[kWorkers];
pthread_barrier_t allStarted;
pthread_barrier_t allDone;

inline U64 addr(const void* p) { return reinterpret_cast<U64>(p); }
template <typename F>
inline U64 fnAddr(F* f) {
  return reinterpret_cast<U64>(reinterpret_cast<const void*>(f));
}
inline void access(const void* p, size_t offset) { __PROF_LSVariable(static_cast<const U8*>(p) + offset); }

void* worker(void* arg) {
  const auto w = static_cast<int>(reinterpret_cast<intptr_t>(arg));
  alignas(16) unsigned char locals[64];
  unsigned char array[16];
  uint32_t frameId = 0;
  // All workers start at once: several may build the layout, one wins.
  if (__PROF_FNProcessFunctionStart(fnAddr(&worker), addr(locals), &frameId) != 0) {
    __PROF_LSInitLocalInfo(2, 1, 1, addr(locals), 32);
    __PROF_LSInitLocalInfo(2, 2, 2, addr(locals + 48), 16);
  }
  __PROF_TRPrintU64(static_cast<U64>(w));
  localsOf[w] = locals;
  arrayOf[w] = array;
  tlsOf[w] = t_buf;
  pthread_barrier_wait(&allStarted);

  for (int i = 0; i < kIterations; ++i) {
    const size_t size = 16 + static_cast<size_t>(i % 8) * 8;
    __PROF_FNProcessFunctionEntry(0, fnAddr(&malloc), kWorkerId);
    auto* block = static_cast<unsigned char*>(malloc(size));
    __PROF_LSInsertHeapInfo(block, size, __PROF_getCalleeUID());
    __PROF_FNProcessFunctionExit();
    blockOf[w] = block;
    access(block, size - 1);

    const int o = (w + 1 + i % (kWorkers - 1)) % kWorkers;
    access(blockOf[o].load(), 0);  // may be released or moved meanwhile
    access(localsOf[o].load(), 5);
    access(localsOf[o].load(), 40);  // between its locals
    access(tlsOf[o].load(), 3);

    __PROF_LSStackSave();
    __PROF_LSInitVla(3, addr(array), sizeof array);
    access(array, 15);
    access(arrayOf[o].load(), 2);  // its scope opens and closes meanwhile
    __PROF_LSStackRestore();

    size_t current = size;
    if (i % 3 == 0) {
      current = size * 2;
      __PROF_FNProcessFunctionEntry(0, fnAddr(&realloc), kWorkerId);
      const U64 old = addr(block);
      auto* grown = static_cast<unsigned char*>(realloc(block, current));
      __PROF_LSReallocHeapInfo(reinterpret_cast<const U8*>(old), grown, current, __PROF_getCalleeUID());
      __PROF_FNProcessFunctionExit();
      block = grown;
      blockOf[w] = block;
      access(block, current - 1);
    }
    blockOf[w] = nullptr;
    __PROF_FNProcessFunctionEntry(0, fnAddr(&free), kWorkerId);
    __PROF_LSFreeHeap(addr(block));
    free(block);
    __PROF_FNProcessFunctionExit();
  }

  pthread_barrier_wait(&allDone);
  __PROF_UpdateRetBBCount();
  return nullptr;
}

}  // namespace

extern "C" void __PROF_FNsInitializeFuncStruct(void) {
  __PROF_FNInitializeFuncStruct(kMainId, fnAddr(&main), "app_0");
  __PROF_FNInitializeFuncStruct(kWorkerId, fnAddr(&worker), "app_0");
}

extern "C" void __PROF_LSInitGlobalInfos(FILE*, const char*) {}

extern "C" void __PROF_LSInitTLSs(FILE* writeTo, const char* binaryUid) {
  __PROF_LSInitTLS(9, addr(t_buf), sizeof t_buf, writeTo, binaryUid);
}

int main() {
  uint32_t frameId = 0;
  __PROF_FNProcessFunctionStart(fnAddr(&main), 0, &frameId);
  pthread_barrier_init(&allStarted, nullptr, kWorkers);
  pthread_barrier_init(&allDone, nullptr, kWorkers);
  pthread_t threads[kWorkers];
  for (intptr_t w = 0; w < kWorkers; ++w)
    pthread_create(&threads[w], nullptr, worker, reinterpret_cast<void*>(w));
  // Until every worker is joined, look at each worker's local 1: found
  // while the worker runs, unknown from when it has left its frame on,
  // also while it finishes its trace and is released.
  for (auto& locals : localsOf)
    while (locals.load() == nullptr) sched_yield();
  bool joined[kWorkers] = {};
  for (int left = kWorkers; left > 0;) {
    for (auto& locals : localsOf) access(locals.load(), 5);
    for (int w = 0; w < kWorkers; ++w) {
      if (joined[w] || pthread_tryjoin_np(threads[w], nullptr) != 0) continue;
      joined[w] = true;
      --left;
    }
    usleep(50);
  }
  for (auto& locals : localsOf) access(locals.load(), 5);  // all joined
  pthread_barrier_destroy(&allStarted);
  pthread_barrier_destroy(&allDone);
  __PROF_UpdateRetBBCount();
  return 0;
}
