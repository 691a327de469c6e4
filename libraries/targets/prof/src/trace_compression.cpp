// The compression threads and their queue (trace_compression.h). The queue
// is a list threaded through the printers themselves, so a request
// allocates nothing; a printer is in it at most once (its `queued` flag).
#include "trace_compression.h"

#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

#include "utils.h"

// The number of compression threads the executable's build chose, defined by
// its start-up stub only when the build did not leave it to the machine.
extern "C" __attribute__((weak)) const uint32_t __PROF_TraceCompressionThreads;

namespace {

pthread_mutex_t queueMutex = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t workArrived = PTHREAD_COND_INITIALIZER;
pthread_cond_t printerReleased = PTHREAD_COND_INITIALIZER;
// Under queueMutex.
bufferedPrinterStruct_t* queueHead = nullptr;
bufferedPrinterStruct_t* queueTail = nullptr;

// How many threads were started; 0 until the first request, and for good
// when none could be (or this process is a fork's child).
std::atomic<unsigned> runningThreads{0};
// Set once the threads have been started (or could not be).
std::atomic<bool> startAttempted{false};
pthread_mutex_t startMutex = PTHREAD_MUTEX_INITIALIZER;

unsigned processorsAvailable() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) return static_cast<unsigned>(CPU_COUNT(&set));
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<unsigned>(online) : 1;
}

bufferedPrinterStruct_t* takeNext() {
  MutexGuard lock(&queueMutex);
  while (queueHead == nullptr) pthread_cond_wait(&workArrived, &queueMutex);
  bufferedPrinterStruct_t* printer = queueHead;
  queueHead = printer->ring.next_queued;
  if (queueHead == nullptr) queueTail = nullptr;
  printer->ring.next_queued = nullptr;
  ++printer->ring.holders;
  return printer;
}

void release(bufferedPrinterStruct_t* printer) {
  MutexGuard lock(&queueMutex);
  if (--printer->ring.holders == 0) pthread_cond_broadcast(&printerReleased);
}

void* compressionThread(void*) {
  // Named so that a designer looking at the process sees whose it is.
  pthread_setname_np(pthread_self(), "prof-compress");
  for (;;) {
    bufferedPrinterStruct_t* printer = takeNext();
    compressHandedOver(printer);
    release(printer);
  }
  return nullptr;
}

// A bare fork's child has none of the threads; its printers compress on
// their own threads. The queue's lock may have been held by a thread that
// the child does not have.
void inForkChild() {
  runningThreads.store(0);
  startAttempted.store(true);
  pthread_mutex_t freshMutex = PTHREAD_MUTEX_INITIALIZER;
  queueMutex = freshMutex;
  queueHead = queueTail = nullptr;
}

void startThreads() {
  const unsigned wanted = compressionThreadCount();
  if (wanted == 0) return;
  // Only faults stay deliverable: a termination signal sent to the process
  // must go to a thread that can finish its own trace.
  sigset_t all;
  sigset_t previous;
  sigfillset(&all);
  for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS}) sigdelset(&all, sig);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  unsigned started = 0;
  for (unsigned i = 0; i < wanted; ++i) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    if (pthread_create(&thread, &attr, compressionThread, nullptr) == 0) ++started;
    pthread_attr_destroy(&attr);
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  pthread_atfork(nullptr, nullptr, inForkChild);
  runningThreads.store(started);
}

}  // namespace

unsigned compressionThreadCount() {
  static const unsigned count = [] {
    if (&__PROF_TraceCompressionThreads != nullptr)
      return __PROF_TraceCompressionThreads > kMaxCompressionThreads ? kMaxCompressionThreads
                                                                     : __PROF_TraceCompressionThreads;
    const unsigned processors = processorsAvailable();
    const unsigned spare = processors > 1 ? processors - 1 : 0;
    return spare > kMaxCompressionThreads ? kMaxCompressionThreads : spare;
  }();
  return count;
}

bool requestCompression(bufferedPrinterStruct_t* printer) {
  if (!startAttempted.load(std::memory_order_acquire)) {
    MutexGuard lock(&startMutex);
    if (!startAttempted.load(std::memory_order_relaxed)) {
      startThreads();
      startAttempted.store(true, std::memory_order_release);
    }
  }
  if (runningThreads.load(std::memory_order_relaxed) == 0) return false;
  MutexGuard lock(&queueMutex);
  printer->ring.next_queued = nullptr;
  if (queueTail == nullptr)
    queueHead = printer;
  else
    queueTail->ring.next_queued = printer;
  queueTail = printer;
  pthread_cond_signal(&workArrived);
  return true;
}

void forgetCompression(bufferedPrinterStruct_t* printer) {
  MutexGuard lock(&queueMutex);
  bufferedPrinterStruct_t* previous = nullptr;
  for (bufferedPrinterStruct_t* p = queueHead; p != nullptr; previous = p, p = p->ring.next_queued) {
    if (p != printer) continue;
    if (previous == nullptr)
      queueHead = p->ring.next_queued;
    else
      previous->ring.next_queued = p->ring.next_queued;
    if (queueTail == p) queueTail = previous;
    break;
  }
  while (printer->ring.holders != 0) pthread_cond_wait(&printerReleased, &queueMutex);
}
