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

#include "VFrame.h"
#include "prof/GProfilerState_fwd.h"

struct Function;
struct bufferedPrinterStruct_s;
typedef struct bufferedPrinterStruct_s bufferedPrinterStruct_t;
typedef struct GlobalVariables_s GlobalVariables;
typedef struct thread_profile_t_ thread_profile_t;

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
};

void __PROF_GProfilerState_init(GProfilerState_t* G);
void __PROF_GProfilerState_pushFrame(GProfilerState_t* gProf, const Function* funcData);
// Returns the new top frame (null when the stack became empty).
VFrame_t* __PROF_GProfilerState_popFrame(GProfilerState_t* gProf);
void __PROF_GProfilerState_growStackframeRange(GProfilerState_t* Prof, const VFrame_t* Frame);
// Sets the top frame's address and, with a published layout, its range.
void __PROF_GProfilerState_setCurrentFrameAddress(GProfilerState_t* Prof, uint64_t frameAddress);
void __PROF_GProfilerState_destruct(GProfilerState_t* Prof);
VScope_t* __PROF_GProfilerState_allocate_scope(GProfilerState_t* Prof);
void __PROF_GProfilerState_free_scope(GProfilerState_t* Prof, VScope_t* Scope);
