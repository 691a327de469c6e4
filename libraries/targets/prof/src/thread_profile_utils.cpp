// Thread profiles and their life cycle: creation of the calling thread's
// profile, thread numbers, the state machine, the exit clean-up and
// application finalisation.
#include "thread_profile_utils.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "bufferedPrinter.h"
#include "GlobalVariables.h"
#include "crash.h"
#include "finalize.h"
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
