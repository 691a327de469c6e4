// Helpers of the hand-instrumented thread programs: the address of a
// function as the hooks take it, and the two halves of a call made by
// instrumented code (entry hook before, exit hook after).
#pragma once

#include <cstdint>

#include "prof/proflibAPI.h"

namespace instrumented {

template <typename F>
inline uint64_t addressOf(F* function) {
  return reinterpret_cast<uint64_t>(reinterpret_cast<const void*>(function));
}

// Announces a call of callee from the function with static id caller; with
// record true the entry leaves a function-entry record in the trace.
template <typename F>
inline void enter(F* callee, uint32_t caller, bool record = true) {
  __PROF_FNProcessFunctionEntry(record ? 1 : 0, addressOf(callee), caller);
}

inline void leave() { __PROF_FNProcessFunctionExit(); }

// First action of an instrumented function without frame address.
template <typename F>
inline uint32_t start(F* self, uint32_t* frameId) {
  return __PROF_FNProcessFunctionStart(addressOf(self), 0, frameId);
}

inline void returning() { __PROF_UpdateRetBBCount(); }

}  // namespace instrumented
