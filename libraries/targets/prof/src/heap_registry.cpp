// The heap registry: the process-wide tree of live heap blocks with its
// bounds, the archive of freed blocks, and the locks that guard them. It is
// built once, on the first allocation, and shared by every thread; the
// classifier reads it under its lock, the crash handler only when the lock
// can be taken without waiting, and finalisation releases the archive.
#include "heap_registry.h"

#include <pthread.h>

#include <atomic>

#include "finalize.h"
#include "ls_profile.h"
#include "utils.h"

namespace {

HeapVariables HeapReg;
// Guards HeapReg (tree and bounds); taken after
// sync_access_to_heap_info_initialized and before sync_access_to_StatHeapArrayPtr.
pthread_mutex_t sync_access_to_HeapRegTreePtr = PTHREAD_MUTEX_INITIALIZER;
ArrayStruct_t* StatHeapArrayPtr = nullptr;
// Guards StatHeapArrayPtr and the archive it points to; innermost heap lock.
pthread_mutex_t sync_access_to_StatHeapArrayPtr = PTHREAD_MUTEX_INITIALIZER;
// Set once, under sync_access_to_heap_info_initialized, after the registry
// and the archive exist. Release/acquire: a thread that sees it set sees
// both fully built, so the "is heap info available" test needs no lock.
std::atomic<bool> heap_info_initialized{false};
// Guards the one-time creation of the registry (and the writing of the flag).
pthread_mutex_t sync_access_to_heap_info_initialized = PTHREAD_MUTEX_INITIALIZER;
pthread_mutex_t sync_access_to_leak_list = PTHREAD_MUTEX_INITIALIZER;

}  // namespace

void __PROF_thread_profile_init_heap_info(void) {
  // Every allocation asks; after the first only this load runs.
  if (heap_info_initialized.load(std::memory_order_acquire)) return;
  MutexGuard initLock(&sync_access_to_heap_info_initialized);
  if (heap_info_initialized.load(std::memory_order_relaxed)) return;
  {
    MutexGuard treeLock(&sync_access_to_HeapRegTreePtr);
    HeapReg.Tree = InitRBHeapTree(__PROF_HeapElemCompare, __PROF_thread_profile_MoveFreeHeapToArray, nullptr);
    __PROF_HeapVariables_resetBounds(&HeapReg);
  }
  {
    MutexGuard archiveLock(&sync_access_to_StatHeapArrayPtr);
    StatHeapArrayPtr = ArrayCreate();
  }
  heap_info_initialized.store(true, std::memory_order_release);
}

int __PROF_thread_profile_IsHeapInfoAvailable(void) {
  return heap_info_initialized.load(std::memory_order_acquire) ? 1 : 0;
}

HeapVariables* __PROF_thread_profile_getHeapRegPtr(void) { return &HeapReg; }

RBHeapNodeStruct_t* __PROF_thread_profile_getHeapRegTreePtr_nil(void) { return HeapReg.Tree->nil; }

void __PROF_lock_access_to_HeapRegTreePtr(void) { pthread_mutex_lock(&sync_access_to_HeapRegTreePtr); }

bool __PROF_trylock_access_to_HeapRegTreePtr(void) {
  return pthread_mutex_trylock(&sync_access_to_HeapRegTreePtr) == 0;
}

void __PROF_unlock_access_to_HeapRegTreePtr(void) { pthread_mutex_unlock(&sync_access_to_HeapRegTreePtr); }

void __PROF_thread_profile_MoveFreeHeapToArray(heapStruct_t* ptr) {
  MutexGuard lock(&sync_access_to_StatHeapArrayPtr);
  MoveFreeHeapToArray(ptr);
}

ArrayStruct_t* __PROF_thread_profile_check_StatHeapArrayPtr_is_locked(void) { return StatHeapArrayPtr; }

void __PROF_thread_profile_deleteStatHeapArray(void) {
  MutexGuard lock(&sync_access_to_StatHeapArrayPtr);
  __PROF_deleteStatHeapArray(&StatHeapArrayPtr);
}

void __PROF_lock_access_to_leak_list(void) { pthread_mutex_lock(&sync_access_to_leak_list); }

void __PROF_unlock_access_to_leak_list(void) { pthread_mutex_unlock(&sync_access_to_leak_list); }
