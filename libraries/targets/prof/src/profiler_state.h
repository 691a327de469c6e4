// A thread's profiler state: its trace printer and its virtual call stack.
//
// Life cycle: made with the thread's profile (thread_profile_utils), which
// owns it; emptied by the thread's finalisation and freed by its exit
// clean-up. Only the owning thread pushes and pops. Other threads read
// FramePtr/CurrFuncPtr and the frame chain under FramePtr_mutex (remote
// lookups) and the stack range under Stackframes_mutex (owner search);
// the two mutexes are never held together, nor while a record is written.
#pragma once

#include <pthread.h>

#include <cstdint>

#include "Function.h"
#include "Locals.h"
#include "VFrame.h"
#include "utils.h"
#include "prof/GProfilerState_fwd.h"

struct Function;
struct bufferedPrinterStruct_s;
typedef struct bufferedPrinterStruct_s bufferedPrinterStruct_t;
typedef struct GlobalVariables_s GlobalVariables;
typedef struct thread_profile_t_ thread_profile_t;
struct ThreadRangeSlot;
struct CrashSlot;

struct GProfilerState_s {
  const Function* CurrFuncPtr;                  // function of the top frame; null when empty
  GlobalVariables* TLSTreePtr;                  // the thread's thread-local variables
  bufferedPrinterStruct_t* TraceBuffPrinterPtr; // null until opened and after finalisation
  VFrame_t* FramePtr;                           // top frame; null when empty
  pthread_mutex_t FramePtr_mutex;               // guards FramePtr, CurrFuncPtr and what readers reach
  pthread_mutex_t Stackframes_mutex;            // guards Stackframes_Min/Max
  thread_profile_t* ThreadProfile;              // owning profile
  uint64_t Stackframes_Min;                     // lowest frame start seen; all ones at first
  uint64_t Stackframes_Max;                     // highest frame end (exclusive) seen
  VFrame_t* FramePool;                          // free frames, linked through prev
  VScope_t* ScopePool;                          // free scopes, linked through prev
  // Lock-free mirror of Stackframes_Min/Max and of the thread-local range
  // for other threads' classifiers (thread_ranges.h); null when the state
  // is not in the thread table or the directory is full.
  ThreadRangeSlot* RangeSlot;
  // The crash handler's view of this state's printer and stack (crash.h);
  // null until the thread's trace start-up.
  CrashSlot* CrashSlotPtr;
};

void __PROF_GProfilerState_init(GProfilerState_t* G);
// Push and pop run at every call and return: inline, with the rare parts
// (allocating a frame, releasing scopes and dynamic locals) out of line.
[[gnu::cold]] VFrame_t* __PROF_GProfilerState_newFrame(void);
[[gnu::cold]] void __PROF_GProfilerState_releaseFrameContents(GProfilerState_t* gProf, VFrame_t* Frame);

inline void __PROF_GProfilerState_pushFrame(GProfilerState_t* gProf, const Function* funcData) {
  MutexGuard guard(&gProf->FramePtr_mutex);
  VFrame_t* Frame = gProf->FramePool;
  if (Frame != nullptr) [[likely]]
    gProf->FramePool = Frame->prev;
  else
    Frame = __PROF_GProfilerState_newFrame();
  __PROF_VFrame_construct(Frame, gProf->FramePtr, funcData);
  gProf->FramePtr = Frame;
  gProf->CurrFuncPtr = funcData;
}

// Returns the new top frame (null when the stack became empty).
inline VFrame_t* __PROF_GProfilerState_popFrame(GProfilerState_t* gProf) {
  VFrame_t* Frame = gProf->FramePtr;
  if (Frame == nullptr) return nullptr;
  VFrame_t* newTop;
  {
    MutexGuard guard(&gProf->FramePtr_mutex);
    newTop = Frame->prev;
    gProf->FramePtr = newTop;
    gProf->CurrFuncPtr = newTop ? newTop->function : nullptr;
  }
  // Unreachable for other threads from here on.
  if (Frame->inner != nullptr || Frame->dynamic_table != nullptr) [[unlikely]]
    __PROF_GProfilerState_releaseFrameContents(gProf, Frame);
  Frame->prev = gProf->FramePool;
  gProf->FramePool = Frame;
  return newTop;
}
// Widens the thread's range (and its lock-free mirror) under
// Stackframes_mutex; the caller is the owning thread.
void __PROF_GProfilerState_widenStackframeRange(GProfilerState_t* Prof, const VFrame_t* Frame);
// Only the owning thread widens its range, so it may read the bounds without
// the lock: a frame already inside them (the steady state of a loop) changes
// nothing and takes no lock.
inline void __PROF_GProfilerState_growStackframeRange(GProfilerState_t* Prof, const VFrame_t* Frame) {
  if (Frame->bot >= Prof->Stackframes_Min && Frame->top <= Prof->Stackframes_Max) [[likely]]
    return;
  __PROF_GProfilerState_widenStackframeRange(Prof, Frame);
}
// Sets the top frame's address and, with a published layout, its range.
// Inline: every start of a function with locals comes here.
inline void __PROF_GProfilerState_setCurrentFrameAddress(GProfilerState_t* Prof, uint64_t frameAddress) {
  VFrame_t* Frame = Prof->FramePtr;
  const Locals* L = __PROF_Function_getLocalsTree(Frame->function);
  {
    MutexGuard guard(&Prof->FramePtr_mutex);
    Frame->address = frameAddress;
    if (L == nullptr) return;
    Frame->bot = frameAddress + static_cast<uint64_t>(L->min_start);
    Frame->top = frameAddress + static_cast<uint64_t>(L->max_end) + 1;
  }
  __PROF_GProfilerState_growStackframeRange(Prof, Frame);
}
void __PROF_GProfilerState_destruct(GProfilerState_t* Prof);
VScope_t* __PROF_GProfilerState_allocate_scope(GProfilerState_t* Prof);
void __PROF_GProfilerState_free_scope(GProfilerState_t* Prof, VScope_t* Scope);
