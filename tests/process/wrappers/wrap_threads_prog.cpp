// Thread creation, join and naming through the wrappers, and the refusal
// of fork. argv[1] names the scenario. The handle slots are a registered
// global, so their 8-byte reports name the slot.
#include <errno.h>
#include <pthread.h>
#include <semaphore.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "init.h"
#include "instrumented.h"

using instrumented::addressOf;
using instrumented::bytes;

pthread_t gHandles[4];  // global 1
int gShared;            // global 2

namespace {

std::atomic<bool> gRelease{false};
sem_t gStarted;

// An instrumented thread body: its entry, one access to a global, its
// argument as a plain value, its return.
void* worker(void* arg) {
  uint32_t frameId;
  __PROF_FNProcessFunctionStart(addressOf(&worker), 0, &frameId);
  __PROF_LSVariable(bytes(&gShared));
  __PROF_TRPrintU64(reinterpret_cast<uintptr_t>(arg));
  __PROF_UpdateRetBBCount();
  return arg;
}

// As worker, but stays alive until the main thread releases it.
void* lingeringWorker(void* arg) {
  void* result = worker(arg);
  sem_post(&gStarted);
  while (!gRelease.load()) usleep(1000);
  return result;
}

// A thread that never makes a profiled call: its allocations happen while
// it is suspended, so they must not give it a profile either.
void* plainWorker(void* arg) {
  __PROF_trace_suspend();
  __PROF_Free(__PROF_Malloc(8));
  __PROF_trace_resume();
  return arg;
}

// Makes a profiled call, says so, and waits for the end of the process.
void* blockedWorker(void*) {
  uint32_t frameId;
  __PROF_FNProcessFunctionStart(addressOf(&blockedWorker), 0, &frameId);
  __PROF_TRPrintU64(5);
  sem_post(&gStarted);
  for (;;) pause();
  return nullptr;
}

void* arg(uintptr_t value) { return reinterpret_cast<void*>(value); }

void joinAndSay(pthread_t thread) {
  void* result = nullptr;
  const int rc = __PROF_pthread_join(thread, &result);
  printf("join %d %zu\n", rc, reinterpret_cast<uintptr_t>(result));
}

void createJoin() {
  printf("create %d\n", __PROF_pthread_create(&gHandles[0], nullptr, worker, arg(10)));
  printf("create %d\n", __PROF_pthread_create(&gHandles[1], nullptr, worker, arg(11)));
  joinAndSay(gHandles[0]);
  joinAndSay(gHandles[1]);
}

void failedCalls() {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, SIZE_MAX / 4);  // no such stack can be mapped
  printf("huge stack %s\n", __PROF_pthread_create(&gHandles[0], &attr, worker, arg(10)) != 0 ? "refused" : "granted");
  pthread_attr_destroy(&attr);
  printf("create %d\n", __PROF_pthread_create(&gHandles[1], nullptr, worker, arg(11)));
  printf("join self %s\n", __PROF_pthread_join(pthread_self(), nullptr) == EDEADLK ? "EDEADLK" : "other");
  joinAndSay(gHandles[1]);
}

void names() {
  sem_init(&gStarted, 0, 0);
  __PROF_pthread_create(&gHandles[0], nullptr, lingeringWorker, arg(10));
  sem_wait(&gStarted);
  char name[16] = "?";
  printf("name rc %d\n", __PROF_pthread_setname_np(gHandles[0], "stage"));
  pthread_getname_np(gHandles[0], name, sizeof name);
  printf("name '%s'\n", name);
  printf("empty rc %d\n", __PROF_pthread_setname_np(gHandles[0], ""));
  pthread_getname_np(gHandles[0], name, sizeof name);
  printf("name '%s'\n", name);
  printf("null rc %s\n", __PROF_pthread_setname_np(gHandles[0], nullptr) == EINVAL ? "EINVAL" : "other");
  printf("self rc %d\n", __PROF_pthread_setname_np(pthread_self(), "main"));
  gRelease.store(true);
  joinAndSay(gHandles[0]);
}

void suspended() {
  __PROF_trace_suspend();
  __PROF_pthread_create(&gHandles[0], nullptr, worker, arg(10));       // numbered at its first call
  __PROF_pthread_create(&gHandles[1], nullptr, plainWorker, arg(11));  // never numbered by itself
  __PROF_pthread_setname_np(gHandles[0], "quiet");
  joinAndSay(gHandles[0]);
  __PROF_trace_resume();
  joinAndSay(gHandles[1]);
  __PROF_pthread_create(&gHandles[2], nullptr, worker, arg(12));
  joinAndSay(gHandles[2]);
}

void refusedFork() {
  sem_init(&gStarted, 0, 0);
  instrumented::report("block", __PROF_Malloc(16));
  __PROF_pthread_create(&gHandles[0], nullptr, blockedWorker, nullptr);
  sem_wait(&gStarted);
  fflush(stdout);
  const pid_t child = __PROF_Fork();
  printf("fork returned %d\n", static_cast<int>(child));  // never printed
}

}  // namespace

int main(int argc, char** argv) {
  instrumented::startMain(addressOf(&main));
  const std::string scenario = argc > 1 ? argv[1] : "";
  if (scenario == "create-join") createJoin();
  if (scenario == "failed") failedCalls();
  if (scenario == "names") names();
  if (scenario == "suspended") suspended();
  if (scenario == "fork") refusedFork();
  __PROF_UpdateRetBBCount();
  return 0;
}

extern "C" void __PROF_FNsInitializeFuncStruct(void) {
  __PROF_FNInitializeFuncStruct(200, addressOf(&main), "app_0");
  __PROF_FNInitializeFuncStruct(201, addressOf(&worker), "app_0");
  __PROF_FNInitializeFuncStruct(202, addressOf(&blockedWorker), "app_0");
}
extern "C" void __PROF_LSInitGlobalInfos(FILE* mapping, const char* binary) {
  __PROF_LSInitGlobalInfo(1, addressOf(gHandles), sizeof gHandles, mapping, binary);
  __PROF_LSInitGlobalInfo(2, addressOf(&gShared), sizeof gShared, mapping, binary);
}
extern "C" void __PROF_LSInitTLSs(FILE*, const char*) {}
