// The heap registry shared by every thread: live heap blocks and their
// bounds, the archive of freed blocks, and their locks. Lock order: the
// one-time set-up lock, then the registry lock, then the archive lock.
#pragma once

#include "HeapVariables.h"
#include "array.h"

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
