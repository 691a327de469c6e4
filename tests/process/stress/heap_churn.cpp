// Threads that allocate, reallocate and free through the wrappers as fast
// as they can, all at once: heap_churn <threads> <steps per thread>
// [mmap]; with "mmap" they map and unmap pages instead. Each
// thread follows its own replayable sequence (heap_churn_ops.h) and frees
// what it still holds at the end. Threads are numbered in creation order:
// each has made its first profiled call before the next one starts.
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "heap_churn_ops.h"
#include "instrumented.h"

using instrumented::addressOf;

int main(int argc, char** argv);

namespace {

long gSteps = 0;
bool gMappings = false;
std::atomic<bool> gGo{false};
std::atomic<int> gStarted{0};

void* worker(void* arg) {
  uint32_t frame = 0;
  instrumented::start(&worker, &frame);
  gStarted.fetch_add(1);
  while (!gGo.load()) sched_yield();
  heapchurn::Sequence sequence(reinterpret_cast<uintptr_t>(arg));
  void* block[heapchurn::kSlots] = {};
  size_t size[heapchurn::kSlots] = {};
  bool live[heapchurn::kSlots] = {};
  for (long i = 0; i < gSteps; ++i) {
    const heapchurn::Step s = sequence.next(live, gMappings);
    void*& p = block[s.slot];
    if (gMappings) {
      if (s.op == heapchurn::Op::Malloc) {
        p = __PROF_Mmap(nullptr, s.size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) abort();
        size[s.slot] = s.size;
      } else {
        if (__PROF_Munmap(p, size[s.slot]) != 0) abort();
        p = nullptr;
      }
      live[s.slot] = p != nullptr;
      continue;
    }
    switch (s.op) {
      case heapchurn::Op::Malloc:
        p = __PROF_Malloc(s.size);
        if (p == nullptr) abort();
        static_cast<char*>(p)[0] = 1;
        break;
      case heapchurn::Op::Realloc:
        p = __PROF_Realloc(p, s.size);
        if (p == nullptr) abort();
        break;
      case heapchurn::Op::ReallocToZero:
        p = __PROF_Realloc(p, 0);  // releases the block
        if (p != nullptr) abort();
        break;
      case heapchurn::Op::Free:
        __PROF_Free(p);
        p = nullptr;
        break;
    }
    live[s.slot] = p != nullptr;
  }
  for (int slot = 0; slot < heapchurn::kSlots; ++slot) {
    if (block[slot] == nullptr) continue;
    if (gMappings)
      __PROF_Munmap(block[slot], size[slot]);
    else
      __PROF_Free(block[slot]);
  }
  instrumented::returning();
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t frame = 0;
  instrumented::start(&main, &frame);
  const int threads = argc > 2 ? atoi(argv[1]) : 4;
  gSteps = argc > 2 ? atol(argv[2]) : 1000;
  gMappings = argc > 3 && strcmp(argv[3], "mmap") == 0;
  std::vector<pthread_t> handles(static_cast<size_t>(threads));
  for (int t = 0; t < threads; ++t) {
    pthread_create(&handles[static_cast<size_t>(t)], nullptr, worker, reinterpret_cast<void*>(uintptr_t(t)));
    while (gStarted.load() != t + 1) sched_yield();
  }
  gGo.store(true);
  for (pthread_t h : handles) pthread_join(h, nullptr);
  instrumented::returning();
  return 0;
}

extern "C" void __PROF_FNsInitializeFuncStruct(void) {
  __PROF_FNInitializeFuncStruct(200, addressOf(&main), "app_0");
  __PROF_FNInitializeFuncStruct(201, addressOf(&worker), "app_0");
}

extern "C" void __PROF_LSInitGlobalInfos(FILE*, const char*) {}

extern "C" void __PROF_LSInitTLSs(FILE*, const char*) {}
