// Helpers of the hand-instrumented test programs: addresses as the hooks
// take them, and the lines through which a program tells its driver the
// addresses that end up in its trace (heap blocks, semaphores).
#pragma once

#include <cinttypes>
#include <cstdint>
#include <cstdio>

#include "prof/Wrappers.h"
#include "prof/proflibAPI.h"

namespace testprog {

inline uint64_t addressOf(const void* p) { return reinterpret_cast<uint64_t>(p); }

template <typename R, typename... A>
inline uint64_t addressOf(R (*f)(A...)) {
  return reinterpret_cast<uint64_t>(reinterpret_cast<const void*>(f));
}

inline const U8* bytes(const void* p) { return static_cast<const U8*>(p); }

// "<key>=<hex address>" on standard output.
inline void report(const char* key, const void* p) {
  printf("%s=%" PRIxPTR "\n", key, reinterpret_cast<uintptr_t>(p));
}

// Starts main as its first instrumented function (frame 1, entry record
// with caller 0), without locals.
inline void startMain(uint64_t mainAddress) {
  uint32_t frameId;
  __PROF_FNProcessFunctionStart(mainAddress, 0, &frameId);
}

}  // namespace testprog
