// Thread profiles: the calling thread's cached profile, thread numbers, the
// state machine, the exit clean-up, application finalisation, the heap
// registry with its locks and archive, and the two cross-thread look-ups of
// the access classifier (another thread's thread-locals and locals).
#pragma once

#include <cstdint>

#include "HeapVariables.h"
#include "array.h"
#include "red_black_tree.h"
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

// Heap registry.
void __PROF_thread_profile_init_heap_info(void);
int __PROF_thread_profile_IsHeapInfoAvailable(void);
HeapVariables* __PROF_thread_profile_getHeapRegPtr(void);
RBHeapNodeStruct_t* __PROF_thread_profile_getHeapRegTreePtr_nil(void);
void __PROF_lock_access_to_HeapRegTreePtr(void);
// For the crash handler, which must not wait for a lock: true when taken.
[[nodiscard]] bool __PROF_trylock_access_to_HeapRegTreePtr(void);
void __PROF_unlock_access_to_HeapRegTreePtr(void);
// RAII holder of the heap-registry lock.
class [[nodiscard]] HeapRegistryGuard {
 public:
  HeapRegistryGuard() { __PROF_lock_access_to_HeapRegTreePtr(); }
  ~HeapRegistryGuard() { __PROF_unlock_access_to_HeapRegTreePtr(); }
  HeapRegistryGuard(const HeapRegistryGuard&) = delete;
  HeapRegistryGuard& operator=(const HeapRegistryGuard&) = delete;
};
void __PROF_thread_profile_MoveFreeHeapToArray(heapStruct_t* ptr);
ArrayStruct_t* __PROF_thread_profile_check_StatHeapArrayPtr_is_locked(void);
void __PROF_thread_profile_deleteStatHeapArray(void);
void __PROF_lock_access_to_leak_list(void);
void __PROF_unlock_access_to_leak_list(void);

// Cross-thread look-ups.
// The node may belong to a thread that ends as soon as the table lock is
// released; readers that need its fields use the copying variant, which
// reads them under the lock.
const GlobalVariable* __PROF_GetTLSGlobalVariable(U64 Addr);
[[nodiscard]] bool __PROF_GetTLSGlobalVariableCopy(U64 Addr, GlobalVariable* out);
// The calling thread's own thread-local variable holding Addr (state is the
// calling thread's), or null; what the table search gives when no other
// thread's variables can hold Addr.
const GlobalVariable* __PROF_GetOwnTLSGlobalVariable(const GProfilerState_t* state, U64 Addr);
RemoteAccessInfo_t __PROF_GetRemoteAccessInfo(U64 address);

// The calling thread's profiler state (its profile is made on first use);
// null after the thread's exit clean-up released it.
inline GProfilerState_t* __PROF_stateOfCallingThread() { return __PROF_thread_profile_GetProfileInfo()->prof_state; }

// The calling thread's trace printer, or null when it has none (not yet
// opened, or already finished).
bufferedPrinterStruct_t* __PROF_printerOfCallingThread(void);
