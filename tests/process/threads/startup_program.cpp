// A hand-instrumented program that runs instrumented code before the
// profiler has started up and after it has finished.
//
// Before start-up (a constructor that runs ahead of the stub's): the main
// thread starts an instrumented function; one thread starts one and ends;
// another starts one and waits until main lets it go on. All of them are
// suspended until start-up; their start hooks return 0 and leave the frame
// id alone.
//
// After finalisation (an exit handler registered ahead of the profiler's,
// so it runs after it): a new thread makes its first profiled call and must
// end right there; the main thread prints a value into its closed trace.
// The outcome goes to standard output.
#include <pthread.h>
#include <semaphore.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "instrumented.h"

using instrumented::addressOf;
using instrumented::enter;
using instrumented::leave;
using instrumented::returning;
using instrumented::start;

int main();

namespace {

constexpr uint32_t kEarly = 201;
constexpr uint32_t kUntouched = 77;  // frame ids preset to this must stay so

uint32_t earlyResult = 99;
uint32_t earlyFrame = kUntouched;
uint32_t endedResult = 99;

sem_t waiterQueued;
sem_t releaseWaiter;
pthread_t waiter;

bool lateThreadRanOn = false;

void earlyLeaf() {
  uint32_t frame = kUntouched;
  start(&earlyLeaf, &frame);
  returning();
}

void earlyMain() {
  earlyResult = start(&earlyMain, &earlyFrame);
  enter(&earlyLeaf, kEarly);
  earlyLeaf();
  leave();
  returning();
}

void* endsEarly(void*) {
  uint32_t frame = kUntouched;
  endedResult = start(&endsEarly, &frame);
  returning();
  return nullptr;
}

void* waits(void*) {
  uint32_t frame = kUntouched;
  const uint32_t before = start(&waits, &frame);
  returning();
  sem_post(&waiterQueued);
  sem_wait(&releaseWaiter);
  // Start-up has lifted the suspension: this start is traced.
  uint32_t tracedFrame = 0;
  start(&waits, &tracedFrame);
  __PROF_TRPrintU64(before);
  __PROF_TRPrintU64(frame);
  __PROF_TRPrintU64(tracedFrame);
  returning();
  return nullptr;
}

void* lateThread(void*) {
  uint32_t frame = 0;
  start(&lateThread, &frame);
  lateThreadRanOn = true;
  return nullptr;
}

void afterFinalisation() {
  pthread_t late;
  if (pthread_create(&late, nullptr, &lateThread, nullptr) != 0) _exit(2);
  pthread_join(late, nullptr);
  __PROF_TRPrintU64(5);  // the main thread's trace is closed: dropped
  const char* outcome = lateThreadRanOn ? "late thread: ran on\n" : "late thread: ended at its first call\n";
  if (write(STDOUT_FILENO, outcome, strlen(outcome)) < 0) _exit(2);
}

// Priority 100 puts it ahead of the stub's start-up constructor (101).
#pragma GCC diagnostic ignored "-Wprio-ctor-dtor"
__attribute__((constructor(100))) void beforeStartUp() {
  sem_init(&waiterQueued, 0, 0);
  sem_init(&releaseWaiter, 0, 0);
  earlyMain();

  // Queued, then gone before start-up: start-up must not touch its counter.
  pthread_t ended;
  if (pthread_create(&ended, nullptr, &endsEarly, nullptr) != 0) _exit(2);
  pthread_join(ended, nullptr);

  if (pthread_create(&waiter, nullptr, &waits, nullptr) != 0) _exit(2);
  sem_wait(&waiterQueued);

  atexit(&afterFinalisation);
}

}  // namespace

int main() {
  uint32_t frame = 0;
  start(&main, &frame);
  __PROF_TRPrintU64(earlyResult);
  __PROF_TRPrintU64(earlyFrame);
  __PROF_TRPrintU64(endedResult);
  sem_post(&releaseWaiter);
  pthread_join(waiter, nullptr);
  returning();
  return 0;
}

extern "C" void __PROF_FNsInitializeFuncStruct(void) {
  __PROF_FNInitializeFuncStruct(200, addressOf(&main), "app_0");
  __PROF_FNInitializeFuncStruct(201, addressOf(&earlyMain), "app_0");
  __PROF_FNInitializeFuncStruct(202, addressOf(&earlyLeaf), "app_0");
  __PROF_FNInitializeFuncStruct(203, addressOf(&endsEarly), "app_0");
  __PROF_FNInitializeFuncStruct(204, addressOf(&waits), "app_0");
  __PROF_FNInitializeFuncStruct(205, addressOf(&lateThread), "app_0");
}

extern "C" void __PROF_LSInitGlobalInfos(FILE*, const char*) {}

extern "C" void __PROF_LSInitTLSs(FILE*, const char*) {}
