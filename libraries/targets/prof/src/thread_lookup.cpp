// Cross-thread look-ups of the access classifier: which thread's
// thread-local variable, or which other thread's local, holds an address.
// Each walks the thread table under its lock, because the states it reads
// are freed only under that lock when their threads end.
#include "thread_lookup.h"

#include <pthread.h>

#include "Function.h"
#include "ls_profile.h"
#include "profiler_state.h"
#include "threadIdLookupTable.h"
#include "thread_profile_utils.h"
#include "thread_ranges.h"
#include "utils.h"

namespace {

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
