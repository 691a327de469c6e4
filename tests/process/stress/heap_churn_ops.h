// The operation sequence of the heap churn program, generated from a seed
// per thread so that its driver can replay it and know, record for record,
// what each thread's trace must hold.
#pragma once

#include <cstddef>
#include <cstdint>

namespace heapchurn {

// Blocks each thread keeps alive at once.
constexpr int kSlots = 8;
constexpr size_t kPage = 4096;

enum class Op { Malloc, Realloc, ReallocToZero, Free };

struct Step {
  Op op;
  int slot;
  size_t size;  // requested size (0 for Free and ReallocToZero)
};

// Deterministic per thread; splitmix64.
class Sequence {
 public:
  explicit Sequence(uint64_t thread) : state_(0x9E3779B97F4A7C15ull * (thread + 1)) {}

  // The next step, given whether each slot holds a block. With mappings,
  // blocks are whole pages, mapped and unmapped (Malloc and Free stand for
  // mmap and munmap); the system hands a just-unmapped range to the next
  // mapping of any thread.
  Step next(const bool* live, bool mappings = false) {
    const uint64_t r = draw();
    const int slot = static_cast<int>(r % kSlots);
    if (mappings) return {live[slot] ? Op::Free : Op::Malloc, slot, live[slot] ? 0 : kPage * (1 + (r >> 8) % 4)};
    // Small sizes stay in-place or in per-thread caches; sizes past the
    // caches go back to the shared arena, where another thread's next
    // allocation can receive the address at once.
    const size_t size = 1 + (r >> 8) % 3000;
    if (!live[slot]) return {Op::Malloc, slot, size};
    const uint64_t kind = (r >> 24) % 16;
    if (kind < 3) return {Op::Free, slot, 0};
    if (kind == 3) return {Op::ReallocToZero, slot, 0};
    return {Op::Realloc, slot, size};
  }

 private:
  uint64_t draw() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint64_t state_;
};

}  // namespace heapchurn
