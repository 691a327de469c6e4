// Thread profiles: the calling thread's cached profile, thread numbers, the
// state machine, the exit clean-up and application finalisation. The heap
// registry lives in heap_registry.h, the classifier's cross-thread look-ups
// in thread_lookup.h.
#pragma once

#include <cstdint>

#include "commonProfInclude/common.h"
#include "thread_profile.h"

struct bufferedPrinterStruct_s;
typedef struct bufferedPrinterStruct_s bufferedPrinterStruct_t;

// The calling thread's profile; null until its first profiled call. A plain
// pointer, constant-initialised, so that every hook reaches it with one
// thread-relative load and nothing runs at thread exit but the key's
// destructor. Written only by its own thread.
extern thread_local constinit thread_profile_t* __PROF_current_thread_profile;
// Creates the calling thread's profile (its first profiled call).
[[gnu::noinline, gnu::cold]] const thread_profile_t* __PROF_thread_profile_CreateProfileInfo(void);
// The calling thread's profile, created on first use. Inline: every hook
// asks, and after a thread's first call this is one load.
inline const thread_profile_t* __PROF_thread_profile_GetProfileInfo(void) {
  if (const thread_profile_t* profile = __PROF_current_thread_profile) [[likely]]
    return profile;
  return __PROF_thread_profile_CreateProfileInfo();
}
inline const thread_profile_t* __PROF_get_thread_profile_or_null(void) { return __PROF_current_thread_profile; }
U32 __PROF_thread_profile_get_thread_id(void);
U32 __PROF_thread_profile_get_new_thread_id(void);
void __PROF_thread_profile_SetProfileFinalized(thread_profile_t* profile);
bool __PROF_is_profile_finalized(const thread_profile_t* profile);
void __PROF_free_thread_specific_data(void* ptr);
void __PROF_finalize_all_threads(void);
// Exit handler registered just ahead of __PROF_FinalizeInstrumentationAll
// (defined with it): returns once that handler has finished, so that a
// second thread calling exit cannot end the process while the traces are
// still being finished.
void __PROF_AwaitFinalizeInstrumentationAll(void);

// Shared construction of a record (used by the thread table).
thread_profile_t* thread_profile_init(pthread_t ptid, uint32_t tid);
void init_prof_state(thread_profile_t* thread_info);
// Frees the record's profiler state, if any, and clears the pointer. The
// thread the state belonged to must be gone or finalised, and the caller
// holds the table lock (remote look-ups read states under it).
void __PROF_thread_profile_release_state(thread_profile_t* profile);

// The calling thread's profiler state (its profile is made on first use);
// null after the thread's exit clean-up released it.
inline GProfilerState_t* __PROF_stateOfCallingThread() { return __PROF_thread_profile_GetProfileInfo()->prof_state; }

// The calling thread's trace printer, or null when it has none (not yet
// opened, or already finished).
bufferedPrinterStruct_t* __PROF_printerOfCallingThread(void);
