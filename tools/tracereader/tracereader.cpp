// Inflation of trace files and LEB128 decoding for the trace reader. The
// inflater keeps whatever output zlib produced before the data ran out or
// turned bad, so truncated traces are readable up to their last chunk.
#include "tracereader/tracereader.h"

#include <zlib.h>

#include <cstdio>

namespace tracereader {

namespace {

constexpr size_t kMaxLeb128Bytes = 10;

}  // namespace

InflatedTrace inflateTrace(std::span<const uint8_t> compressed) {
  InflatedTrace result;
  result.readable = true;
  z_stream strm{};
  if (inflateInit(&strm) != Z_OK) {
    result.corrupt = true;
    return result;
  }
  // zlib counts input in 32 bits; feed large inputs piecewise.
  const uint8_t* in = compressed.data();
  size_t inLeft = compressed.size();
  uint8_t out[65536];
  for (;;) {
    if (strm.avail_in == 0 && inLeft > 0) {
      const uInt piece = inLeft > (1u << 30) ? (1u << 30) : static_cast<uInt>(inLeft);
      strm.next_in = const_cast<Bytef*>(in);
      strm.avail_in = piece;
      in += piece;
      inLeft -= piece;
    }
    strm.next_out = out;
    strm.avail_out = sizeof out;
    const int r = inflate(&strm, Z_NO_FLUSH);
    result.bytes.insert(result.bytes.end(), out, out + (sizeof out - strm.avail_out));
    if (r == Z_STREAM_END) {
      result.complete = true;
      result.trailingBytes = strm.avail_in + inLeft;
      break;
    }
    if (r == Z_OK) continue;
    // Z_BUF_ERROR with all input consumed: refill, or, with nothing left to
    // feed, the stream is truncated. Anything else is data inflate refused.
    if (r == Z_BUF_ERROR && strm.avail_in == 0) {
      if (inLeft > 0) continue;
      break;
    }
    result.corrupt = true;
    break;
  }
  inflateEnd(&strm);
  return result;
}

InflatedTrace readTraceFile(const std::string& path) {
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return {};
  std::vector<uint8_t> data;
  uint8_t chunk[65536];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) data.insert(data.end(), chunk, chunk + n);
  const bool failed = ferror(f) != 0;
  fclose(f);
  if (failed) return {};
  return inflateTrace(data);
}

bool Cursor::scan(uint64_t* value, unsigned* shift, uint8_t* last, size_t* length) const {
  uint64_t v = 0;
  unsigned s = 0;
  for (size_t i = 0; i < kMaxLeb128Bytes && pos_ + i < bytes_.size(); ++i) {
    const uint8_t b = bytes_[pos_ + i];
    if (s < 64) v |= static_cast<uint64_t>(b & 0x7F) << s;
    s += 7;
    if ((b & 0x80) == 0) {
      *value = v;
      *shift = s;
      *last = b;
      *length = i + 1;
      return true;
    }
  }
  return false;
}

std::optional<uint64_t> Cursor::uleb() {
  uint64_t v;
  unsigned shift;
  uint8_t last;
  size_t length;
  if (!scan(&v, &shift, &last, &length)) return std::nullopt;
  pos_ += length;
  return v;
}

std::optional<int64_t> Cursor::sleb() {
  uint64_t v;
  unsigned shift;
  uint8_t last;
  size_t length;
  if (!scan(&v, &shift, &last, &length)) return std::nullopt;
  if (shift < 64 && (last & 0x40) != 0) v |= ~uint64_t{0} << shift;
  pos_ += length;
  return static_cast<int64_t>(v);
}

std::optional<std::span<const uint8_t>> Cursor::raw(size_t n) {
  if (n > remaining()) return std::nullopt;
  auto piece = bytes_.subspan(pos_, n);
  pos_ += n;
  return piece;
}

}  // namespace tracereader
