// Reads back a per-thread trace file whole: inflates its zlib stream as far
// as the data goes (a trace of a process that died holds only whole 64 KiB
// chunks and no checksum), up to a size limit, tells whether the stream was
// complete, and walks the inflated bytes as LEB128 values and raw bytes.
// Never throws; every read that cannot be satisfied reports so and leaves
// the cursor where it was. Traces too large to hold in memory are read with
// the streaming reader of trace_stream.h, which this builds on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tracereader {

// Largest inflated size the whole-trace interface holds unless told
// otherwise: a small compressed file may inflate a thousand times over.
inline constexpr size_t kDefaultMaxInflatedBytes = size_t{1} << 30;

struct InflatedTrace {
  std::vector<uint8_t> bytes;  // everything that could be inflated (at most the limit)
  bool readable = false;       // the file could be opened and read
  bool complete = false;       // end of stream reached and Adler-32 verified
  bool corrupt = false;        // inflate rejected the data (bad header, bad checksum, ...)
  bool limitExceeded = false;  // the inflated size passed the limit; bytes hold the first part
  bool outOfMemory = false;    // memory ran out before the limit; bytes hold the first part
  size_t trailingBytes = 0;    // compressed-file bytes after the end of the stream
  std::string error;           // why the trace is not complete, empty when it is
};

// Inflates one zlib stream from memory.
[[nodiscard]] InflatedTrace inflateTrace(std::span<const uint8_t> compressed,
                                         size_t maxBytes = kDefaultMaxInflatedBytes);
// Reads and inflates a file; readable is false when it cannot be read.
[[nodiscard]] InflatedTrace readTraceFile(const std::string& path,
                                          size_t maxBytes = kDefaultMaxInflatedBytes);

// Sequential reader over inflated trace bytes. Does not own them.
class Cursor {
 public:
  explicit Cursor(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  // Unsigned LEB128 into 64 bits; nullopt when the data ends inside the
  // value or the value runs past 10 bytes.
  [[nodiscard]] std::optional<uint64_t> uleb();
  // Signed LEB128 into 64 bits; bits beyond the 64th are ignored, so a tenth
  // byte 0x01 and 0x7F give the same value.
  [[nodiscard]] std::optional<int64_t> sleb();
  // The next n raw bytes; nullopt when fewer remain.
  [[nodiscard]] std::optional<std::span<const uint8_t>> raw(size_t n);

  [[nodiscard]] size_t position() const { return pos_; }
  [[nodiscard]] size_t remaining() const { return bytes_.size() - pos_; }
  [[nodiscard]] bool atEnd() const { return pos_ == bytes_.size(); }

 private:
  std::span<const uint8_t> bytes_;
  size_t pos_ = 0;
};

}  // namespace tracereader
