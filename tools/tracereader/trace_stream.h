// Streaming reader of one trace: inflates the zlib stream chunk by chunk
// and hands out LEB128 values and raw bytes in constant memory (about
// 128 KiB whatever the trace's size; a value may straddle two chunks).
// It tells a complete stream (end reached, Adler-32 verified) from a
// truncated one (a process that died leaves whole 64 KiB chunks and no
// checksum) and from data that inflate refuses, and always knows the
// plain-byte offset reached. Never throws: allocation failures and read
// errors become states.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "tracereader/leb128.h"

namespace tracereader {

enum class ReadResult {
  kOk,     // one value (or the raw bytes asked for) was read
  kEnd,    // no more data, at a value boundary; see the stream's state
  kError,  // the data ends inside a value or holds an overlong value
};

// Where a reader takes values from; implemented over a file stream and
// over bytes in memory, so that the record decoder serves both.
class ValueSource {
 public:
  virtual ~ValueSource() = default;
  // The next value; its offset is offset() before the call.
  virtual ReadResult next(Leb128* value) = 0;
  // Consumes n raw bytes and appends at most keepMax of them to *kept
  // (null: keep none), so that a damaged length cannot make it allocate.
  virtual ReadResult raw(uint64_t n, std::string* kept, size_t keepMax) = 0;
  // Plain-byte offset of the next value.
  [[nodiscard]] virtual uint64_t offset() const = 0;
  // Why the last kError happened (a constant text).
  [[nodiscard]] virtual const char* errorText() const = 0;
};

// State of the compressed stream behind a TraceStream.
enum class StreamState {
  kReading,      // more may come
  kComplete,     // end of stream reached and its Adler-32 verified
  kTruncated,    // the input ended before the end of the stream
  kCorrupt,      // inflate refused the data (bad header, bad data, bad checksum)
  kUnreadable,   // the file could not be opened or read
  kOutOfMemory,  // a buffer or zlib's state could not be allocated
};

const char* stateName(StreamState state);

class TraceStream final : public ValueSource {
 public:
  TraceStream();
  ~TraceStream() override;
  TraceStream(const TraceStream&) = delete;
  TraceStream& operator=(const TraceStream&) = delete;

  // Starts reading a file, or compressed bytes in memory (which must
  // outlive the stream). False, with state() and detail() set, on failure.
  bool openFile(const std::string& path);
  bool openMemory(std::span<const uint8_t> compressed);

  ReadResult next(Leb128* value) override;
  ReadResult raw(uint64_t n, std::string* kept, size_t keepMax) override;
  [[nodiscard]] uint64_t offset() const override { return base_ + pos_; }
  [[nodiscard]] const char* errorText() const override { return error_; }

  // The next run of plain bytes (whatever is inflated and not yet taken);
  // kEnd when none is left.
  ReadResult chunk(std::span<const uint8_t>* bytes);

  [[nodiscard]] StreamState state() const { return state_; }
  // zlib's message or the system error behind a failed state.
  [[nodiscard]] const std::string& detail() const { return detail_; }
  // Compressed bytes consumed so far and the input's size (0 if unknown).
  [[nodiscard]] uint64_t compressedOffset() const;
  [[nodiscard]] uint64_t compressedSize() const { return compressedSize_; }
  // Input bytes that follow the end of the stream (kComplete only).
  [[nodiscard]] uint64_t trailingBytes() const { return trailing_; }

 private:
  bool start();
  // Inflates until at least `want` unread bytes are buffered or the stream
  // stopped.
  void fill(size_t want);
  bool refillInput();
  void fail(StreamState state, const char* detail);

  struct Zlib;
  std::unique_ptr<Zlib> z_;
  std::FILE* file_ = nullptr;
  std::span<const uint8_t> memory_;
  bool fromMemory_ = false;
  bool inputEnded_ = false;
  std::vector<uint8_t> in_;
  std::vector<uint8_t> out_;
  size_t pos_ = 0;     // next unread byte of out_
  size_t end_ = 0;     // end of inflated bytes in out_
  uint64_t base_ = 0;  // plain offset of out_[0]
  uint64_t inputRead_ = 0;
  uint64_t compressedSize_ = 0;
  uint64_t trailing_ = 0;
  StreamState state_ = StreamState::kUnreadable;
  std::string detail_;
  const char* error_ = "";
};

// Values of plain bytes already in memory (a test's synthetic sequence, or
// an inflated trace); the same decoder as the stream.
class MemoryValues final : public ValueSource {
 public:
  explicit MemoryValues(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  ReadResult next(Leb128* value) override;
  ReadResult raw(uint64_t n, std::string* kept, size_t keepMax) override;
  [[nodiscard]] uint64_t offset() const override { return pos_; }
  [[nodiscard]] const char* errorText() const override { return error_; }

 private:
  std::span<const uint8_t> bytes_;
  size_t pos_ = 0;
  const char* error_ = "";
};

}  // namespace tracereader
