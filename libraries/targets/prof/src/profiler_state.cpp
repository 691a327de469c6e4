// The virtual call stack of one thread: frame and scope pools, push, pop
// and the thread's stack range. Steady call patterns allocate nothing:
// frames and scopes are recycled through per-thread free lists.
#include "profiler_state.h"

#include <cstdlib>

#include "Function.h"
#include "bufferedPrinter.h"
#include "crash.h"
#include "globals.h"
#include "Locals.h"
#include "thread_ranges.h"
#include "utils.h"

void __PROF_VFrame_pushScope(VFrame_t* Frame, VScope_t* Scope) {
  __PROF_InitRBTree(&Scope->tree);
  Scope->bot = Frame->bot;
  Scope->top = Frame->top;
  Scope->prev = Frame->inner;
  Frame->inner = Scope;
}

VScope_t* __PROF_VFrame_popScope(VFrame_t* Frame) {
  VScope_t* Scope = Frame->inner;
  Frame->inner = Scope->prev;
  Frame->bot = Scope->bot;
  Frame->top = Scope->top;
  return Scope;
}

void __PROF_GProfilerState_init(GProfilerState_t* G) {
  G->CurrFuncPtr = nullptr;
  G->TLSTreePtr = nullptr;
  G->TraceBuffPrinterPtr = nullptr;
  G->FramePtr = nullptr;
  pthread_mutex_init(&G->FramePtr_mutex, nullptr);
  pthread_mutex_init(&G->Stackframes_mutex, nullptr);
  G->ThreadProfile = nullptr;
  G->Stackframes_Min = UINT64_MAX;
  G->Stackframes_Max = 0;
  G->FramePool = nullptr;
  G->ScopePool = nullptr;
  G->RangeSlot = nullptr;
  G->CrashSlotPtr = nullptr;
}

VFrame_t* __PROF_GProfilerState_newFrame(void) { return ProfAlloc<VFrame_t>(); }

namespace {

void freeDynamicLocal(void* node) { free(node); }

}  // namespace

// Returns every scope still open in the popped frame to the pool and
// releases its dynamic-local nodes: nothing can reach them any more.
void __PROF_GProfilerState_releaseFrameContents(GProfilerState_t* gProf, VFrame_t* Frame) {
  if (VScope_t* innermost = Frame->inner) {
    VScope_t* outermost = innermost;
    while (outermost->prev != nullptr) outermost = outermost->prev;
    outermost->prev = gProf->ScopePool;
    gProf->ScopePool = innermost;
    Frame->inner = nullptr;
  }
  if (Frame->dynamic_table != nullptr) {
    __PROF_TableDelete(Frame->dynamic_table, freeDynamicLocal);
    free(Frame->dynamic_table);
    Frame->dynamic_table = nullptr;
  }
}

void __PROF_GProfilerState_widenStackframeRange(GProfilerState_t* Prof, const VFrame_t* Frame) {
  MutexGuard guard(&Prof->Stackframes_mutex);
  // The mirror widens first: a reader must never see the locked range wider
  // than the lock-free one.
  __PROF_ThreadRanges_growStack(Prof->RangeSlot, Frame->bot, Frame->top);
  if (Frame->top > Prof->Stackframes_Max) Prof->Stackframes_Max = Frame->top;
  if (Frame->bot < Prof->Stackframes_Min) Prof->Stackframes_Min = Frame->bot;
}

void __PROF_GProfilerState_destruct(GProfilerState_t* Prof) {
  if (Prof->TraceBuffPrinterPtr != nullptr) {
    __PROF_Crash_printerClosing(Prof);
    deleteBufferedPrinter(Prof->TraceBuffPrinterPtr);
    Prof->TraceBuffPrinterPtr = nullptr;
  }
  while (VFrame_t* Frame = Prof->FramePool) {
    Prof->FramePool = Frame->prev;
    free(Frame);
  }
  while (VScope_t* Scope = Prof->ScopePool) {
    Prof->ScopePool = Scope->prev;
    free(Scope);
  }
  MutexGuard guard(&Prof->FramePtr_mutex);
  Prof->CurrFuncPtr = nullptr;
  Prof->FramePtr = nullptr;
}

VScope_t* __PROF_GProfilerState_allocate_scope(GProfilerState_t* Prof) {
  VScope_t* Scope = Prof->ScopePool;
  if (Scope != nullptr) {
    Prof->ScopePool = Scope->prev;
    return Scope;
  }
  return ProfAlloc<VScope_t>();
}

void __PROF_GProfilerState_free_scope(GProfilerState_t* Prof, VScope_t* Scope) {
  Scope->prev = Prof->ScopePool;
  Prof->ScopePool = Scope;
}
