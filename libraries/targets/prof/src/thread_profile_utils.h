// The life cycle of thread profiles: the calling thread's cached profile and
// its creation, the exit clean-up and application finalisation. The record
// itself, its states and thread numbers are in thread_profile.h, the heap
// registry in heap_registry.h, the classifier's cross-thread look-ups in
// thread_lookup.h.
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
void __PROF_free_thread_specific_data(void* ptr);
void __PROF_finalize_all_threads(void);

// The calling thread's profiler state (its profile is made on first use);
// null after the thread's exit clean-up released it.
inline GProfilerState_t* __PROF_stateOfCallingThread() { return __PROF_thread_profile_GetProfileInfo()->prof_state; }

// The calling thread's trace printer, or null when it has none (not yet
// opened, or already finished).
bufferedPrinterStruct_t* __PROF_printerOfCallingThread(void);
