// The profile of one thread: its profiler number, its system handle, its
// profiler state and its life-cycle state.
//
// Life cycle: made (INITIALIZING) by the thread's first profiled call, by
// the creating thread when it defines a new thread, or by a join or naming
// look-up; RUNNING after the thread's own trace start-up; FINALIZING and
// FINALIZED at its exit; removed and freed by a successful join. Records
// live in the thread table and are reached by other threads only under the
// table lock; thread_state under thread_state_mutex.
#pragma once

#include <pthread.h>

#include <cstdint>

#include "prof/GProfilerState_fwd.h"

typedef enum threadstate_tag {
  THREAD_STATE_UNDEFINED = 0,
  THREAD_STATE_INITIALIZING = 256,
  THREAD_STATE_RUNNING = 257,
  THREAD_STATE_FINALIZING = 258,
  THREAD_STATE_FINALIZED = 259
} threadstate_t;
static_assert(sizeof(threadstate_t) == 4, "thread states are 4-byte values");

typedef struct thread_profile_t_ {
  uint32_t thread_id;               // profiler number; names the trace file
  pthread_t pthread_id;             // system handle; the table key
  GProfilerState_t* prof_state;     // owned; null after the exit clean-up
  pthread_mutex_t thread_state_mutex;
  threadstate_t thread_state;
  // Set (under the table lock) when the thread itself has taken this record
  // and is running its trace start-up; the exit-time wait waits only for
  // such records, never for ones made on behalf of a thread that has not
  // called in yet.
  bool initializer_active;
} thread_profile_t;
