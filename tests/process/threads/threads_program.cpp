// A hand-instrumented program with several threads; its first argument
// picks the scenario:
//   many <n>        n threads started with plain pthread_create, each with
//                   one profiled call, joined by main;
//   nested-exit     a thread that calls pthread_exit three instrumented
//                   calls deep;
//   blocked-at-exit two threads blocked inside instrumented calls while
//                   main calls exit;
//   exit-waits      threads known to the profiler that never make a
//                   profiled call (one created through the wrapper, one
//                   named, one looked up by a failed join), then exit;
//   two-exits       two threads that call exit at nearly the same moment:
//                   the second while the first runs the exit handlers.
// Threads started with plain pthread_create stand for threads started by
// uninstrumented code: their numbers are taken at their first profiled
// call. Every thread prints its index so that the driver can tell them
// apart whatever numbers they got.
#include <pthread.h>
#include <semaphore.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "instrumented.h"
#include "prof/Wrappers.h"

using instrumented::addressOf;
using instrumented::enter;
using instrumented::leave;
using instrumented::returning;
using instrumented::start;

int main(int argc, char** argv);

namespace {

constexpr uint32_t kMain = 200;
constexpr uint32_t kWorker = 201;
constexpr uint32_t kNestOuter = 203;
constexpr uint32_t kNestMiddle = 204;
constexpr uint32_t kBlocker = 206;

void* asArg(uintptr_t index) { return reinterpret_cast<void*>(index); }
uint64_t indexOf(void* arg) { return reinterpret_cast<uintptr_t>(arg); }

// Waits for good: the thread stays where it is until the process ends.
[[noreturn]] void blockForever() {
  sem_t never;
  sem_init(&never, 0, 0);
  for (;;) sem_wait(&never);
}

void leaf() {
  uint32_t frame = 0;
  start(&leaf, &frame);
  returning();
}

void* worker(void* arg) {
  uint32_t frame = 0;
  start(&worker, &frame);
  __PROF_TRPrintU64(indexOf(arg));
  enter(&leaf, kWorker);
  leaf();
  leave();
  returning();
  return nullptr;
}

void nestInner() {
  uint32_t frame = 0;
  start(&nestInner, &frame);
  pthread_exit(nullptr);  // the thread ends three instrumented frames deep
}

void nestMiddle() {
  uint32_t frame = 0;
  start(&nestMiddle, &frame);
  enter(&nestInner, kNestMiddle);
  nestInner();
  leave();
  returning();
}

void* nestOuter(void*) {
  uint32_t frame = 0;
  start(&nestOuter, &frame);
  enter(&nestMiddle, kNestOuter);
  nestMiddle();
  leave();
  returning();
  return nullptr;
}

sem_t ready;

void* blocker(void* arg) {
  uint32_t frame = 0;
  start(&blocker, &frame);
  enter(&leaf, kBlocker);
  uint32_t leafFrame = 0;
  start(&leaf, &leafFrame);  // leaf's own start: the frame is adopted
  __PROF_TRPrintU64(indexOf(arg));
  sem_post(&ready);
  blockForever();
}

pthread_barrier_t bothCalledIn;
sem_t secondMayExit;

// The first exiter's first exit handler (registered last, so run first):
// the second exiter calls exit while the first is about to finish the
// traces.
void letTheSecondExit() { sem_post(&secondMayExit); }

void* exiter(void* arg) {
  uint32_t frame = 0;
  start(&exiter, &frame);
  __PROF_TRPrintU64(indexOf(arg));
  pthread_barrier_wait(&bothCalledIn);
  if (indexOf(arg) == 1) sem_wait(&secondMayExit);
  exit(0);
}

// Never makes a profiled call.
void* idle(void*) { blockForever(); }

pthread_t startPlain(void* (*routine)(void*), void* arg, bool detached = false) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  if (detached) pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  if (pthread_create(&thread, &attr, routine, arg) != 0) {
    fprintf(stderr, "threads_program: pthread_create failed\n");
    _exit(2);
  }
  pthread_attr_destroy(&attr);
  return thread;
}

void many(int count) {
  std::vector<pthread_t> threads;
  for (int i = 0; i < count; ++i) threads.push_back(startPlain(&worker, asArg(i)));
  for (pthread_t t : threads) pthread_join(t, nullptr);
}

void nestedExit() { pthread_join(startPlain(&nestOuter, nullptr), nullptr); }

[[noreturn]] void blockedAtExit() {
  sem_init(&ready, 0, 0);
  startPlain(&blocker, asArg(0), true);
  startPlain(&blocker, asArg(1), true);
  sem_wait(&ready);
  sem_wait(&ready);
  exit(0);
}

[[noreturn]] void exitWaits() {
  // Defined at creation, blocked before its first profiled call.
  pthread_t created;
  if (__PROF_pthread_create(&created, nullptr, &idle, nullptr) != 0) _exit(2);
  // Known only through naming.
  __PROF_pthread_setname_np(startPlain(&idle, nullptr), "idler");
  // Known only through a join look-up; the join itself fails.
  const int joined = __PROF_pthread_join(startPlain(&idle, nullptr, true), nullptr);
  __PROF_TRPrintU64(static_cast<uint64_t>(joined));
  exit(0);
}

[[noreturn]] void twoExits() {
  // Blocked threads whose traces make the exit-time finalisation take a
  // while: long enough for the second exit to arrive in the middle of it.
  constexpr int kBlocked = 8;
  sem_init(&ready, 0, 0);
  for (int i = 0; i < kBlocked; ++i) startPlain(&blocker, asArg(2 + i), true);
  for (int i = 0; i < kBlocked; ++i) sem_wait(&ready);
  pthread_barrier_init(&bothCalledIn, nullptr, 2);
  sem_init(&secondMayExit, 0, 0);
  atexit(&letTheSecondExit);
  startPlain(&exiter, asArg(0), true);
  startPlain(&exiter, asArg(1), true);
  blockForever();
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t frame = 0;
  start(&main, &frame);
  const char* scenario = argc > 1 ? argv[1] : "";
  if (strcmp(scenario, "many") == 0 && argc > 2) many(atoi(argv[2]));
  if (strcmp(scenario, "nested-exit") == 0) nestedExit();
  if (strcmp(scenario, "blocked-at-exit") == 0) blockedAtExit();
  if (strcmp(scenario, "exit-waits") == 0) exitWaits();
  if (strcmp(scenario, "two-exits") == 0) twoExits();
  returning();
  return 0;
}

extern "C" void __PROF_FNsInitializeFuncStruct(void) {
  __PROF_FNInitializeFuncStruct(200, addressOf(&main), "app_0");
  __PROF_FNInitializeFuncStruct(201, addressOf(&worker), "app_0");
  __PROF_FNInitializeFuncStruct(202, addressOf(&leaf), "app_0");
  __PROF_FNInitializeFuncStruct(203, addressOf(&nestOuter), "app_0");
  __PROF_FNInitializeFuncStruct(204, addressOf(&nestMiddle), "app_0");
  __PROF_FNInitializeFuncStruct(205, addressOf(&nestInner), "app_0");
  __PROF_FNInitializeFuncStruct(206, addressOf(&blocker), "app_0");
  __PROF_FNInitializeFuncStruct(207, addressOf(&exiter), "app_0");
}

extern "C" void __PROF_LSInitGlobalInfos(FILE*, const char*) {}

extern "C" void __PROF_LSInitTLSs(FILE*, const char*) {}
