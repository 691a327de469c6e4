// The thread-range directory: for every live profiler state, the address
// range its stack frames have ever covered and the range of its thread-local
// variables, readable by any thread without a lock. The access classifier
// asks it first; only an address that falls inside some other thread's
// range takes the thread table's lock and the per-thread locks.
//
// Why a rejection is sound: every range here only grows while its state
// lives (a frame range, like the state's own Stackframes_Min/Max, is widened,
// never narrowed), and it is widened before the thread can publish the
// address to anybody. A reader that learnt an address through any
// synchronisation with the owner (a mutex, a join, a release/acquire pair)
// therefore sees the widened range by coherence; a reader without such an
// ordering may see an older, narrower range, which answers as the locked
// search would have answered just before the widening. A slot is emptied
// only when its state is released, after its thread has finished, when the
// locked search no longer looks at that thread either.
//
// The same holds for a thread's thread-local range, published (by the thread
// itself, while it starts tracing) before the thread counts as running.
//
// A slot that a reader sees mid-update (one bound old, one new, or a slot
// being handed to a new state) can only look wider than the truth or match
// a thread the locked search then rejects: both fall back to the locked
// search, never to a wrong answer.
//
// Slots are handed out and taken back under the directory's own mutex (a
// leaf lock, held with no other); readers scan without it. The directory has
// a fixed number of slots; once they run out it switches the filter off for
// good and every candidate goes to the locked search.
#pragma once

#include <atomic>
#include <cstdint>

// No initialisers: the directory is zero-filled storage that costs memory
// only for the slots in use; a slot is emptied when first handed out.
struct alignas(64) ThreadRangeSlot {
  // Inclusive bounds; an empty range is [UINT64_MAX, 0]. Written by the
  // owning thread (and reset by whoever releases the slot), read by all.
  std::atomic<uint64_t> stackMin;
  std::atomic<uint64_t> stackMax;
  std::atomic<uint64_t> tlsMin;
  std::atomic<uint64_t> tlsMax;
  ThreadRangeSlot* nextFree;  // free list; under the directory mutex
};

// A slot for a new profiler state, or null when the directory is full (the
// filter is then off for the rest of the run).
[[nodiscard]] ThreadRangeSlot* __PROF_ThreadRanges_claim(void);
// Empties the slot and makes it available again; null is ignored.
void __PROF_ThreadRanges_release(ThreadRangeSlot* slot);

// Widen a slot to cover [lo, hi] (inclusive). Null slots are ignored. The
// caller is the slot's owning thread.
void __PROF_ThreadRanges_growStack(ThreadRangeSlot* slot, uint64_t lo, uint64_t hi);
void __PROF_ThreadRanges_growThreadLocals(ThreadRangeSlot* slot, uint64_t lo, uint64_t hi);

// False only when adr lies outside every frame range the slot's thread has
// had; null slots (states outside the directory) answer true.
[[nodiscard]] bool __PROF_ThreadRanges_mayHoldStackAddress(const ThreadRangeSlot* slot, uint64_t adr);

// What a search could find for an address, as a set of the flags below (a
// plain integer: built and tested in registers on the hot path).
typedef unsigned ThreadRangeCandidates;
// The calling thread's thread-local range holds it.
inline constexpr ThreadRangeCandidates kOwnThreadLocal = 1;
// Another thread's thread-local range holds it.
inline constexpr ThreadRangeCandidates kOtherThreadLocal = 2;
// Another thread's stack range holds it.
inline constexpr ThreadRangeCandidates kRemote = 4;

namespace thread_ranges_detail {
// Union of every range ever entered, per kind; only grows. Lets the common
// case (an address far from every thread) answer without scanning slots.
extern std::atomic<uint64_t> stackUnionMin, stackUnionMax, tlsUnionMin, tlsUnionMax;
extern std::atomic<bool> disabled;
ThreadRangeCandidates scan(const ThreadRangeSlot* self, uint64_t adr);

inline bool inside(const std::atomic<uint64_t>& lo, const std::atomic<uint64_t>& hi, uint64_t adr) {
  // Acquire pairs with the release of the widening; on this target both are
  // plain moves, so the order costs nothing and documents the hand-over.
  return lo.load(std::memory_order_acquire) <= adr && adr <= hi.load(std::memory_order_acquire);
}
}  // namespace thread_ranges_detail

// Which searches are worth running for adr; self is the calling thread's
// slot (its stack is searched without locks before this), or null, in which
// case its thread-local range counts as another thread's.
[[nodiscard]] inline ThreadRangeCandidates __PROF_ThreadRanges_candidates(const ThreadRangeSlot* self,
                                                                          uint64_t adr) {
  using namespace thread_ranges_detail;
  if (disabled.load(std::memory_order_acquire)) return kOwnThreadLocal | kOtherThreadLocal | kRemote;
  if (!inside(tlsUnionMin, tlsUnionMax, adr) && !inside(stackUnionMin, stackUnionMax, adr)) return 0;
  return scan(self, adr);
}
