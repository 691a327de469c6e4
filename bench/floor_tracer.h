// The floor every benchmark is measured against: the least a tracer must do
// to write the same bytes as the runtime. One mutex held per record, values
// as unsigned (or signed) LEB128 into a 5,120-byte buffer, the buffer fed to
// deflate at level 4 with zlib's defaults, compressed output written to a
// file in 64 KiB chunks. No call stack, no classification, no lookup: what
// the runtime spends beyond this is the price of what it knows.
#pragma once

#include <pthread.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace floor_tracer {

class Tracer {
 public:
  explicit Tracer(const char* path) {
    file_ = fopen(path, "wb");
    if (file_ == nullptr) abort();
    setvbuf(file_, nullptr, _IONBF, 0);
    if (deflateInit(&strm_, 4) != Z_OK) abort();
    strm_.next_out = out_;
    strm_.avail_out = sizeof out_;
  }
  ~Tracer() {
    drain();
    strm_.next_in = nullptr;
    strm_.avail_in = 0;
    int r;
    do {
      r = deflate(&strm_, Z_FINISH);
      writeOut();
    } while (r != Z_STREAM_END);
    deflateEnd(&strm_);
    fclose(file_);
  }
  Tracer(const Tracer&) = delete;
  Tracer& operator=(const Tracer&) = delete;

  // One record of unsigned values under the lock.
  template <typename... V>
  void record(V... values) {
    pthread_mutex_lock(&mutex_);
    (uleb(static_cast<uint64_t>(values)), ...);
    pthread_mutex_unlock(&mutex_);
  }
  // One signed value under the lock.
  void recordSigned(int64_t value) {
    pthread_mutex_lock(&mutex_);
    sleb(value);
    pthread_mutex_unlock(&mutex_);
  }
  // Plain bytes, as already encoded (the printer-alone comparison).
  void bytes(const uint8_t* p, size_t n) {
    while (n > 0) {
      if (count_ == sizeof buf_) drain();
      size_t k = sizeof buf_ - count_;
      if (k > n) k = n;
      __builtin_memcpy(buf_ + count_, p, k);
      count_ += k;
      p += k;
      n -= k;
    }
  }
  // Compressed bytes written to the file so far, and plain bytes taken.
  uint64_t compressedBytes() const { return strm_.total_out; }
  uint64_t plainBytes() const { return strm_.total_in + count_; }

 private:
  void put(uint8_t b) {
    if (count_ == sizeof buf_) [[unlikely]]
      drain();
    buf_[count_++] = b;
  }
  void uleb(uint64_t v) {
    while (v >= 128) {
      put(static_cast<uint8_t>(v | 0x80));
      v >>= 7;
    }
    put(static_cast<uint8_t>(v));
  }
  void sleb(int64_t v) {
    bool more = true;
    while (more) {
      uint8_t b = v & 0x7F;
      v >>= 7;
      more = !((v == 0 && !(b & 0x40)) || (v == -1 && (b & 0x40)));
      put(more ? (b | 0x80) : b);
    }
  }
  void drain() {
    strm_.next_in = buf_;
    strm_.avail_in = static_cast<uInt>(count_);
    deflate(&strm_, Z_NO_FLUSH);
    while (strm_.avail_in != 0) {
      writeOut();
      deflate(&strm_, Z_NO_FLUSH);
    }
    count_ = 0;
  }
  void writeOut() {
    const size_t have = sizeof out_ - strm_.avail_out;
    if (fwrite(out_, 1, have, file_) != have) abort();
    strm_.next_out = out_;
    strm_.avail_out = sizeof out_;
  }

  pthread_mutex_t mutex_ = PTHREAD_MUTEX_INITIALIZER;
  uint8_t buf_[5120];
  size_t count_ = 0;
  FILE* file_;
  z_stream strm_{};
  uint8_t out_[65536];
};

}  // namespace floor_tracer
