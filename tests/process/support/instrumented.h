// Helpers of the hand-instrumented test programs: addresses as the hooks
// take them, the halves of a call made by instrumented code, and the lines
// through which a program tells its driver the addresses that end up in
// its trace (heap blocks, semaphores).
#pragma once

#include <cinttypes>
#include <cstdint>
#include <cstdio>

#include "prof/Wrappers.h"
#include "prof/proflibAPI.h"

namespace instrumented {

inline uint64_t addressOf(const void* p) { return reinterpret_cast<uint64_t>(p); }

template <typename R, typename... A>
inline uint64_t addressOf(R (*f)(A...)) {
  return reinterpret_cast<uint64_t>(reinterpret_cast<const void*>(f));
}

inline const U8* bytes(const void* p) { return static_cast<const U8*>(p); }

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

// Starts main as its first instrumented function (frame 1, entry record
// with caller 0), without locals.
inline void startMain(uint64_t mainAddress) {
  uint32_t frameId;
  __PROF_FNProcessFunctionStart(mainAddress, 0, &frameId);
}

// "<key>=<hex address>" on standard output.
inline void report(const char* key, const void* p) {
  printf("%s=%" PRIxPTR "\n", key, reinterpret_cast<uintptr_t>(p));
}

}  // namespace instrumented
