// Signal wrappers. The user's handler is kept in a table and a trampoline
// is installed instead; the trampoline suspends tracing of the interrupted
// thread around the handler, so nothing the handler does is traced. Towards
// the caller the wrappers report the user's previous handler, never a
// trampoline. The tables take no lock and allocate only at their creation,
// so trampolines can read them inside a handler.
//
// Where the runtime's crash handler stands in for a default disposition
// (crash.h), the wrappers keep the appearance of the default: asking for the
// default installs the crash handler, and the crash handler is reported as
// SIG_DFL.
#include "signals.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>

#include "crash.h"
#include "prof/Wrappers.h"
#include "utils.h"

namespace {

typedef void* Handler_t;
typedef std::atomic<Handler_t> AtomicHandler_t;
typedef AtomicHandler_t* AtomicHandlerTable_t;
typedef std::atomic<AtomicHandlerTable_t> AtomicAtomicHandlerTable_t;

AtomicAtomicHandlerTable_t SignalTable{nullptr};
AtomicAtomicHandlerTable_t SigactionTable{nullptr};

Handler_t const kOutOfTable = reinterpret_cast<Handler_t>(-1);

inline bool inTable(int Signum) { return Signum >= 0 && Signum < __libc_current_sigrtmax(); }

// SIG_DFL and SIG_IGN are the dispositions 0 and 1.
inline bool isDisposition(const void* handler) { return reinterpret_cast<uintptr_t>(handler) <= 1; }

AtomicHandlerTable_t tableOf(AtomicAtomicHandlerTable_t& TablePtr) {
  AtomicHandlerTable_t table = TablePtr.load(std::memory_order_acquire);
  if (table != nullptr) return table;
  const size_t entries = static_cast<size_t>(__libc_current_sigrtmax());
  auto* fresh = static_cast<AtomicHandlerTable_t>(ProfCalloc(entries, sizeof(AtomicHandler_t)));
  for (size_t i = 0; i < entries; ++i) new (&fresh[i]) AtomicHandler_t(nullptr);
  if (TablePtr.compare_exchange_strong(table, fresh, std::memory_order_acq_rel)) return fresh;
  free(fresh);  // another thread installed its table first
  return table;
}

int Register(AtomicAtomicHandlerTable_t& TablePtr, int Signum, Handler_t Handler, Handler_t* OldHandler) {
  if (!inTable(Signum)) {
    if (OldHandler != nullptr) *OldHandler = kOutOfTable;
    return -1;
  }
  Handler_t previous = tableOf(TablePtr)[Signum].exchange(Handler);
  if (OldHandler != nullptr) *OldHandler = previous;
  return 0;
}

Handler_t Get(AtomicAtomicHandlerTable_t& TablePtr, int Signum) {
  if (!inTable(Signum)) return kOutOfTable;
  AtomicHandlerTable_t table = TablePtr.load(std::memory_order_acquire);
  return table == nullptr ? nullptr : table[Signum].load();
}

// signal()'s answer when the crash handler is installed in place of the
// default: the previous disposition, SIG_ERR on failure.
prof_sighandler_t defaultThroughCrashHandler(int signum) {
  struct sigaction old;
  if (__PROF_Crash_installInsteadOfDefault(signum, &old) != 0) return SIG_ERR;
  return old.sa_handler;
}

prof_sighandler_t signal_wrapper(int signum, prof_sighandler_t handler) {
  Handler_t previous = nullptr;
  prof_sighandler_t oldDisposition;
  if (handler == SIG_DFL && __PROF_Crash_handlesSignal(signum)) {
    oldDisposition = defaultThroughCrashHandler(signum);
    previous = __PROF_SignalGet(signum);
  } else if (isDisposition(reinterpret_cast<void*>(handler))) {
    oldDisposition = signal(signum, handler);
    previous = __PROF_SignalGet(signum);
  } else {
    if (__PROF_SignalRegister(signum, reinterpret_cast<void*>(handler), &previous) != 0)
      return signal(signum, handler);  // outside the table: no trampoline
    oldDisposition = signal(signum, __PROF_signal_handler_wrapper);
  }
  if (oldDisposition == __PROF_signal_handler_wrapper) return reinterpret_cast<prof_sighandler_t>(previous);
  if (reinterpret_cast<void*>(oldDisposition) == reinterpret_cast<void*>(__PROF_sigaction_handler_wrapper))
    return reinterpret_cast<prof_sighandler_t>(__PROF_SigactionGet(signum));
  if (__PROF_Crash_isHandler(reinterpret_cast<void*>(oldDisposition))) return SIG_DFL;
  return oldDisposition;
}

}  // namespace

int __PROF_SignalRegister(int Signum, void* Handler, void** OldHandler) {
  return Register(SignalTable, Signum, Handler, OldHandler);
}

int __PROF_SigactionRegister(int Signum, void* Handler, void** OldHandler) {
  return Register(SigactionTable, Signum, Handler, OldHandler);
}

void* __PROF_SignalGet(int Signum) { return Get(SignalTable, Signum); }

void* __PROF_SigactionGet(int Signum) { return Get(SigactionTable, Signum); }

void __PROF_signal_handler_wrapper(int signum) {
  auto handler = reinterpret_cast<void (*)(int)>(__PROF_SignalGet(signum));
  __PROF_Crash_afterDelivery(signum);
  __PROF_trace_suspend();
  if (!isDisposition(reinterpret_cast<void*>(handler)) && handler != reinterpret_cast<void (*)(int)>(kOutOfTable))
    handler(signum);
  __PROF_trace_resume();
}

void __PROF_sigaction_handler_wrapper(int signum, siginfo_t* info, void* ucontext) {
  auto handler = reinterpret_cast<void (*)(int, siginfo_t*, void*)>(__PROF_SigactionGet(signum));
  __PROF_Crash_afterDelivery(signum);
  __PROF_trace_suspend();
  if (!isDisposition(reinterpret_cast<void*>(handler)) &&
      handler != reinterpret_cast<void (*)(int, siginfo_t*, void*)>(kOutOfTable))
    handler(signum, info, ucontext);
  __PROF_trace_resume();
}

prof_sighandler_t __PROF_Signal(int signum, prof_sighandler_t handler) { return signal_wrapper(signum, handler); }

prof_sighandler_t __PROF___sysv_Signal(int signum, prof_sighandler_t handler) {
  return signal_wrapper(signum, handler);
}

int __PROF_Sigaction(int signum, const struct sigaction* act, struct sigaction* oldact) {
  Handler_t previousOneArg = nullptr;
  Handler_t previousThreeArg = nullptr;
  struct sigaction action;
  const struct sigaction* newAction = nullptr;

  // Numbers outside the tables never get a trampoline; their old handler
  // is libc's own answer.
  if (!inTable(signum)) return sigaction(signum, act, oldact);

  if (act != nullptr) {
    action = *act;
    newAction = &action;
    // A default or ignore disposition is no handler, whichever field holds
    // it: libc gets it unchanged and no table entry is written.
    const bool handler = !isDisposition(reinterpret_cast<void*>(act->sa_handler));
    const bool siginfo = (act->sa_flags & SA_SIGINFO) != 0;
    if (siginfo && handler) {
      if (__PROF_SigactionRegister(signum, reinterpret_cast<void*>(act->sa_sigaction), &previousThreeArg) != 0)
        return sigaction(signum, act, oldact);
      previousOneArg = __PROF_SignalGet(signum);
      action.sa_sigaction = __PROF_sigaction_handler_wrapper;
    } else if (handler) {
      if (__PROF_SignalRegister(signum, reinterpret_cast<void*>(act->sa_handler), &previousOneArg) != 0)
        return sigaction(signum, act, oldact);
      action.sa_handler = __PROF_signal_handler_wrapper;
      previousThreeArg = __PROF_SigactionGet(signum);
    } else {
      previousOneArg = __PROF_SignalGet(signum);
      if (previousOneArg == kOutOfTable) return sigaction(signum, act, oldact);
      previousThreeArg = __PROF_SigactionGet(signum);
    }
  }

  // The default of a signal the crash handler stands in for is the crash
  // handler, with the runtime's own flags and mask.
  const bool crashDefault = newAction != nullptr && newAction->sa_handler == SIG_DFL &&
                            __PROF_Crash_handlesSignal(signum);
  const int ret = crashDefault ? __PROF_Crash_installInsteadOfDefault(signum, oldact)
                               : sigaction(signum, newAction, oldact);

  // Only a trampoline is translated back into the user's handler; a default
  // or ignore disposition (also one whose flags still carry SA_SIGINFO) and
  // a handler installed outside the wrappers are reported as libc has them.
  if (ret == 0 && oldact != nullptr) {
    const void* installed = reinterpret_cast<void*>(oldact->sa_handler);
    if (__PROF_Crash_isHandler(installed)) {
      oldact->sa_handler = SIG_DFL;
      oldact->sa_flags = 0;
      sigemptyset(&oldact->sa_mask);
    } else if (installed == reinterpret_cast<void*>(__PROF_sigaction_handler_wrapper)) {
      oldact->sa_sigaction = reinterpret_cast<void (*)(int, siginfo_t*, void*)>(
          act != nullptr ? previousThreeArg : __PROF_SigactionGet(signum));
    } else if (installed == reinterpret_cast<void*>(__PROF_signal_handler_wrapper)) {
      oldact->sa_handler =
          reinterpret_cast<prof_sighandler_t>(act != nullptr ? previousOneArg : __PROF_SignalGet(signum));
    }
  }
  return ret;
}
