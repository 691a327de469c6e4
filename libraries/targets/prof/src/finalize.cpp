// Finalisation of one thread (from its exit clean-up) and of the process
// (the exit handler, which runs at most once even when several threads
// call exit at the same moment, and which no exiting thread outruns).
#include "finalize.h"

#include <unistd.h>

#include <atomic>

#include "HeapVariables.h"
#include "crash.h"
#include "globals.h"
#include "profiler_state.h"
#include "suspend.h"
#include "heap_registry.h"
#include "thread_profile_utils.h"
#include "trace.h"

void __PROF_FinalizeInstrumentation(GProfilerState_t* gProf) {
  if (gProf == nullptr || __PROF_is_profile_finalized(gProf->ThreadProfile)) return;
  while (gProf->FramePtr != nullptr) {
    __PROF_GProfilerState_popFrame(gProf);
    if (gProf->TraceBuffPrinterPtr != nullptr) __PROF_TRFunctionExitUnwind(gProf->TraceBuffPrinterPtr);
  }
  __PROF_GProfilerState_destruct(gProf);
  __PROF_trace_suspend();
  __PROF_thread_profile_SetProfileFinalized(gProf->ThreadProfile);
}

namespace {

// Set once the process-exit finalisation has finished its work.
std::atomic<bool> finalizationDone{false};

}  // namespace

void __PROF_FinalizeInstrumentationAll(void) {
  // Exchanged atomically: two threads calling exit together run it once.
  static std::atomic<bool> called{false};
  if (called.exchange(true)) return;
  __PROF_Crash_claimForExit();
  {
    MutexGuard lock(&__PROF_FunctionMappingFdMutex);
    if (__PROF_FunctionMappingFd != nullptr) {
      fclose(__PROF_FunctionMappingFd);
      __PROF_FunctionMappingFd = nullptr;
    }
  }
  __PROF_finalize_all_threads();
  __PROF_thread_profile_deleteStatHeapArray();
  finalizationDone.store(true, std::memory_order_release);
  __PROF_Crash_exitFinished();
}

void __PROF_AwaitFinalizeInstrumentationAll(void) {
  // Registered just before the handler above, so it runs right after it in
  // exit's order. When two threads call exit together, each runs some of
  // the handlers and the first to run out of them ends the process; the
  // one that gets here waits until the other has finished the traces. The
  // handler above has always been taken by then (handlers run in reverse
  // order of registration), so the wait ends.
  while (!finalizationDone.load(std::memory_order_acquire)) usleep(100);
}

void __PROF_deleteStatHeapArray(ArrayStruct_t** stat_heap_array_ptr) {
  if (stat_heap_array_ptr == nullptr || *stat_heap_array_ptr == nullptr) return;
  ArrayStruct_t* archive = *stat_heap_array_ptr;
  while (archive->noElems != 0)
    __PROF_HeapVariable_delete(static_cast<heapStruct_t*>(ArrayElementDelete(archive, archive->lastIdx)));
  ArrayDelete(archive);
  *stat_heap_array_ptr = nullptr;
}
