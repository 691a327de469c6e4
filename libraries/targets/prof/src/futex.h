// Sleeping on and waking a 32-bit atomic word (futex(2), private to the
// process), for the few places where a thread waits for another without
// holding a lock: a printer's owner waiting for room in its ring, and the
// two sides of the biased record lock. Every wait is bounded, so that a
// wake-up that could be missed costs a moment and never a hang.
#pragma once

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <ctime>

// Sleeps while *word holds `seen`, at most `nanoseconds` (below a second).
inline void futexWait(std::atomic<uint32_t>* word, uint32_t seen, long nanoseconds) {
  static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t));
  timespec timeout{0, nanoseconds};
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAIT_PRIVATE, seen, &timeout, nullptr, 0);
}

// Wakes one thread sleeping on *word.
inline void futexWake(std::atomic<uint32_t>* word) {
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}
