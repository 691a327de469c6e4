// A hand-instrumented program for the stress drivers; argv[1] picks:
//   events <threads> <calls>  every thread makes <calls> calls of a leaf,
//                             each with one access to a global, all at once;
//   churn <threads> <wrapped> <threads> short-lived threads, at most 8 alive
//                             at once, each making one call; created and
//                             joined through the wrappers when <wrapped> is
//                             1; prints how many distinct handles they had;
//   signals <calls>           main makes <calls> calls under a fast timer
//                             that sends it SIGUSR1; the handler calls every
//                             kind of hook; prints how many it handled.
// Threads that are not created through the wrappers take their numbers at
// their first profiled call; their traces are identical, so the drivers
// need not tell them apart.
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>

#include "instrumented.h"

int main(int argc, char** argv);

namespace {

constexpr uint32_t kMain = 200, kWorker = 201, kLeaf = 202, kHandler = 203, kChurnWorker = 204;
int gData[64];  // global 1
constexpr int kAlive = 8;
pthread_t gBatch[kAlive];  // global 2: the wrappers report the handle slot

void leaf() {}

void calls(long n, uint32_t caller) {
  for (long i = 0; i < n; ++i) {
    instrumented::enter(&leaf, caller);
    __PROF_LSVariable(instrumented::bytes(&gData[i % 64]));
    instrumented::leave();
  }
}

// ---- events ----

long gCalls = 0;
std::atomic<int> gWaiting{0};
int gThreads = 0;

void* eventsWorker(void*) {
  uint32_t frame = 0;
  instrumented::start(&eventsWorker, &frame);
  gWaiting.fetch_add(1);
  while (gWaiting.load() < gThreads) sched_yield();
  calls(gCalls, kWorker);
  instrumented::returning();
  return nullptr;
}

void events(int threads, long n) {
  gThreads = threads;
  gCalls = n;
  std::vector<pthread_t> handles(static_cast<size_t>(threads));
  for (pthread_t& h : handles) pthread_create(&h, nullptr, eventsWorker, nullptr);
  for (pthread_t h : handles) pthread_join(h, nullptr);
}

// ---- churn ----

void* churnWorker(void*) {
  uint32_t frame = 0;
  instrumented::start(&churnWorker, &frame);
  instrumented::enter(&leaf, kChurnWorker);
  instrumented::leave();
  instrumented::returning();
  return nullptr;
}

void churn(int threads, bool wrapped) {
  std::set<pthread_t> distinct;
  pthread_t* batch = gBatch;
  for (int done = 0; done < threads;) {
    const int count = threads - done < kAlive ? threads - done : kAlive;
    for (int i = 0; i < count; ++i) {
      const int rc = wrapped ? __PROF_pthread_create(&batch[i], nullptr, churnWorker, nullptr)
                             : pthread_create(&batch[i], nullptr, churnWorker, nullptr);
      if (rc != 0) abort();
      distinct.insert(batch[i]);
    }
    for (int i = 0; i < count; ++i) {
      if (wrapped)
        __PROF_pthread_join(batch[i], nullptr);
      else
        pthread_join(batch[i], nullptr);
    }
    done += count;
  }
  printf("distinct handles %zu\n", distinct.size());
}

// ---- signals ----

std::atomic<long> gHandled{0};

void handler(int) {
  uint32_t frame = 0;
  __PROF_FNProcessFunctionStart(instrumented::addressOf(&handler), 0, &frame);
  __PROF_LSVariable(instrumented::bytes(&gData[1]));
  instrumented::enter(&leaf, kHandler);
  instrumented::leave();
  __PROF_UpdateRetBBCount();
  gHandled.fetch_add(1, std::memory_order_relaxed);
}

void signals(long n) {
  __PROF_Signal(SIGUSR1, handler);
  // A timer aimed at this thread interrupts it wherever it is, in the
  // hooks included, every 50 microseconds.
  sigevent event{};
  event.sigev_notify = SIGEV_THREAD_ID;
  event.sigev_signo = SIGUSR1;
  event._sigev_un._tid = static_cast<pid_t>(syscall(SYS_gettid));
  timer_t timer;
  if (timer_create(CLOCK_MONOTONIC, &event, &timer) != 0) abort();
  const itimerspec every{{0, 50000}, {0, 50000}};
  timer_settime(timer, 0, &every, nullptr);
  calls(n, kMain);
  timer_delete(timer);
  printf("handled %ld\n", gHandled.load());
}

}  // namespace

int main(int argc, char** argv) {
  instrumented::startMain(instrumented::addressOf(&main));
  const char* scenario = argc > 1 ? argv[1] : "";
  if (strcmp(scenario, "events") == 0 && argc > 3) events(atoi(argv[2]), atol(argv[3]));
  if (strcmp(scenario, "churn") == 0 && argc > 3) churn(atoi(argv[2]), atoi(argv[3]) != 0);
  if (strcmp(scenario, "signals") == 0 && argc > 2) signals(atol(argv[2]));
  instrumented::returning();
  return 0;
}

extern "C" void __PROF_FNsInitializeFuncStruct(void) {
  __PROF_FNInitializeFuncStruct(kMain, instrumented::addressOf(&main), "app_0");
  __PROF_FNInitializeFuncStruct(kWorker, instrumented::addressOf(&eventsWorker), "app_0");
  __PROF_FNInitializeFuncStruct(kLeaf, instrumented::addressOf(&leaf), "app_0");
  __PROF_FNInitializeFuncStruct(kHandler, instrumented::addressOf(&handler), "app_0");
  __PROF_FNInitializeFuncStruct(kChurnWorker, instrumented::addressOf(&churnWorker), "app_0");
}

extern "C" void __PROF_LSInitGlobalInfos(FILE*, const char*) {
  __PROF_LSInitGlobalInfo(1, instrumented::addressOf(gData), sizeof gData, nullptr, "app_0");
  __PROF_LSInitGlobalInfo(2, instrumented::addressOf(gBatch), sizeof gBatch, nullptr, "app_0");
}

extern "C" void __PROF_LSInitTLSs(FILE*, const char*) {}
