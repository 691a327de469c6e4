// The one LEB128 decoder of the reader: the in-memory cursor, the streaming
// reader, the command and the tests all decode values through it, so that
// they agree on every edge (ten-byte forms, bits beyond the 64th, short data).
#pragma once

#include <cstddef>
#include <cstdint>

namespace tracereader {

// A value never takes more than ten bytes: 10 x 7 bits cover 64.
inline constexpr size_t kMaxLeb128Bytes = 10;

// One decoded value with both readings: the writer's unsigned and signed
// encodings share the byte form, and only the record position says which
// one was meant.
struct Leb128 {
  uint64_t value = 0;        // unsigned reading
  int64_t signedValue = 0;   // signed reading (bits beyond the 64th ignored)
  uint8_t length = 0;        // bytes taken, 1 to 10
};

enum class LebScan {
  kOk,        // *out holds the value
  kNeedMore,  // the bytes end inside the value
  kOverlong,  // ten bytes with the continuation bit still set
};

// Decodes the value at p[0..n) without consuming anything.
inline LebScan scanLeb128(const uint8_t* p, size_t n, Leb128* out) {
  uint64_t v = 0;
  unsigned shift = 0;
  for (size_t i = 0; i < kMaxLeb128Bytes; ++i) {
    if (i >= n) return LebScan::kNeedMore;
    const uint8_t b = p[i];
    if (shift < 64) v |= static_cast<uint64_t>(b & 0x7F) << shift;
    shift += 7;
    if ((b & 0x80) == 0) {
      uint64_t s = v;
      if (shift < 64 && (b & 0x40) != 0) s |= ~uint64_t{0} << shift;
      out->value = v;
      out->signedValue = static_cast<int64_t>(s);
      out->length = static_cast<uint8_t>(i + 1);
      return LebScan::kOk;
    }
  }
  return LebScan::kOverlong;
}

}  // namespace tracereader
