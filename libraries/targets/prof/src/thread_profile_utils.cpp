// Thread profiles and their states, the exit clean-up, application
// finalisation, the heap registry with its locks, and the cross-thread
// look-ups of thread-local variables and of other threads' locals.
#include "thread_profile_utils.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "Function.h"
#include "GlobalVariables.h"
#include "bufferedPrinter.h"
#include "crash.h"
#include "finalize.h"
#include "globals.h"
#include "ls_profile.h"
#include "profiler_state.h"
#include "proflibAPI_internal.h"
#include "threadIdLookupTable.h"
#include "thread_ranges.h"
#include "utils.h"

namespace {

U32 unique_thread_id = 0;
// Guards unique_thread_id; taken after the table lock, never before it.
pthread_mutex_t sync_access_to_unique_thread_id = PTHREAD_MUTEX_INITIALIZER;

// 0 until application finalisation begins, then 1 for good. Set by one
// exchange under the table lock, read without a lock elsewhere.
std::atomic<U8> finalizing_application{0};

pthread_once_t init_done = PTHREAD_ONCE_INIT;
pthread_key_t key;

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

void CleanupHandler(void* arg) { pthread_mutex_unlock(static_cast<pthread_mutex_t*>(arg)); }

void switch_thread_state_to(thread_profile_t* profile, threadstate_t new_state) {
  pthread_cleanup_push(CleanupHandler, &profile->thread_state_mutex);
  pthread_mutex_lock(&profile->thread_state_mutex);
  profile->thread_state = new_state;
  pthread_mutex_unlock(&profile->thread_state_mutex);
  pthread_cleanup_pop(0);
}

void thread_profile_CreateProfInfo_once() { pthread_key_create(&key, __PROF_free_thread_specific_data); }

// Disables cancellation for a scope and restores the saved state after it.
class NoCancellation {
 public:
  NoCancellation() { pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &old_); }
  ~NoCancellation() { pthread_setcancelstate(old_, nullptr); }
  NoCancellation(const NoCancellation&) = delete;
  NoCancellation& operator=(const NoCancellation&) = delete;

 private:
  int old_;
};

const thread_profile_t* createProfileOfCallingThread() {
  pthread_once(&init_done, thread_profile_CreateProfInfo_once);
  thread_profile_t* profile = nullptr;
  {
    NoCancellation noCancel;
    LookupTreeGuard lock;
    if (finalizing_application.load() == 0) {
      profile = __PROF_get_or_create_ThreadInfo_from_PTID(pthread_self(), true);
      profile->initializer_active = true;
      __PROF_current_thread_profile = profile;
    }
  }
  if (finalizing_application.load() != 0) {
    // Application finalisation has begun: this thread never runs on. A
    // record it took must not keep the exit-time wait waiting.
    if (profile != nullptr) switch_thread_state_to(profile, THREAD_STATE_FINALIZED);
    pthread_exit(nullptr);
  }
  pthread_setspecific(key, profile);
  __PROF_PerThreadInit();
  switch_thread_state_to(profile, THREAD_STATE_RUNNING);
  return profile;
}

void finalize_all_threads_callback(const OrderedSet_node_t* node, void*) {
  auto* profile = static_cast<thread_profile_t*>(node->info);
  if (profile == nullptr) return;
  pthread_mutex_lock(&profile->thread_state_mutex);
  // Only a thread that is itself inside its trace start-up is waited for;
  // records made for threads that have not called in yet stay as they are.
  while (profile->thread_state == THREAD_STATE_INITIALIZING && profile->initializer_active) {
    pthread_mutex_unlock(&profile->thread_state_mutex);
    usleep(100);
    pthread_mutex_lock(&profile->thread_state_mutex);
  }
  while (profile->thread_state == THREAD_STATE_FINALIZING) {
    pthread_mutex_unlock(&profile->thread_state_mutex);
    usleep(100);
    pthread_mutex_lock(&profile->thread_state_mutex);
  }
  if (profile->thread_state == THREAD_STATE_RUNNING) forceFlush(profile->prof_state->TraceBuffPrinterPtr);
  pthread_mutex_unlock(&profile->thread_state_mutex);
}

struct TLSInfo {
  const GlobalVariable* TLSGlobal;
  uint64_t Addr;
};

void __PROF_findThreadContainingTLS(const OrderedSet_node_t* Node, void* Arg) {
  auto* info = static_cast<TLSInfo*>(Arg);
  if (info->TLSGlobal != nullptr) return;
  auto* profile = static_cast<thread_profile_t*>(Node->info);
  if (profile == nullptr) return;
  MutexGuard stateLock(&profile->thread_state_mutex);
  if (profile->thread_state != THREAD_STATE_RUNNING) return;
  const GProfilerState_t* state = profile->prof_state;
  if (state == nullptr || state->TLSTreePtr == nullptr) return;
  info->TLSGlobal = __PROF_GlobalVariables_find(state->TLSTreePtr, info->Addr);
}

struct RemoteAccessCallBackArgs_t {
  uint32_t threadId;
  U64 address;
  thread_profile_t* candidate;
};

void find_thread_containing_local(const OrderedSet_node_t* node, void* args) {
  auto* search = static_cast<RemoteAccessCallBackArgs_t*>(args);
  auto* profile = static_cast<thread_profile_t*>(node->info);
  if (search->candidate != nullptr || profile == nullptr) return;
  // The table lock keeps the record's state pointer and the state itself in
  // place; a thread whose lock-free range cannot hold the address is passed
  // over without touching its locks (that range covers the locked one).
  const GProfilerState_t* current = profile->prof_state;
  if (current != nullptr && !__PROF_ThreadRanges_mayHoldStackAddress(current->RangeSlot, search->address)) return;
  pthread_mutex_lock(&profile->thread_state_mutex);
  const bool running = profile->thread_id != search->threadId &&
                       profile->thread_state == THREAD_STATE_RUNNING;
  pthread_mutex_unlock(&profile->thread_state_mutex);
  if (!running) return;
  // The state stays alive while the table lock is held: the exit clean-up
  // frees it only under that lock.
  GProfilerState_t* state = profile->prof_state;
  MutexGuard rangeLock(&state->Stackframes_mutex);
  if (state->Stackframes_Min <= search->address && search->address <= state->Stackframes_Max)
    search->candidate = profile;
}

}  // namespace

thread_local constinit thread_profile_t* __PROF_current_thread_profile = nullptr;
static_assert(std::is_trivially_destructible_v<thread_profile_t*>);

const thread_profile_t* __PROF_thread_profile_CreateProfileInfo(void) { return createProfileOfCallingThread(); }

bufferedPrinterStruct_t* __PROF_printerOfCallingThread(void) {
  const GProfilerState_t* state = __PROF_stateOfCallingThread();
  return state == nullptr ? nullptr : state->TraceBuffPrinterPtr;
}

U32 __PROF_thread_profile_get_thread_id(void) {
  return __PROF_thread_profile_GetProfileInfo()->thread_id;
}

U32 __PROF_thread_profile_get_new_thread_id(void) {
  MutexGuard lock(&sync_access_to_unique_thread_id);
  return unique_thread_id++;
}

void init_prof_state(thread_profile_t* thread_info) {
  auto* state = ProfAlloc<GProfilerState_t>();
  __PROF_GProfilerState_init(state);
  state->ThreadProfile = thread_info;
  state->RangeSlot = __PROF_ThreadRanges_claim();
  thread_info->prof_state = state;
}

thread_profile_t* thread_profile_init(pthread_t ptid, uint32_t tid) {
  auto* profile = ProfAlloc<thread_profile_t>();
  memset(static_cast<void*>(profile), 0, sizeof *profile);
  profile->pthread_id = ptid;
  profile->thread_id = tid;
  init_prof_state(profile);
  pthread_mutex_init(&profile->thread_state_mutex, nullptr);
  profile->thread_state = THREAD_STATE_INITIALIZING;
  profile->initializer_active = false;
  return profile;
}

void __PROF_thread_profile_SetProfileFinalized(thread_profile_t* profile) {
  switch_thread_state_to(profile, THREAD_STATE_FINALIZED);
}

bool __PROF_is_profile_finalized(const thread_profile_t* profile) {
  auto* p = const_cast<thread_profile_t*>(profile);
  MutexGuard lock(&p->thread_state_mutex);
  return p->thread_state == THREAD_STATE_FINALIZED;
}

void __PROF_free_thread_specific_data(void* ptr) {
  if (ptr == nullptr) return;
  pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);
  if (finalizing_application.load() != 0) return;
  auto* profile = static_cast<thread_profile_t*>(ptr);
  switch_thread_state_to(profile, THREAD_STATE_FINALIZING);
  __PROF_FinalizeInstrumentation(profile->prof_state);
  if (finalizing_application.load() != 0) return;

  // Remote look-ups read this state while holding the table lock, so it is
  // released only under that lock.
  {
    LookupTreeGuard lock;
    if (finalizing_application.load() != 0) return;
    __PROF_thread_profile_release_state(profile);
  }
  __PROF_Crash_threadEnd();
}

void __PROF_thread_profile_release_state(thread_profile_t* profile) {
  GProfilerState_t* state = profile->prof_state;
  if (state == nullptr) return;
  profile->prof_state = nullptr;
  // Normally the thread's finalisation has emptied the state already; a
  // state left behind (a record made by a look-up, a thread that ended
  // while the application was finishing) may still hold frames, pools and
  // a printer.
  while (state->FramePtr != nullptr) __PROF_GProfilerState_popFrame(state);
  __PROF_GProfilerState_destruct(state);
  pthread_mutex_destroy(&state->Stackframes_mutex);
  pthread_mutex_destroy(&state->FramePtr_mutex);
  if (state->TLSTreePtr != nullptr) {
    __PROF_FreeRBNodes(&state->TLSTreePtr->Tree);
    free(state->TLSTreePtr);
  }
  __PROF_ThreadRanges_release(state->RangeSlot);
  free(state);
}

void __PROF_finalize_all_threads(void) {
  NoCancellation noCancel;
  LookupTreeGuard lock;
  finalizing_application.exchange(1);
  __PROF_preorder_callback(finalize_all_threads_callback, nullptr);
}

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

const GlobalVariable* __PROF_GetTLSGlobalVariable(U64 Addr) {
  TLSInfo info{nullptr, Addr};
  LookupTreeGuard lock;
  __PROF_preorder_callback(__PROF_findThreadContainingTLS, &info);
  return info.TLSGlobal;
}

bool __PROF_GetTLSGlobalVariableCopy(U64 Addr, GlobalVariable* out) {
  TLSInfo info{nullptr, Addr};
  LookupTreeGuard lock;
  __PROF_preorder_callback(__PROF_findThreadContainingTLS, &info);
  if (info.TLSGlobal == nullptr) return false;
  *out = *info.TLSGlobal;
  return true;
}

// Cancellation stays as the caller left it: nothing between taking and
// releasing the table lock here is a cancellation point (mutex operations
// and the frame walk only), so the lock cannot be left held by a cancelled
// thread.
// No lock: a running thread is the only writer of its own life-cycle state
// and of its thread-local tree, so it may read both itself. The answer is
// the table search's whenever no other thread's variables can hold Addr.
const GlobalVariable* __PROF_GetOwnTLSGlobalVariable(const GProfilerState_t* state, U64 Addr) {
  const thread_profile_t* profile = state->ThreadProfile;
  if (profile == nullptr || profile->thread_state != THREAD_STATE_RUNNING || state->TLSTreePtr == nullptr)
    return nullptr;
  return __PROF_GlobalVariables_find(state->TLSTreePtr, Addr);
}

RemoteAccessInfo_t __PROF_GetRemoteAccessInfo(U64 address) {
  RemoteAccessInfo_t result{};
  const uint32_t self = __PROF_thread_profile_GetProfileInfo()->thread_id;
  LookupTreeGuard lock;
  RemoteAccessCallBackArgs_t search{self, address, nullptr};
  __PROF_preorder_callback(find_thread_containing_local, &search);
  if (search.candidate != nullptr) {
    GProfilerState_t* state = search.candidate->prof_state;
    MutexGuard frameLock(&state->FramePtr_mutex);
    VFrame_t* frame = state->FramePtr;
    if (const RBNodeStruct_t* local = __PROF_RBFindInFrame(&frame, address, &result.offset)) {
      result.varUID = local->unique_id;
      result.FrameId = frame->Id;
      result.fnUID = frame->function ? frame->function->Id : 0;
      result.threadId = search.candidate->thread_id;
    }
  }
  return result;
}
