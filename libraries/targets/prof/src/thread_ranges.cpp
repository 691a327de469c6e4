// Slots of the thread-range directory and the scan behind its filter. See
// thread_ranges.h for why a rejection here never changes an answer.
#include "thread_ranges.h"

#include <pthread.h>

#include "utils.h"

namespace thread_ranges_detail {
std::atomic<uint64_t> stackUnionMin{UINT64_MAX};
std::atomic<uint64_t> stackUnionMax{0};
std::atomic<uint64_t> tlsUnionMin{UINT64_MAX};
std::atomic<uint64_t> tlsUnionMax{0};
std::atomic<bool> disabled{false};
}  // namespace thread_ranges_detail

namespace {

using namespace thread_ranges_detail;

// Enough for any design this runtime simulates; beyond it the filter is off.
constexpr uint32_t kSlotCount = 4096;
constinit ThreadRangeSlot slots[kSlotCount] = {};
// Slots [0, used) have been handed out at least once; readers scan only these.
std::atomic<uint32_t> used{0};
ThreadRangeSlot* freeList = nullptr;
// Guards freeList and the growth of used; a leaf lock.
pthread_mutex_t sync_access_to_range_slots = PTHREAD_MUTEX_INITIALIZER;

void empty(ThreadRangeSlot& slot) {
  slot.stackMin.store(UINT64_MAX, std::memory_order_relaxed);
  slot.stackMax.store(0, std::memory_order_relaxed);
  slot.tlsMin.store(UINT64_MAX, std::memory_order_relaxed);
  slot.tlsMax.store(0, std::memory_order_relaxed);
}

// Release: a reader that sees the new bound also sees what the owner did
// before widening. The owner is the only writer of a live slot's bounds.
void lower(std::atomic<uint64_t>& bound, uint64_t value) {
  if (value < bound.load(std::memory_order_relaxed)) bound.store(value, std::memory_order_release);
}
void raise(std::atomic<uint64_t>& bound, uint64_t value) {
  if (value > bound.load(std::memory_order_relaxed)) bound.store(value, std::memory_order_release);
}

// The unions have many writers: compare-and-swap until the bound covers value.
void lowerShared(std::atomic<uint64_t>& bound, uint64_t value) {
  uint64_t seen = bound.load(std::memory_order_relaxed);
  while (value < seen && !bound.compare_exchange_weak(seen, value, std::memory_order_release,
                                                      std::memory_order_relaxed)) {
  }
}
void raiseShared(std::atomic<uint64_t>& bound, uint64_t value) {
  uint64_t seen = bound.load(std::memory_order_relaxed);
  while (value > seen && !bound.compare_exchange_weak(seen, value, std::memory_order_release,
                                                      std::memory_order_relaxed)) {
  }
}

}  // namespace

namespace thread_ranges_detail {

ThreadRangeCandidates scan(const ThreadRangeSlot* self, uint64_t adr) {
  ThreadRangeCandidates found = 0;
  const uint32_t n = used.load(std::memory_order_acquire);
  for (uint32_t i = 0; i < n; ++i) {
    const ThreadRangeSlot& slot = slots[i];
    if (inside(slot.tlsMin, slot.tlsMax, adr)) found |= &slot == self ? kOwnThreadLocal : kOtherThreadLocal;
    if (&slot != self && inside(slot.stackMin, slot.stackMax, adr)) found |= kRemote;
    if ((found & (kOtherThreadLocal | kRemote)) == (kOtherThreadLocal | kRemote)) break;
  }
  return found;
}

}  // namespace thread_ranges_detail

ThreadRangeSlot* __PROF_ThreadRanges_claim(void) {
  MutexGuard lock(&sync_access_to_range_slots);
  if (ThreadRangeSlot* slot = freeList) {
    freeList = slot->nextFree;
    slot->nextFree = nullptr;
    return slot;
  }
  const uint32_t n = used.load(std::memory_order_relaxed);
  if (n == kSlotCount) {
    disabled.store(true, std::memory_order_release);
    return nullptr;
  }
  empty(slots[n]);
  slots[n].nextFree = nullptr;
  // Release: a reader that scans slot n sees it emptied.
  used.store(n + 1, std::memory_order_release);
  return &slots[n];
}

void __PROF_ThreadRanges_release(ThreadRangeSlot* slot) {
  if (slot == nullptr) return;
  empty(*slot);
  MutexGuard lock(&sync_access_to_range_slots);
  slot->nextFree = freeList;
  freeList = slot;
}

void __PROF_ThreadRanges_growStack(ThreadRangeSlot* slot, uint64_t lo, uint64_t hi) {
  if (slot == nullptr) return;
  lowerShared(stackUnionMin, lo);
  raiseShared(stackUnionMax, hi);
  lower(slot->stackMin, lo);
  raise(slot->stackMax, hi);
}

bool __PROF_ThreadRanges_mayHoldStackAddress(const ThreadRangeSlot* slot, uint64_t adr) {
  return slot == nullptr || disabled.load(std::memory_order_acquire) || inside(slot->stackMin, slot->stackMax, adr);
}

void __PROF_ThreadRanges_growThreadLocals(ThreadRangeSlot* slot, uint64_t lo, uint64_t hi) {
  if (slot == nullptr) return;
  lowerShared(tlsUnionMin, lo);
  raiseShared(tlsUnionMax, hi);
  lower(slot->tlsMin, lo);
  raise(slot->tlsMax, hi);
}
