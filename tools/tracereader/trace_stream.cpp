// Chunked inflation of a trace. Compressed input is read 64 KiB at a time
// and inflated into a 64 KiB window; before each refill the unread tail of
// the window moves to its front, so a value cut by a chunk boundary is
// decoded whole. Output that inflate produced before refusing the data is
// kept: a damaged trace is readable up to the damage.
#include "tracereader/trace_stream.h"

#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

namespace tracereader {

namespace {
constexpr size_t kInputChunk = 65536;
constexpr size_t kWindow = 65536;
// zlib counts input in 32 bits; memory input is fed in pieces below that.
constexpr size_t kMaxMemoryPiece = size_t{1} << 30;

// Decodes the value at *pos in data[0, size) and moves past it; a value cut
// by the end of the data or longer than 10 bytes is an error, described.
ReadResult takeValue(const uint8_t* data, size_t size, size_t* pos, Leb128* value, const char** error) {
  switch (scanLeb128(data + *pos, size - *pos, value)) {
    case LebScan::kOk:
      *pos += value->length;
      return ReadResult::kOk;
    case LebScan::kNeedMore:
      *error = "the data ends inside a value";
      return ReadResult::kError;
    case LebScan::kOverlong:
      *error = "a value runs past 10 bytes";
      return ReadResult::kError;
  }
  return ReadResult::kError;
}

}  // namespace

struct TraceStream::Zlib {
  z_stream strm{};
  bool initialised = false;
  ~Zlib() {
    if (initialised) inflateEnd(&strm);
  }
};

const char* stateName(StreamState state) {
  switch (state) {
    case StreamState::kReading: return "reading";
    case StreamState::kComplete: return "complete";
    case StreamState::kTruncated: return "truncated";
    case StreamState::kCorrupt: return "corrupt";
    case StreamState::kUnreadable: return "unreadable";
    case StreamState::kOutOfMemory: return "out of memory";
  }
  return "?";
}

TraceStream::TraceStream() = default;

TraceStream::~TraceStream() {
  if (file_ != nullptr) std::fclose(file_);
}

void TraceStream::fail(StreamState state, const char* detail) {
  state_ = state;
  try {
    detail_ = detail;
  } catch (...) {
  }
}

bool TraceStream::start() {
  try {
    z_ = std::make_unique<Zlib>();
    in_.resize(fromMemory_ ? 0 : kInputChunk);
    out_.resize(kWindow);
  } catch (const std::bad_alloc&) {
    fail(StreamState::kOutOfMemory, "cannot allocate the reader's buffers");
    return false;
  }
  if (inflateInit(&z_->strm) != Z_OK) {
    fail(StreamState::kOutOfMemory, "zlib cannot allocate its state");
    return false;
  }
  z_->initialised = true;
  state_ = StreamState::kReading;
  return true;
}

bool TraceStream::openFile(const std::string& path) {
  file_ = std::fopen(path.c_str(), "rb");
  if (file_ == nullptr) {
    fail(StreamState::kUnreadable, std::strerror(errno));
    return false;
  }
  struct stat st {};
  if (fstat(fileno(file_), &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      fail(StreamState::kUnreadable, "is a directory");
      return false;
    }
    compressedSize_ = static_cast<uint64_t>(st.st_size);
  }
  return start();
}

bool TraceStream::openMemory(std::span<const uint8_t> compressed) {
  fromMemory_ = true;
  memory_ = compressed;
  compressedSize_ = compressed.size();
  return start();
}

uint64_t TraceStream::compressedOffset() const {
  if (!z_ || !z_->initialised) return 0;
  return inputRead_ - z_->strm.avail_in;
}

bool TraceStream::refillInput() {
  z_stream& s = z_->strm;
  if (fromMemory_) {
    const size_t left = memory_.size() - inputRead_;
    if (left == 0) {
      inputEnded_ = true;
      return false;
    }
    const size_t piece = std::min(left, kMaxMemoryPiece);
    s.next_in = const_cast<Bytef*>(memory_.data() + inputRead_);
    s.avail_in = static_cast<uInt>(piece);
    inputRead_ += piece;
    return true;
  }
  const size_t n = std::fread(in_.data(), 1, in_.size(), file_);
  if (n == 0) {
    if (std::ferror(file_) != 0) {
      fail(StreamState::kUnreadable, std::strerror(errno != 0 ? errno : EIO));
    } else {
      inputEnded_ = true;
    }
    return false;
  }
  s.next_in = in_.data();
  s.avail_in = static_cast<uInt>(n);
  inputRead_ += n;
  return true;
}

void TraceStream::fill(size_t want) {
  if (state_ != StreamState::kReading) return;
  if (pos_ > 0) {
    std::memmove(out_.data(), out_.data() + pos_, end_ - pos_);
    base_ += pos_;
    end_ -= pos_;
    pos_ = 0;
  }
  z_stream& s = z_->strm;
  while (end_ < want && state_ == StreamState::kReading) {
    if (s.avail_in == 0 && !inputEnded_ && !refillInput() && state_ != StreamState::kReading) return;
    s.next_out = out_.data() + end_;
    s.avail_out = static_cast<uInt>(out_.size() - end_);
    const int r = inflate(&s, Z_NO_FLUSH);
    end_ = out_.size() - s.avail_out;
    if (r == Z_STREAM_END) {
      state_ = StreamState::kComplete;
      trailing_ = s.avail_in;
      if (fromMemory_) {
        trailing_ += memory_.size() - inputRead_;
      } else if (compressedSize_ >= inputRead_) {
        trailing_ += compressedSize_ - inputRead_;
      }
      return;
    }
    if (r == Z_OK) continue;
    if (r == Z_BUF_ERROR && s.avail_in == 0) {
      // All input consumed without reaching the end: more input, or the
      // stream was cut off.
      if (inputEnded_) {
        fail(StreamState::kTruncated, compressedSize_ == 0 ? "empty file" : "no end of stream, no checksum");
        return;
      }
      continue;
    }
    if (r == Z_MEM_ERROR) {
      fail(StreamState::kOutOfMemory, "zlib ran out of memory");
      return;
    }
    fail(StreamState::kCorrupt, s.msg != nullptr ? s.msg : "inflate refused the data");
    return;
  }
}

ReadResult TraceStream::next(Leb128* value) {
  if (end_ - pos_ < kMaxLeb128Bytes) fill(kMaxLeb128Bytes);
  if (pos_ == end_) return ReadResult::kEnd;
  return takeValue(out_.data(), end_, &pos_, value, &error_);
}

ReadResult TraceStream::raw(uint64_t n, std::string* kept, size_t keepMax) {
  while (n > 0) {
    if (pos_ == end_) fill(1);
    if (pos_ == end_) {
      error_ = "the data ends inside a run of raw bytes";
      return ReadResult::kError;
    }
    const size_t take = static_cast<size_t>(std::min<uint64_t>(n, end_ - pos_));
    if (kept != nullptr && kept->size() < keepMax) {
      const size_t keep = std::min(take, keepMax - kept->size());
      try {
        kept->append(reinterpret_cast<const char*>(out_.data() + pos_), keep);
      } catch (...) {
      }
    }
    pos_ += take;
    n -= take;
  }
  return ReadResult::kOk;
}

ReadResult TraceStream::chunk(std::span<const uint8_t>* bytes) {
  if (pos_ == end_) fill(out_.size());
  if (pos_ == end_) return ReadResult::kEnd;
  *bytes = std::span<const uint8_t>(out_.data() + pos_, end_ - pos_);
  pos_ = end_;
  return ReadResult::kOk;
}

ReadResult MemoryValues::next(Leb128* value) {
  if (pos_ == bytes_.size()) return ReadResult::kEnd;
  return takeValue(bytes_.data(), bytes_.size(), &pos_, value, &error_);
}

ReadResult MemoryValues::raw(uint64_t n, std::string* kept, size_t keepMax) {
  if (n > bytes_.size() - pos_) {
    error_ = "the data ends inside a run of raw bytes";
    return ReadResult::kError;
  }
  if (kept != nullptr) {
    try {
      kept->append(reinterpret_cast<const char*>(bytes_.data() + pos_),
                   static_cast<size_t>(std::min<uint64_t>(n, keepMax > kept->size() ? keepMax - kept->size() : 0)));
    } catch (...) {
    }
  }
  pos_ += static_cast<size_t>(n);
  return ReadResult::kOk;
}

}  // namespace tracereader
