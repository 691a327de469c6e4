// The biased record lock (printer_lock.h): the slow paths, the takers and
// the process's membarrier registration.
#include "printer_lock.h"

#include <linux/membarrier.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "futex.h"

namespace {

#if defined(__SANITIZE_THREAD__)
constexpr bool kBiasPossible = false;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool kBiasPossible = false;
#else
constexpr bool kBiasPossible = true;
#endif
#else
constexpr bool kBiasPossible = true;
#endif

bool registerForBarriers() {
  if (!kBiasPossible) return false;
  const long commands = syscall(SYS_membarrier, MEMBARRIER_CMD_QUERY, 0, 0);
  if (commands < 0 || (commands & MEMBARRIER_CMD_PRIVATE_EXPEDITED) == 0) return false;
  return syscall(SYS_membarrier, MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED, 0, 0) == 0;
}

bool biasAvailable() {
  static const bool available = registerForBarriers();
  return available;
}

void barrierOnEveryThread() { syscall(SYS_membarrier, MEMBARRIER_CMD_PRIVATE_EXPEDITED, 0, 0); }

// Waits are bounded: the owner's leave does not fence its load of `taken`,
// so a taker may miss its wake-up and look again after this long.
constexpr long kTakerPollNs = 100000;
constexpr long kOwnerPollNs = 1000000;

}  // namespace

void recordLockInit(recordLock* lock) {
  lock->owner = currentThreadToken();
  lock->biased = biasAvailable();
  lock->in_record.store(0, std::memory_order_relaxed);
  lock->taken.store(0, std::memory_order_relaxed);
}

void recordLockOwnerWaits(recordLock* lock) {
  do {
    lock->in_record.store(0, std::memory_order_release);
    futexWake(&lock->in_record);
    while (lock->taken.load(std::memory_order_acquire) != 0) futexWait(&lock->taken, 1, kOwnerPollNs);
    lock->in_record.store(1, std::memory_order_relaxed);
    std::atomic_signal_fence(std::memory_order_seq_cst);
  } while (lock->taken.load(std::memory_order_relaxed) != 0);
  // The taker's last writes (a closed file, a finished stream) are seen.
  std::atomic_thread_fence(std::memory_order_acquire);
}

void recordLockWakeTaker(recordLock* lock) { futexWake(&lock->in_record); }

void recordLockTake(recordLock* lock, pthread_mutex_t* mutex) {
  pthread_mutex_lock(mutex);
  if (!lock->biased) return;
  lock->taken.store(1, std::memory_order_seq_cst);
  barrierOnEveryThread();
  while (lock->in_record.load(std::memory_order_acquire) != 0) futexWait(&lock->in_record, 1, kTakerPollNs);
}

void recordLockGive(recordLock* lock, pthread_mutex_t* mutex) {
  if (lock->biased) {
    lock->taken.store(0, std::memory_order_release);
    futexWake(&lock->taken);
  }
  pthread_mutex_unlock(mutex);
}

bool recordLockTryTake(recordLock* lock, pthread_mutex_t* mutex, bool* announced) {
  if (!*announced) {
    if (pthread_mutex_trylock(mutex) != 0) return false;
    *announced = true;
    if (!lock->biased) return true;
    lock->taken.store(1, std::memory_order_seq_cst);
    barrierOnEveryThread();
  }
  return !lock->biased || lock->in_record.load(std::memory_order_acquire) == 0;
}

bool recordLockOwnerIsOutside(recordLock* lock, pthread_mutex_t* mutex) {
  if (!lock->biased) return pthread_mutex_trylock(mutex) == 0;
  return lock->in_record.load(std::memory_order_relaxed) == 0;
}

void recordLockOwnerRelease(recordLock* lock, pthread_mutex_t* mutex) {
  if (!lock->biased) pthread_mutex_unlock(mutex);
}
