// A hand-instrumented program that ends by a signal on request; each
// scenario first makes n calls of a leaf (entry, one access to a global,
// exit):
//   own-handler-once <n>     its SIGSEGV handler, installed with
//                            SA_RESETHAND, returns; the store through a
//                            null pointer faults again;
//   own-handler-reraise <n>  its SIGTERM handler restores the default and
//                            raises the signal again;
//   abort-with-handler <n>   abort() with a SIGABRT handler that returns;
//   two-threads <n>          two threads, after n calls each, raise
//                            SIGTERM at the same moment while main waits
//                            for them;
//   kill <n>                 SIGKILL, which nothing can catch;
//   stopped-in-a-loop        calls without end until a thread that runs no
//                            instrumented code sends main SIGTERM, most
//                            likely while it is writing a record;
//   events <n>               a normal end.
// What it learns about the dispositions it reports on standard error with
// write(2), which is safe in a handler and unbuffered.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "instrumented.h"

int main(int argc, char** argv);

namespace {

constexpr uint32_t kMain = 200, kLeaf = 201, kWorker = 202;
int gData[64];
long gCalls = 0;
pthread_barrier_t gBarrier;

void say(const char* text) {
  if (write(2, text, strlen(text)) < 0) _exit(3);
}

void leaf() {}

void calls(long n, uint32_t caller) {
  for (long i = 0; i < n; ++i) {
    instrumented::enter(&leaf, caller);
    __PROF_LSVariable(instrumented::bytes(&gData[i % 64]));
    instrumented::leave();
  }
}

void onSegvOnce(int) { say("handled\n"); }

void onTerm(int sig) {
  say(__PROF_Signal(sig, SIG_DFL) == onTerm ? "restored default over handler\n" : "unexpected previous handler\n");
  raise(sig);
}

void onAbort(int) { say("handled\n"); }

void* stopper(void* target) {
  usleep(50 * 1000);
  pthread_kill(*static_cast<pthread_t*>(target), SIGTERM);
  return nullptr;
}

void* worker(void*) {
  uint32_t frame = 0;
  instrumented::start(&worker, &frame);
  calls(gCalls, kWorker);
  pthread_barrier_wait(&gBarrier);
  raise(SIGTERM);
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  instrumented::startMain(instrumented::addressOf(&main));
  const char* scenario = argc > 1 ? argv[1] : "";
  gCalls = argc > 2 ? atol(argv[2]) : 0;
  struct sigaction initial;
  __PROF_Sigaction(SIGTERM, nullptr, &initial);
  if (initial.sa_handler == SIG_DFL && initial.sa_flags == 0) say("default at start\n");

  if (strcmp(scenario, "two-threads") == 0) {
    pthread_barrier_init(&gBarrier, nullptr, 2);
    pthread_t threads[2];
    for (pthread_t& t : threads) pthread_create(&t, nullptr, worker, nullptr);
    for (pthread_t& t : threads) pthread_join(t, nullptr);
  }
  if (strcmp(scenario, "stopped-in-a-loop") == 0) {
    pthread_t self = pthread_self(), t;
    pthread_create(&t, nullptr, stopper, &self);
    calls(1L << 40, kMain);
  }
  calls(gCalls, kMain);
  if (strcmp(scenario, "own-handler-once") == 0) {
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = onSegvOnce;
    action.sa_flags = SA_RESETHAND;
    __PROF_Sigaction(SIGSEGV, &action, nullptr);
    int* volatile target = nullptr;
    *target = 1;
  }
  if (strcmp(scenario, "own-handler-reraise") == 0) {
    if (__PROF_Signal(SIGTERM, onTerm) == SIG_DFL) say("default before the handler\n");
    raise(SIGTERM);
  }
  if (strcmp(scenario, "kill") == 0) raise(SIGKILL);
  if (strcmp(scenario, "abort-with-handler") == 0) {
    __PROF_Signal(SIGABRT, onAbort);
    __PROF_Abort();
  }
  instrumented::returning();
  return 0;
}

extern "C" void __PROF_FNsInitializeFuncStruct(void) {
  __PROF_FNInitializeFuncStruct(kMain, instrumented::addressOf(&main), "app_0");
  __PROF_FNInitializeFuncStruct(kLeaf, instrumented::addressOf(&leaf), "app_0");
  __PROF_FNInitializeFuncStruct(kWorker, instrumented::addressOf(&worker), "app_0");
}

extern "C" void __PROF_LSInitGlobalInfos(FILE*, const char*) {
  __PROF_LSInitGlobalInfo(1, instrumented::addressOf(gData), sizeof gData, nullptr, "app_0");
}

extern "C" void __PROF_LSInitTLSs(FILE*, const char*) {}
