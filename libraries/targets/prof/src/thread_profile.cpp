// The profile record of one thread: its construction with a fresh profiler
// state, its life-cycle state under its own mutex, the release of its
// profiler state, and the process-wide numbering that names each thread's
// trace. The thread table builds and frees records through these; the
// life cycle of the calling thread's profile drives their states.
#include "thread_profile.h"

#include <cstdlib>
#include <cstring>

#include "GlobalVariables.h"
#include "profiler_state.h"
#include "thread_ranges.h"
#include "utils.h"

namespace {

U32 unique_thread_id = 0;
// Guards unique_thread_id; taken after the table lock, never before it.
pthread_mutex_t sync_access_to_unique_thread_id = PTHREAD_MUTEX_INITIALIZER;

void CleanupHandler(void* arg) { pthread_mutex_unlock(static_cast<pthread_mutex_t*>(arg)); }

}  // namespace

void __PROF_thread_profile_SetState(thread_profile_t* profile, threadstate_t new_state) {
  pthread_cleanup_push(CleanupHandler, &profile->thread_state_mutex);
  pthread_mutex_lock(&profile->thread_state_mutex);
  profile->thread_state = new_state;
  pthread_mutex_unlock(&profile->thread_state_mutex);
  pthread_cleanup_pop(0);
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
  __PROF_thread_profile_SetState(profile, THREAD_STATE_FINALIZED);
}

bool __PROF_is_profile_finalized(const thread_profile_t* profile) {
  auto* p = const_cast<thread_profile_t*>(profile);
  MutexGuard lock(&p->thread_state_mutex);
  return p->thread_state == THREAD_STATE_FINALIZED;
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
