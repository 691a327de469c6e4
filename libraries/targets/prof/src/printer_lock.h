// The record lock of a trace printer, biased towards the thread that owns
// the printer. That thread writes every record of its trace; another thread
// takes the printer only to close it (exit) or finish it (crash). So the
// owner enters and leaves a record with plain stores and no atomic
// read-modify-write, and the rare other thread pays instead: it announces
// itself (`taken`), makes every thread of the process execute a full memory
// barrier (membarrier(2)), and waits until the owner is outside a record.
// Either the owner then sees `taken` when it starts its next record and
// waits until the other thread is done, or the other thread sees the
// owner's `in_record`: the barrier orders the owner's store before its load
// without the owner paying for a fence.
//
// Where membarrier is not available, and in ThreadSanitizer builds (which
// cannot see a barrier executed on the owner's behalf), every thread takes
// the printer's mutex, as a plain lock.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>

// Tells the calling thread from every other live thread in one instruction
// where the compiler can read the thread pointer (g++ on x86-64 and
// others), through pthread_self elsewhere.
inline const void* currentThreadToken() {
#if defined(__GNUC__) && !defined(__clang__)
  return __builtin_thread_pointer();
#else
  return reinterpret_cast<const void*>(pthread_self());
#endif
}

struct recordLock {
  // The thread that writes the records (its currentThreadToken); only
  // meaningful when biased.
  const void* owner;
  bool biased;
  // 1 while the owner is inside a record. A futex word: a taker waits on it.
  std::atomic<uint32_t> in_record;
  // 1 while another thread has the printer or is taking it. A futex word:
  // the owner waits on it.
  std::atomic<uint32_t> taken;
};

// Makes the calling thread the lock's owner, biased when the process can
// use membarrier(2).
void recordLockInit(recordLock* lock);

// The owner's record start and end; inline, since they run at every record.
inline bool recordLockIsOwner(const recordLock* lock) {
  return __builtin_expect(lock->biased, 1) && currentThreadToken() == lock->owner;
}
void recordLockOwnerWaits(recordLock* lock);
void recordLockWakeTaker(recordLock* lock);
inline void recordLockOwnerEnter(recordLock* lock) {
  lock->in_record.store(1, std::memory_order_relaxed);
  // Only the compiler is held back here; the taker's membarrier provides
  // the processor's part of the fence.
  std::atomic_signal_fence(std::memory_order_seq_cst);
  if (__builtin_expect(lock->taken.load(std::memory_order_relaxed) != 0, 0)) recordLockOwnerWaits(lock);
}
inline void recordLockOwnerLeave(recordLock* lock) {
  lock->in_record.store(0, std::memory_order_release);
  if (__builtin_expect(lock->taken.load(std::memory_order_relaxed) != 0, 0)) recordLockWakeTaker(lock);
}

// Another thread's take and give-back (or anyone's, on a lock that is not
// biased), with the printer's mutex: blocks until the owner is outside a
// record and keeps it out until the give-back.
void recordLockTake(recordLock* lock, pthread_mutex_t* mutex);
void recordLockGive(recordLock* lock, pthread_mutex_t* mutex);

// From a signal handler, without blocking. recordLockTryTake announces the
// take (once the mutex is had) and reports whether the owner is outside a
// record; called again, it only looks again. A take that succeeds is never
// given back: the process is ending.
[[nodiscard]] bool recordLockTryTake(recordLock* lock, pthread_mutex_t* mutex, bool* announced);
// Whether the calling thread, the owner, is outside a record; then nothing
// else can enter one. For the owner's own handler.
[[nodiscard]] bool recordLockOwnerIsOutside(recordLock* lock, pthread_mutex_t* mutex);
// Undoes recordLockOwnerIsOutside for a plain lock.
void recordLockOwnerRelease(recordLock* lock, pthread_mutex_t* mutex);
