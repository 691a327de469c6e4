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

#include "commonProfInclude/common.h"
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

// A fresh thread number, one more than the last; names the thread's trace.
U32 __PROF_thread_profile_get_new_thread_id(void);
// Sets the record's life-cycle state under its mutex; safe for a thread
// that may be cancelled while waiting for it.
void __PROF_thread_profile_SetState(thread_profile_t* profile, threadstate_t new_state);
void __PROF_thread_profile_SetProfileFinalized(thread_profile_t* profile);
bool __PROF_is_profile_finalized(const thread_profile_t* profile);
// Shared construction of a record (used by the thread table), with a
// fresh profiler state; INITIALIZING.
thread_profile_t* thread_profile_init(pthread_t ptid, uint32_t tid);
void init_prof_state(thread_profile_t* thread_info);
// Frees the record's profiler state, if any, and clears the pointer. The
// thread the state belonged to must be gone or finalised, and the caller
// holds the table lock (remote look-ups read states under it).
void __PROF_thread_profile_release_state(thread_profile_t* profile);
