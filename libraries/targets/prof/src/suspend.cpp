// The exported suspension operations over the thread-local counter of
// suspend.h. The key handed out by a suspend is the counter's address, so
// another thread (start-up) can lower it later; a key must not outlive the
// thread that produced it.
#include "suspend.h"

thread_local constinit int32_t __PROF_IsTraceSuspended = 0;

namespace {

// Acquire/release so that a thread that sees its counter lowered by another
// thread also sees what that thread set up before lowering it.
void addToCounter(int32_t* counter, int32_t delta) {
  std::atomic_ref<int32_t>(*counter).fetch_add(delta, std::memory_order_acq_rel);
}

}  // namespace

extern "C" {

void* __PROF_trace_suspend(void) {
  addToCounter(&__PROF_IsTraceSuspended, 1);
  return &__PROF_IsTraceSuspended;
}

void __PROF_trace_resume(void) { addToCounter(&__PROF_IsTraceSuspended, -1); }

void __PROF_trace_resume_thread(void* key) { addToCounter(static_cast<int32_t*>(key), -1); }

int __PROF_is_trace_suspended(void) {
  return std::atomic_ref<int32_t>(__PROF_IsTraceSuspended).load(std::memory_order_relaxed);
}

}  // extern "C"
