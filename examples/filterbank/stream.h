// The design's FIFO channels: a typed stream over the simulation's stream
// model. The model queues byte copies and never blocks; a hardware FIFO
// read waits until a value arrives, so every read here waits on a
// condition variable first. The model has no locks of its own: every
// operation on a stream happens under the stream's mutex.
#pragma once

#include <pthread.h>

#include <cstdint>
#include <cstdio>

#include "hls/nuq_hls_stream.h"

namespace fb {

template <typename T>
class Stream {
 public:
  explicit Stream(const char* name) : handle_(nuq_hls_stream_create(name, 1)) {
    pthread_mutex_init(&lock_, nullptr);
    pthread_cond_init(&ready_, nullptr);
  }

  ~Stream() {
    nuq_hls_stream_delete(handle_);
    pthread_cond_destroy(&ready_);
    pthread_mutex_destroy(&lock_);
  }

  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  // Queues a copy of value; wakes a waiting reader.
  void write(const T& value) {
    pthread_mutex_lock(&lock_);
    nuq_hls_stream_blocking_write(&handle_, &value, sizeof(T));
    ++written_;
    const uint32_t depth = nuq_hls_stream_size(handle_);
    if (depth > deepest_) deepest_ = depth;
    pthread_cond_signal(&ready_);
    pthread_mutex_unlock(&lock_);
  }

  // Waits for the oldest value and moves it to *value.
  void read(T* value) {
    pthread_mutex_lock(&lock_);
    while (nuq_hls_stream_empty(handle_) != 0) pthread_cond_wait(&ready_, &lock_);
    nuq_hls_stream_blocking_read(&handle_, value, sizeof(T));
    ++read_;
    pthread_mutex_unlock(&lock_);
  }

  T read() {
    T value;
    read(&value);
    return value;
  }

  // Values queued right now.
  uint32_t size() {
    pthread_mutex_lock(&lock_);
    const uint32_t count = nuq_hls_stream_size(handle_);
    pthread_mutex_unlock(&lock_);
    return count;
  }

  uint64_t written() const { return written_; }
  // The most values queued at once so far.
  uint32_t deepest() const { return deepest_; }
  uint64_t consumed() const { return read_; }

 private:
  HlsStream* handle_;
  pthread_mutex_t lock_;
  pthread_cond_t ready_;
  uint64_t written_ = 0;
  uint64_t read_ = 0;
  uint32_t deepest_ = 0;
};

// The end of a run travels through the streams as a frame number below 0.
constexpr int32_t kEndOfRun = -1;

}  // namespace fb
