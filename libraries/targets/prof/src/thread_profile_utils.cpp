// The life cycle of thread profiles: creation of the calling thread's
// profile, its move to RUNNING, the exit clean-up and application
// finalisation.
#include "thread_profile_utils.h"

#include <unistd.h>

#include <atomic>
#include <type_traits>

#include "bufferedPrinter.h"
#include "crash.h"
#include "finalize.h"
#include "profiler_state.h"
#include "proflibAPI_internal.h"
#include "threadIdLookupTable.h"
#include "utils.h"

namespace {

// 0 until application finalisation begins, then 1 for good. Set by one
// exchange under the table lock, read without a lock elsewhere.
std::atomic<U8> finalizing_application{0};

pthread_once_t init_done = PTHREAD_ONCE_INIT;
pthread_key_t key;

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
    if (profile != nullptr) __PROF_thread_profile_SetState(profile, THREAD_STATE_FINALIZED);
    pthread_exit(nullptr);
  }
  pthread_setspecific(key, profile);
  __PROF_PerThreadInit();
  __PROF_thread_profile_SetState(profile, THREAD_STATE_RUNNING);
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

void __PROF_free_thread_specific_data(void* ptr) {
  if (ptr == nullptr) return;
  pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);
  if (finalizing_application.load() != 0) return;
  auto* profile = static_cast<thread_profile_t*>(ptr);
  __PROF_thread_profile_SetState(profile, THREAD_STATE_FINALIZING);
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

void __PROF_finalize_all_threads(void) {
  NoCancellation noCancel;
  LookupTreeGuard lock;
  finalizing_application.exchange(1);
  __PROF_preorder_callback(finalize_all_threads_callback, nullptr);
}
