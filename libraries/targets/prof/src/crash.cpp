// The crash handler: finishes every thread's trace when the process is about
// to die from a signal, writes the "crash" file, then lets the signal's
// default action end the process.
//
// One thread finishes (the first to claim the traces, by compare-and-swap);
// any other thread that enters the handler meanwhile waits there until the
// process ends. The exit-time finalisation claims the same way, so the two
// never work on the printers together. A thread's printer is reached through
// its slot: slots live in a lock-free list that only grows; a thread takes a
// free one at its trace start-up and gives it back at its end, and the
// finisher claims a slot before it touches the printer, so a printer cannot
// be deleted under it. Slots and alternate stacks are never freed; they
// serve later threads.
//
// Relies on: bufferedPrinter (the stream finish and the record marks),
// profiler_state and VFrame (the stacks), the variable and heap registries
// (what the faulting address belongs to). Only async-signal-safe calls are
// made from the handler: sigaction, raise, write, open, close, nanosleep,
// pause, gettid and pthread_mutex_trylock/unlock on the runtime's own
// mutexes.
#include "crash.h"

#include <fcntl.h>
#include <pthread.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>
#include <type_traits>

#include "Function.h"
#include "GlobalVariables.h"
#include "HeapVariables.h"
#include "VFrame.h"
#include "bufferedPrinter.h"
#include "globals.h"
#include "ls_profile.h"
#include "profiler_state.h"
#include "heap_registry.h"
#include "utils.h"

namespace {

// Slot states. A slot moves FREE -> SETTING -> ACTIVE at a thread's trace
// start-up, ACTIVE -> SETTING -> IDLE when its printer is deleted, IDLE ->
// FREE at the thread's end; ACTIVE -> CLAIMED only by the finisher, for good.
enum SlotState : int { kFree, kSetting, kActive, kIdle, kClaimed };

// Alternate stack of a traced thread: deflate and the handler's own frames
// fit many times over.
constexpr size_t kAltStackSize = 128 * 1024;

}  // namespace

struct CrashSlot {
  std::atomic<int> state;
  // Written by the owning thread in SETTING, read by the finisher only after
  // it has claimed the slot (acquire on the state).
  bufferedPrinterStruct_t* printer;
  GProfilerState_t* profState;
  uint32_t threadId;
  const char* outcome;  // what the finisher did with the trace; set once claimed
  // Set while the owning thread is inside the handler: if it is then inside
  // a record of its printer, it was stopped in the middle of that record and
  // will not end it.
  std::atomic<int> inHandler;
  void* altStack;   // kAltStackSize bytes, owned by the slot
  CrashSlot* next;  // fixed once the slot is published
};

namespace {

std::atomic<CrashSlot*> slotList{nullptr};

// The calling thread's slot and whether it installed the slot's stack as its
// alternate stack. Constant-initialised and trivially destructible, so the
// handler reaches them without a TLS initialisation call.
thread_local constinit CrashSlot* ownSlot = nullptr;
thread_local constinit bool ownsAltStack = false;
static_assert(std::is_trivially_destructible_v<CrashSlot*>);

// Who finishes the traces: 0 nobody yet, a thread's kernel id for the crash
// handler, its negation for the exit-time finalisation.
std::atomic<pid_t> finishingThread{0};
std::atomic<bool> exitFinished{false};
// A termination signal that interrupted the exiting thread's own
// finalisation; raised when the traces are finished.
volatile sig_atomic_t deferredExitSignal = 0;
// The sender of a termination signal that was deferred: the signal raised
// again later comes from this process, but the crash file names the
// original. Only the first deferral is kept.
siginfo_t deferredInfo;
std::atomic<int> deferredInfoSignal{0};

constexpr int kHandledSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGINT, SIGTERM, SIGHUP, SIGXCPU};
// Bit n set: the handler stands in for the default action of signal n.
std::atomic<uint64_t> armedSignals{0};
// The process whose traces these are: a child made by a library with a
// bare fork shares the trace files and must leave them alone.
std::atomic<pid_t> tracedProcess{0};

bool isTermination(int sig) { return sig == SIGINT || sig == SIGTERM || sig == SIGHUP || sig == SIGXCPU; }

void crashHandler(int sig, siginfo_t* info, void* context);

struct sigaction handlerAction() {
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_sigaction = crashHandler;
  // SA_RESTART: a handler that returns (a deferred termination) must not
  // make the interrupted trace write fail with EINTR.
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESTART;
  sigemptyset(&action.sa_mask);
  // A second termination signal must not interrupt the finishing.
  for (int sig : kHandledSignals)
    if (isTermination(sig)) sigaddset(&action.sa_mask, sig);
  return action;
}

void sleepMicros(long micros) {
  timespec t{micros / 1000000, (micros % 1000000) * 1000};
  while (nanosleep(&t, &t) != 0 && errno == EINTR) {
  }
}

[[noreturn]] void waitForTheEnd() {
  for (;;) pause();
}

// Back to the default action and the signal raised again: it is blocked
// while the handler runs, so it ends the process as soon as the handler
// returns (a fault would also recur, but a signal sent by a process would
// not).
void dieWith(int sig) {
  struct sigaction dfl;
  memset(&dfl, 0, sizeof dfl);
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  sigaction(sig, &dfl, nullptr);
  raise(sig);
}

// ---- The crash file's text, built without the allocator ----

class Text {
 public:
  void str(const char* s) {
    while (*s != '\0' && length_ < sizeof buffer_) buffer_[length_++] = *s++;
  }
  void u64(uint64_t v) {
    char digits[20];
    int n = 0;
    do {
      digits[n++] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v != 0);
    while (n > 0 && length_ < sizeof buffer_) buffer_[length_++] = digits[--n];
  }
  void s64(int64_t v) {
    if (v < 0) {
      str("-");
      u64(0 - static_cast<uint64_t>(v));
    } else {
      u64(static_cast<uint64_t>(v));
    }
  }
  void hex(uint64_t v) {
    str("0x");
    for (int shift = 60; shift >= 0; shift -= 4) {
      const char digit = "0123456789abcdef"[(v >> shift) & 0xF];
      if (length_ < sizeof buffer_) buffer_[length_++] = digit;
    }
  }
  const char* data() const { return buffer_; }
  size_t size() const { return length_; }
  void clear() { length_ = 0; }

 private:
  // Room for some hundred threads with full stacks; beyond, the text is cut.
  char buffer_[256 * 1024];
  size_t length_ = 0;
};

// Static: the handler's stack stays small and nothing is allocated.
Text crashText;

const char* signalName(int sig) {
  switch (sig) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGFPE: return "SIGFPE";
    case SIGILL: return "SIGILL";
    case SIGABRT: return "SIGABRT";
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    case SIGXCPU: return "SIGXCPU";
    default: return "?";
  }
}

const char* codeName(int sig, int code) {
  switch (code) {
    case SI_USER: return "SI_USER";
    case SI_KERNEL: return "SI_KERNEL";
    case SI_QUEUE: return "SI_QUEUE";
    case SI_TKILL: return "SI_TKILL";
    default: break;
  }
  if (sig == SIGSEGV) {
    if (code == SEGV_MAPERR) return "SEGV_MAPERR";
    if (code == SEGV_ACCERR) return "SEGV_ACCERR";
  } else if (sig == SIGBUS) {
    if (code == BUS_ADRALN) return "BUS_ADRALN";
    if (code == BUS_ADRERR) return "BUS_ADRERR";
    if (code == BUS_OBJERR) return "BUS_OBJERR";
  } else if (sig == SIGFPE) {
    static const char* const names[] = {"FPE_INTDIV", "FPE_INTOVF", "FPE_FLTDIV", "FPE_FLTOVF",
                                        "FPE_FLTUND", "FPE_FLTRES", "FPE_FLTINV", "FPE_FLTSUB"};
    if (code >= FPE_INTDIV && code <= FPE_FLTSUB) return names[code - FPE_INTDIV];
  } else if (sig == SIGILL) {
    static const char* const names[] = {"ILL_ILLOPC", "ILL_ILLOPN", "ILL_ILLADR", "ILL_ILLTRP",
                                        "ILL_PRVOPC", "ILL_PRVREG", "ILL_COPROC", "ILL_BADSTK"};
    if (code >= ILL_ILLOPC && code <= ILL_BADSTK) return names[code - ILL_ILLOPC];
  }
  return "?";
}

bool sentByAProcess(int code) { return code == SI_USER || code == SI_QUEUE || code == SI_TKILL; }

// ---- What the faulting address belongs to ----

// The variable holding address, else the one with the highest start below it.
const RBNodeStruct_t* variableAtOrBelow(const RBNodeStruct_t* node, uint64_t address) {
  const RBNodeStruct_t* below = nullptr;
  while (node != nullptr) {
    if (address < node->start) {
      node = node->left;
    } else {
      below = node;
      if (address <= node->end) return node;
      node = node->right;
    }
  }
  return below;
}

const heapStruct_t* blockAtOrBelow(const RBHeapNodeStruct_t* node, const RBHeapNodeStruct_t* nil,
                                   uint64_t address) {
  const heapStruct_t* below = nullptr;
  while (node != nil && node != nullptr) {
    const heapStruct_t* block = node->heap_info;
    if (block == nullptr) break;
    if (address < block->start) {
      node = node->left;
    } else {
      below = block;
      if (address <= block->end) return block;
      node = node->right;
    }
  }
  return below;
}

struct Candidate {
  const char* kind = nullptr;  // "global" or "heap"; null: none
  uint64_t id = 0;
  uint64_t start = 0;
  uint64_t end = 0;
};

void consider(Candidate& best, const char* kind, uint64_t id, uint64_t start, uint64_t end) {
  if (best.kind == nullptr || end > best.end) best = Candidate{kind, id, start, end};
}

// How far from the interrupted stack pointer a fault still counts as one of
// the stack itself (an overflow faults right below it).
constexpr uint64_t kStackReach = 64 * 1024;

void describeAddress(Text& t, uint64_t address, uint64_t stackPointer, const GProfilerState_t* state) {
  // A local of the receiving thread's frames first: the classifier's order.
  if (state != nullptr && state->FramePtr != nullptr) {
    VFrame_t* frame = state->FramePtr;
    U64 offset = 0;
    if (const RBNodeStruct_t* local = __PROF_RBFindInFrame(&frame, address, &offset)) {
      t.str("variable: local ");
      t.u64(frame->function != nullptr ? frame->function->Id : 0);
      t.str(" ");
      t.u64(local->unique_id);
      t.str(" @");
      t.u64(frame->Id);
      t.str(" +");
      t.u64(offset);
      t.str("\n");
      return;
    }
  }
  if (stackPointer != 0 && (address < stackPointer ? stackPointer - address : address - stackPointer) <= kStackReach) {
    t.str("variable: stack\n");
    return;
  }
  Candidate best;
  if (__PROF_GlobVarTreePtr != nullptr)
    if (const RBNodeStruct_t* v = variableAtOrBelow(__PROF_GlobVarTreePtr->Tree.root, address))
      consider(best, "global", v->unique_id, v->start, v->end);
  if (state != nullptr && state->TLSTreePtr != nullptr)
    if (const RBNodeStruct_t* v = variableAtOrBelow(state->TLSTreePtr->Tree.root, address))
      consider(best, "global", v->unique_id, v->start, v->end);
  if (__PROF_thread_profile_IsHeapInfoAvailable() != 0) {
    // The registry may be held by a thread that will not release it (this
    // one, stopped inside a heap operation): a few tries, then without it.
    for (int attempt = 0; attempt < 100; ++attempt) {
      if (__PROF_trylock_access_to_HeapRegTreePtr()) {
        const HeapVariables* heap = __PROF_thread_profile_getHeapRegPtr();
        const RBHeapNodeStruct_t* nil = __PROF_thread_profile_getHeapRegTreePtr_nil();
        if (heap->Tree != nullptr)
          if (const heapStruct_t* b = blockAtOrBelow(heap->Tree->root->left, nil, address))
            consider(best, "heap", b->uid_heap, b->start, b->end);
        __PROF_unlock_access_to_HeapRegTreePtr();
        break;
      }
      sleepMicros(100);
    }
  }
  if (best.kind == nullptr) {
    t.str("variable: none\n");
    return;
  }
  const bool heap = best.kind[0] == 'h';
  t.str(address <= best.end ? "variable: " : "below: ");
  t.str(best.kind);
  t.str(heap ? " #" : " ");
  t.u64(best.id);
  t.str(" +");
  t.u64(address - best.start);
  if (address > best.end) {
    t.str(" past-end ");
    t.u64(address - best.end - 1);
  }
  t.str("\n");
}

// ---- Finishing one trace ----

// Frames listed in the file per thread, innermost first; deeper ones are
// only counted.
constexpr uint32_t kListedFrames = 256;
// Frames walked at most: a stack read while its thread pushes or pops may be
// momentarily inconsistent, and must not keep the walk going.
constexpr uint32_t kWalkedFrames = 1u << 20;

void describeStack(Text& t, uint32_t thread, GProfilerState_t* state) {
  // Other threads are held at their next record by now; the frame lock
  // makes the snapshot exact unless its holder was stopped with it.
  bool locked = false;
  for (int attempt = 0; attempt < 20 && !locked; ++attempt) {
    locked = pthread_mutex_trylock(&state->FramePtr_mutex) == 0;
    if (!locked) sleepMicros(100);
  }
  uint32_t depth = 0;
  t.str("stack ");
  t.u64(thread);
  t.str(":");
  for (const VFrame_t* frame = state->FramePtr; frame != nullptr && depth < kWalkedFrames; frame = frame->prev) {
    if (depth < kListedFrames) {
      t.str(" ");
      t.u64(frame->function != nullptr ? frame->function->Id : 0);
    }
    ++depth;
  }
  if (locked) pthread_mutex_unlock(&state->FramePtr_mutex);
  t.str("\ndepth ");
  t.u64(thread);
  t.str(": ");
  t.u64(depth);
  t.str("\n");
}

// Takes the stream away from whoever compresses it: a compression thread
// lets go of it after each buffer, within microseconds. Never released: the
// process ends with the trace finished.
bool takeStream(bufferedPrinterStruct_t* printer) {
  for (int attempt = 0; attempt < 2000; ++attempt) {
    if (pthread_mutex_trylock(&printer->ring.stream_mutex) == 0) return true;
    sleepMicros(1000);
  }
  return false;
}

// What became of a claimed slot's trace, in the crash file's words.
const char* finishTrace(CrashSlot* slot, bool mine, bool ownLocked) {
  bufferedPrinterStruct_t* printer = slot->printer;
  bool locked = mine && ownLocked;
  if (!mine) {
    // A record or a drain ends within microseconds; a thread stopped in this
    // handler in the middle of one never ends it.
    bool announced = false;
    for (int attempt = 0; attempt < 2000; ++attempt) {
      if (recordLockTryTake(&printer->lock, &printer->mutex, &announced)) {
        locked = true;
        break;
      }
      if (attempt >= 10 && slot->inHandler.load() != 0) break;
      sleepMicros(1000);
    }
  }
  if (printer->out_file == nullptr) return "closed";
  if (!locked) {
    if (!mine && slot->inHandler.load() == 0) return "unfinished";  // its thread kept the lock
    // Stopped inside a record, while its thread fed deflate or moved to the
    // next buffer: the stream or the buffers are half-way.
    if (printer->in_compressor != 0) return "unfinished";
  }
  if (!takeStream(printer)) return "unfinished";
  if (locked) return finishStreamAfterCrash(printer, printer->current_count) ? "finished" : "unfinished";
  // Stopped inside a record: the stream ends at that record's start.
  if (printer->record_start == kRecordSplit)
    return finishStreamAfterCrash(printer, 0) ? "finished-cut-record" : "unfinished";
  return finishStreamAfterCrash(printer, printer->record_start) ? "finished" : "unfinished";
}

void finishAndDescribe(Text& t, CrashSlot* own, bool ownLocked) {
  for (CrashSlot* slot = slotList.load(std::memory_order_acquire); slot != nullptr; slot = slot->next) {
    // A thread opening or closing its printer is done within a moment.
    for (int attempt = 0; attempt < 1000 && slot->state.load() == kSetting; ++attempt) sleepMicros(1000);
    int expected = kActive;
    if (!slot->state.compare_exchange_strong(expected, kClaimed, std::memory_order_acq_rel)) continue;
    slot->outcome = finishTrace(slot, slot == own, ownLocked);
  }
  // Described in thread order, for the reader: a selection over the few
  // slots, since nothing may be allocated to sort them.
  uint64_t after = 0;  // thread number + 1 of the last one described
  for (;;) {
    CrashSlot* next = nullptr;
    for (CrashSlot* slot = slotList.load(std::memory_order_acquire); slot != nullptr; slot = slot->next)
      if (slot->state.load() == kClaimed && uint64_t{slot->threadId} + 1 > after &&
          (next == nullptr || slot->threadId < next->threadId))
        next = slot;
    if (next == nullptr) break;
    after = uint64_t{next->threadId} + 1;
    t.str("trace ");
    t.u64(next->threadId);
    t.str(": ");
    t.str(next->outcome);
    t.str("\n");
    describeStack(t, next->threadId, next->profState);
  }
}

void writeCrashFile(const Text& t) {
  if (__PROF_execDirectory == nullptr) return;
  static char path[4096];
  const size_t dirLength = strlen(__PROF_execDirectory);
  static const char kName[] = "/crash";
  if (dirLength + sizeof kName > sizeof path) return;
  memcpy(path, __PROF_execDirectory, dirLength);
  memcpy(path + dirLength, kName, sizeof kName);
  const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  const char* bytes = t.data();
  size_t left = t.size();
  while (left > 0) {
    const ssize_t n = write(fd, bytes, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    bytes += n;
    left -= static_cast<size_t>(n);
  }
  close(fd);
}

void describeSignal(Text& t, int sig, const siginfo_t* info, const void* context, const CrashSlot* own) {
  t.str("crash: 1\nsignal: ");
  t.u64(static_cast<uint64_t>(sig));
  t.str(" ");
  t.str(signalName(sig));
  t.str("\ncode: ");
  t.s64(info->si_code);
  t.str(" ");
  t.str(codeName(sig, info->si_code));
  t.str("\n");
  if (sentByAProcess(info->si_code)) {
    t.str("sender: ");
    t.u64(static_cast<uint64_t>(info->si_pid));
    t.str("\n");
  }
  t.str("thread: ");
  if (own != nullptr)
    t.u64(own->threadId);
  else
    t.str("none");
  t.str("\n");
  if (sentByAProcess(info->si_code)) return;  // no address comes with it
  const uint64_t address = reinterpret_cast<uint64_t>(info->si_addr);
  if (sig == SIGSEGV || sig == SIGBUS) {
    uint64_t stackPointer = 0;
#if defined(__x86_64__)
    if (context != nullptr)
      stackPointer = static_cast<uint64_t>(static_cast<const ucontext_t*>(context)->uc_mcontext.gregs[REG_RSP]);
#endif
    t.str("address: ");
    t.hex(address);
    t.str("\n");
    if (stackPointer != 0) {
      t.str("stack-pointer: ");
      t.hex(stackPointer);
      t.str("\n");
    }
    describeAddress(t, address, stackPointer, own != nullptr ? own->profState : nullptr);
  } else if (sig == SIGFPE || sig == SIGILL) {
    t.str("instruction: ");
    t.hex(address);
    t.str("\n");
  }
}

void keepDeferredInfo(int sig, const siginfo_t* info) {
  int none = 0;
  if (deferredInfoSignal.load() != 0) return;
  deferredInfo = *info;
  deferredInfoSignal.compare_exchange_strong(none, sig);
}

void crashHandler(int sig, siginfo_t* info, void* context) {
  const int savedErrno = errno;
  if (getpid() != tracedProcess.load()) {
    dieWith(sig);
    errno = savedErrno;
    return;
  }
  const pid_t self = gettid();
  CrashSlot* own = ownSlot;
  if (own != nullptr) own->inHandler.store(1);

  const pid_t finishing = finishingThread.load();
  if (finishing != 0) {
    if (exitFinished.load() || finishing == self) {
      dieWith(sig);
    } else if (finishing == -self) {
      // This thread's own exit finalisation was interrupted: a termination
      // waits for it to end, a fault ends the process now.
      if (isTermination(sig)) {
        keepDeferredInfo(sig, info);
        deferredExitSignal = sig;
        if (own != nullptr) own->inHandler.store(0);
        errno = savedErrno;
        return;
      }
      dieWith(sig);
    } else if (finishing < 0) {
      // Another thread is finishing the traces at exit; bounded, since that
      // thread may wait for a printer this thread holds.
      for (int i = 0; i < 10000 && !exitFinished.load(); ++i) sleepMicros(1000);
      dieWith(sig);
    } else {
      waitForTheEnd();  // another thread's crash ends the process
    }
    errno = savedErrno;
    return;
  }

  // The thread's own printer: free, or held by this thread inside a record.
  bufferedPrinterStruct_t* ownPrinter =
      own != nullptr && own->state.load(std::memory_order_acquire) == kActive ? own->printer : nullptr;
  bool ownLocked = false;
  if (ownPrinter != nullptr) {
    ownLocked = recordLockOwnerIsOutside(&ownPrinter->lock, &ownPrinter->mutex);
    if (!ownLocked && isTermination(sig)) {
      // Nothing is lost by waiting for the record to end.
      keepDeferredInfo(sig, info);
      ownPrinter->deferred_signal = sig;
      own->inHandler.store(0);
      errno = savedErrno;
      return;
    }
  }

  pid_t expected = 0;
  if (!finishingThread.compare_exchange_strong(expected, self)) {
    // Lost to another crash or to the exit: its finisher may need this
    // printer, so it is let go first.
    if (ownLocked) recordLockOwnerRelease(&ownPrinter->lock, &ownPrinter->mutex);
    if (expected < 0) {
      for (int i = 0; i < 10000 && !exitFinished.load(); ++i) sleepMicros(1000);
      dieWith(sig);
      errno = savedErrno;
      return;
    }
    waitForTheEnd();
  }

  const siginfo_t* original = deferredInfoSignal.load() == sig && info->si_code == SI_TKILL &&
                                      info->si_pid == getpid()
                                  ? &deferredInfo
                                  : info;
  crashText.clear();
  describeSignal(crashText, sig, original, context, own);
  finishAndDescribe(crashText, own, ownLocked);
  writeCrashFile(crashText);
  dieWith(sig);
  errno = savedErrno;
}

}  // namespace

void __PROF_Crash_install(void) {
  tracedProcess.store(getpid());
  const struct sigaction action = handlerAction();
  uint64_t armed = 0;
  for (int sig : kHandledSignals) {
    struct sigaction current;
    if (sigaction(sig, nullptr, &current) != 0) continue;
    // Only a default disposition: an inherited ignore (nohup) or a handler
    // that is already there (a sanitizer's) stays as it is.
    if (current.sa_handler != SIG_DFL) continue;
    if (sigaction(sig, &action, nullptr) == 0) armed |= uint64_t{1} << sig;
  }
  armedSignals.store(armed);
}

bool __PROF_Crash_handlesSignal(int signum) {
  return signum > 0 && signum < 64 && (armedSignals.load(std::memory_order_relaxed) >> signum & 1) != 0;
}

bool __PROF_Crash_isHandler(const void* handler) {
  return handler == reinterpret_cast<const void*>(crashHandler);
}

int __PROF_Crash_installInsteadOfDefault(int signum, struct sigaction* oldact) {
  const struct sigaction action = handlerAction();
  return sigaction(signum, &action, oldact);
}

void __PROF_Crash_afterDelivery(int signum) {
  if (!__PROF_Crash_handlesSignal(signum)) return;
  struct sigaction current;
  if (sigaction(signum, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
    __PROF_Crash_installInsteadOfDefault(signum, nullptr);
}

void __PROF_Crash_threadStart(GProfilerState_t* state, uint32_t threadId) {
  CrashSlot* slot = nullptr;
  for (CrashSlot* s = slotList.load(std::memory_order_acquire); s != nullptr; s = s->next) {
    int expected = kFree;
    if (s->state.compare_exchange_strong(expected, kSetting)) {
      slot = s;
      break;
    }
  }
  if (slot == nullptr) {
    slot = new (ProfAlloc<CrashSlot>()) CrashSlot{};
    slot->state.store(kSetting);
    slot->altStack = ProfMalloc(kAltStackSize);
    CrashSlot* head = slotList.load(std::memory_order_relaxed);
    do {
      slot->next = head;
    } while (!slotList.compare_exchange_weak(head, slot, std::memory_order_release, std::memory_order_relaxed));
  }
  slot->printer = state->TraceBuffPrinterPtr;
  slot->profState = state;
  slot->threadId = threadId;
  slot->inHandler.store(0);
  slot->state.store(kActive, std::memory_order_release);
  state->CrashSlotPtr = slot;
  ownSlot = slot;

  // A thread that has an alternate stack of its own (the design's, a
  // sanitizer's) keeps it.
  stack_t current;
  if (sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) != 0) {
    stack_t ours;
    ours.ss_sp = slot->altStack;
    ours.ss_size = kAltStackSize;
    ours.ss_flags = 0;
    ownsAltStack = sigaltstack(&ours, nullptr) == 0;
  }
}

void __PROF_Crash_printerClosing(GProfilerState_t* state) {
  CrashSlot* slot = state->CrashSlotPtr;
  if (slot == nullptr) return;
  int expected = kActive;
  if (!slot->state.compare_exchange_strong(expected, kSetting)) {
    if (expected == kClaimed) waitForTheEnd();  // the crash handler owns the printer now
    return;
  }
  slot->printer = nullptr;
  slot->profState = nullptr;
  slot->state.store(kIdle, std::memory_order_release);
  state->CrashSlotPtr = nullptr;
}

void __PROF_Crash_threadEnd(void) {
  CrashSlot* slot = ownSlot;
  if (slot == nullptr) return;
  if (ownsAltStack) {
    stack_t off;
    memset(&off, 0, sizeof off);
    off.ss_flags = SS_DISABLE;
    sigaltstack(&off, nullptr);
    ownsAltStack = false;
  }
  ownSlot = nullptr;
  // A slot whose printer is still open (the application is finishing it)
  // is not handed on.
  int expected = kIdle;
  slot->state.compare_exchange_strong(expected, kFree);
}

void __PROF_Crash_raiseDeferred(bufferedPrinterStruct_t* printer) {
  const int sig = printer->deferred_signal;
  printer->deferred_signal = 0;
  raise(sig);
}

void __PROF_Crash_claimForExit(void) {
  pid_t expected = 0;
  if (!finishingThread.compare_exchange_strong(expected, -gettid())) waitForTheEnd();
}

void __PROF_Crash_exitFinished(void) {
  exitFinished.store(true);
  if (const int sig = deferredExitSignal) {
    deferredExitSignal = 0;
    raise(sig);
  }
}
