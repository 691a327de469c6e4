// Crash safety: when the process is about to die from a fatal or a
// termination signal, every thread's trace is finished up to the last whole
// record its thread wrote, a "crash" file is left in the run directory, and
// the process then dies from the original signal with its default action
// (same status, same core dump as an unprofiled run).
//
// The runtime's handler takes the place of the default disposition only: at
// start-up for every handled signal still at its default, and later whenever
// the design asks for the default through the signal wrappers (signals.h) or
// a one-shot handler of the design is reset by the kernel. A handler of the
// design therefore always runs and decides; the traces are finished only
// when the default action is what the signal would do.
//
// Everything the handler needs exists before it runs: each traced thread
// gets an alternate signal stack (a stack overflow is handled on it) and a
// slot that names its printer and profiler state, both made at its trace
// start-up. The handler allocates nothing and takes no lock it could wait
// for: printers are taken with trylock, and a thread's own printer that it
// was writing when the signal came is finished from the end of its last
// whole record (bufferedPrinter.h).
#pragma once

#include <signal.h>

#include <cstdint>

#include "prof/GProfilerState_fwd.h"

struct bufferedPrinterStruct_s;
typedef struct bufferedPrinterStruct_s bufferedPrinterStruct_t;
struct CrashSlot;

// Installs the handler for every handled signal whose disposition is still
// the default. Once, at the process's start-up.
void __PROF_Crash_install(void);

// Whether the handler stands in for the default disposition of signum.
[[nodiscard]] bool __PROF_Crash_handlesSignal(int signum);
// Whether handler is the runtime's own (reported as SIG_DFL to the design).
[[nodiscard]] bool __PROF_Crash_isHandler(const void* handler);
// Puts the handler where the design asked for the default action of signum;
// the previous action goes to *oldact (may be null). Returns sigaction's result.
int __PROF_Crash_installInsteadOfDefault(int signum, struct sigaction* oldact);
// Called by the trampolines at the delivery of a handled signal: a one-shot
// handler has just been reset to the default by the kernel, so the
// runtime's handler takes the default's place again.
void __PROF_Crash_afterDelivery(int signum);

// The calling thread's trace start-up, after its printer exists: its slot
// and its alternate signal stack.
void __PROF_Crash_threadStart(GProfilerState_t* state, uint32_t threadId);
// Before the state's printer is deleted (by any thread): the slot no longer
// names it. If a crash has already claimed the printer this never returns:
// the process is about to end.
void __PROF_Crash_printerClosing(GProfilerState_t* state);
// The calling thread's end, after its finalisation: its alternate stack is
// taken down and its slot can serve a later thread.
void __PROF_Crash_threadEnd(void);

// A termination signal that arrived while its thread was inside a record of
// its own printer is raised again here, when the record has ended.
[[gnu::cold]] void __PROF_Crash_raiseDeferred(bufferedPrinterStruct_t* printer);

// The exit-time finalisation and the crash handler never finish traces at
// the same time: the exiting thread claims the traces first (a crash being
// handled keeps it waiting until the process ends), and says when they are
// finished (a termination signal that came meanwhile is raised then).
void __PROF_Crash_claimForExit(void);
void __PROF_Crash_exitFinished(void);
