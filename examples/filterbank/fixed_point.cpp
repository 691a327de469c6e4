// Fixed-point arithmetic of the design: saturation to 16 bits, rounding of
// Q30 products back to Q15, an integer square root and a count of
// redundant sign bits for block floating point. Each function is what a
// synthesised operator would compute, bit for bit.
#include <cstdint>

#include "filterbank.h"

namespace fb {

q15 saturate16(int64_t value) {
  if (value > INT16_MAX) return INT16_MAX;
  if (value < INT16_MIN) return INT16_MIN;
  return static_cast<q15>(value);
}

// Round half up, then drop the 15 fraction bits the product gained.
q15 roundQ15(int64_t productQ30) { return saturate16((productQ30 + (1 << 14)) >> 15); }

q15 mulQ15(q15 a, q15 b) { return roundQ15(static_cast<int64_t>(a) * b); }

// A 32-bit value times a Q15 factor, kept at 32 bits.
int32_t mulQ15Wide(int32_t a, q15 b) {
  const int64_t product = static_cast<int64_t>(a) * b;
  const int64_t rounded = (product + (1 << 14)) >> 15;
  if (rounded > INT32_MAX) return INT32_MAX;
  if (rounded < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(rounded);
}

// Floor of the square root, one result bit per step.
uint32_t isqrt64(uint64_t value) {
  uint64_t root = 0;
  uint64_t bit = uint64_t{1} << 62;
  while (bit > value) bit >>= 2;
  while (bit != 0) {
    if (value >= root + bit) {
      value -= root + bit;
      root = (root >> 1) + bit;
    } else {
      root >>= 1;
    }
    bit >>= 2;
  }
  return static_cast<uint32_t>(root);
}

// Bits below the sign bit that repeat it: how far value can be shifted left
// without overflow. 31 for 0 and -1.
int countLeadingSignBits(int32_t value) {
  uint32_t bits = static_cast<uint32_t>(value < 0 ? ~value : value);
  int count = 0;
  for (uint32_t probe = 0x40000000u; probe != 0 && (bits & probe) == 0; probe >>= 1) ++count;
  return count;
}

}  // namespace fb
