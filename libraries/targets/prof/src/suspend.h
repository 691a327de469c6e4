// Per-thread suspension of tracing. Every hook asks whether its thread is
// suspended before it records anything, so the check must stay a single
// load of a thread-local counter; changes are atomic read-modify-writes
// because start-up lowers counters of other threads through their keys.
// The counter counts nested suspensions: tracing runs again only when each
// suspend has been matched by a resume. The exported operations are declared
// in prof/proflibAPI.h.
#pragma once

#include <atomic>
#include <cstdint>

#include "prof/proflibAPI.h"

// 0 at thread start; tracing of the thread is suspended while it is not 0.
// Constant-initialised and trivially destructible, so the runtime reaches it
// without a TLS initialisation call and it stays usable until the thread's
// very end, thread-specific-data destructors included.
extern thread_local constinit int32_t __PROF_IsTraceSuspended;

static_assert(std::atomic_ref<int32_t>::is_always_lock_free);
static_assert(std::atomic_ref<int32_t>::required_alignment <= alignof(int32_t));

// Internal fast path of __PROF_is_trace_suspended(): a relaxed load of the
// calling thread's own counter.
[[nodiscard]] inline bool traceSuspendedOnThisThread() noexcept {
  return std::atomic_ref<int32_t>(__PROF_IsTraceSuspended).load(std::memory_order_relaxed) != 0;
}
