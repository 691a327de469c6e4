// A thread's trace writer: a small plain-byte buffer in front of a zlib
// deflate stream whose compressed output gathers in a 64 KiB area embedded in
// the record and reaches the trace file only when that area fills or the
// printer is closed. It knows nothing of records; trace.h composes them from
// the four output operations here (byte, byte array, ULEB128, SLEB128).
//
// The output operations take no lock: a record writer holds `mutex` (see
// PrinterLock) for a whole record so that a concurrent close never splits it.
//
// A printer either compresses its own buffers when they fill (the thread
// that writes the records waits for deflate) or hands each full buffer to a
// compression thread (trace_compression.h) and goes on writing into the next
// one of a small ring. Either way the compressor receives the same buffers in
// the same order, so the trace's bytes are the same.
// They are inline because they run at every traced event; only the drain,
// which happens once per `buffer_size` bytes, is out of line. Failures never
// come back to the caller: they end the process through __PROF_fatal_exit.
// Relies on zlib, pthreads and utils.h (fatal exit, guarded allocation).
#pragma once

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "commonProfInclude/common.h"
#include "compressor.h"
#include "printer_lock.h"
#include "utils.h"

// Buffers of one printer's ring: the one being written and up to fifteen
// handed over, 80 KiB per traced thread with the usual 5,120-byte buffers.
// A compression thread is asked for once kHandOverBatch buffers wait; an
// owner whose ring is full sleeps until half of it is free. Both keep the
// hand-offs between threads (each a wake-up, and for the sleeper often a
// move to the other processor, whose caches then miss) to one in several
// buffers.
inline constexpr size_t kTraceBuffersPerThread = 16;
inline constexpr size_t kHandOverBatch = 4;
static_assert(kHandOverBatch < kTraceBuffersPerThread / 2);

struct bufferedPrinterStruct_s;

// The hand-over of full buffers to a compression thread. Buffer number n
// (counting every buffer the thread has filled) lives in
// buffers[n % kTraceBuffersPerThread]; buf is always buffers[handed % ...].
struct printerRing {
  U8* buffers[kTraceBuffersPerThread];  // owned; all null while size is 0
  size_t lengths[kTraceBuffersPerThread];
  // 0: the printer compresses its own buffers and the ring is unused.
  size_t size;
  // Buffers handed over so far: written by the owner under the printer's
  // mutex, read by whoever compresses.
  std::atomic<uint64_t> handed;
  // Buffers compressed so far: written under stream_mutex, read by the
  // owner to know when a buffer may be written again.
  std::atomic<uint64_t> compressed;
  // Counts the buffers compressed, as a futex word: the owner sleeps on it
  // while its ring is full and a compression thread holds the stream, and
  // is woken (only when `room_waiter` says it sleeps) at every buffer done.
  std::atomic<uint32_t> progress;
  std::atomic<uint32_t> room_waiter;
  // Held by whoever feeds this stream to deflate: a compression thread,
  // the owner when its ring is full, the closing operations and the crash
  // handler. Lock order: the printer's mutex, then this one.
  pthread_mutex_t stream_mutex;
  // Set while the printer waits in the compression threads' queue or is
  // about to: a hand-over then need not queue it again.
  std::atomic<bool> queued;
  // Kept by the compression threads under their queue's lock.
  bufferedPrinterStruct_s* next_queued;
  unsigned holders;
};

typedef enum bufPrintStatus_t { PRINT_SUCCESS = 0, PRINT_FAIL = 1 } bufPrintStatus_t;

typedef struct bufferedPrinterStruct_s {
  FILE* out_file;        // null once closed; output is then dropped
  compressor c;          // embedded: the printer is one allocation
  size_t current_count;  // bytes in buf not yet handed to the compressor
  size_t buffer_size;    // capacity of buf, fixed at creation
  U8* buf;               // owned, not zeroed
  pthread_mutex_t mutex; // with `lock`: the record lock (see PrinterLock)
  // Crash safety (crash.h). Where the record being written began in buf,
  // that is the end of the last whole record; kRecordSplit once a drain has
  // handed the first part of that record to the compressor. Set by the
  // writer under the mutex at every record's start.
  size_t record_start;
  // Set while deflate works on this stream (drain or close): a stream
  // interrupted there cannot be finished by a signal handler.
  volatile sig_atomic_t in_compressor;
  // A termination signal that reached the owning thread inside one of its
  // records; raised again as soon as the record has ended.
  volatile sig_atomic_t deferred_signal;
  // Loss bound for a process that cannot finish its traces (SIGKILL, power
  // loss): after this many plain bytes have been drained since the last
  // flush, the compressor is flushed (Z_SYNC_FLUSH) and all its output
  // written. 0 (the default): never, and the stream's bytes are those of a
  // printer without the bound.
  size_t flush_interval;
  size_t drained_since_flush;
  printerRing ring;
  // Biased towards the thread that created the printer, which writes its
  // records (printer_lock.h); other threads also take `mutex`.
  recordLock lock;
} bufferedPrinterStruct_t;

inline constexpr size_t kRecordSplit = SIZE_MAX;

static_assert(offsetof(bufferedPrinterStruct_t, out_file) == 0 &&
                  offsetof(bufferedPrinterStruct_t, c) < offsetof(bufferedPrinterStruct_t, current_count) &&
                  offsetof(bufferedPrinterStruct_t, current_count) <
                      offsetof(bufferedPrinterStruct_t, buffer_size) &&
                  offsetof(bufferedPrinterStruct_t, buffer_size) < offsetof(bufferedPrinterStruct_t, buf) &&
                  offsetof(bufferedPrinterStruct_t, buf) < offsetof(bufferedPrinterStruct_t, mutex),
              "printer fields keep their documented order");

// Opens fileName ("wb") and starts a level-4 zlib stream on it. A buffer size
// of 0 is raised to 1: the byte path always needs room for one byte.
[[nodiscard]] bufferedPrinterStruct_t* createBufferedPrinter(const char* fileName, size_t bufferSize);
// Closes (if still open) under the lock and frees the printer. No other
// thread may be waiting for or about to take its mutex.
void deleteBufferedPrinter(bufferedPrinterStruct_t* printer);
// Sets the loss bound (flush_interval); before the first record.
void setFlushInterval(bufferedPrinterStruct_t* printer, size_t bytes);
// From now on full buffers go to the compression threads; before the first
// record, and only without a loss bound, whose flushes must reach the file
// from the writing thread. Allocates the rest of the ring.
void handOverCompression(bufferedPrinterStruct_t* printer);
// Compresses, in order, every buffer handed over and not yet compressed;
// from a compression thread. Takes the stream's lock one buffer at a time,
// so that an owner waiting for room gets it between two buffers.
void compressHandedOver(bufferedPrinterStruct_t* printer);
// Finishes the stream and closes the file under the lock; the record stays
// usable and drops later output. Null is ignored; closing twice is harmless.
void forceFlush(bufferedPrinterStruct_t* printer);

// Hands the buffered bytes to the compressor (or drops them once closed).
void dumpBufferToFile(bufferedPrinterStruct_t* printer);
// Drain, finish the zlib stream, close the file. Caller holds the mutex.
void flush_and_close(bufferedPrinterStruct_t* printer);

bufPrintStatus_t __PROF_print_array(bufferedPrinterStruct_t* printer, const U8* bytes, size_t length);

// The byte primitive. The drain is lazy: a full buffer stays full until a
// byte arrives that no longer fits.
inline bufPrintStatus_t __PROF_print_char(bufferedPrinterStruct_t* printer, U8 byte) {
  if (__builtin_expect(printer->current_count >= printer->buffer_size, 0)) dumpBufferToFile(printer);
  printer->buf[printer->current_count++] = byte;
  return PRINT_SUCCESS;
}

namespace printer_detail {
// A LEB128 value has at most 10 bytes. With that much room left none of its
// bytes can trigger a drain, so the per-byte bounds test can be skipped
// without changing where drains happen.
inline constexpr size_t kMaxLeb128Bytes = 10;
inline bool roomForLeb128(const bufferedPrinterStruct_t* printer) {
  return printer->buffer_size - printer->current_count >= kMaxLeb128Bytes;
}
}  // namespace printer_detail

inline bufPrintStatus_t __PROF_PRINT_ULEB128(bufferedPrinterStruct_t* printer, U64 value) {
  if (__builtin_expect(printer_detail::roomForLeb128(printer), 1)) {
    U8* out = printer->buf + printer->current_count;
    U8* const first = out;
    while (value >= 128) {
      *out++ = static_cast<U8>(value | 0x80);
      value >>= 7;
    }
    *out++ = static_cast<U8>(value);
    printer->current_count += static_cast<size_t>(out - first);
    return PRINT_SUCCESS;
  }
  while (value >= 128) {
    __PROF_print_char(printer, static_cast<U8>(value | 0x80));
    value >>= 7;
  }
  return __PROF_print_char(printer, static_cast<U8>(value));
}

namespace printer_detail {
// Signed LEB128 with the trace format's exact bytes: the working copy is
// shifted without sign extension, so a value below -2^62 ends in a tenth
// byte 0x01 where a sign-extending encoder would write 0x7F. Decoders into
// 64 bits read the same value from either.
template <typename Put>
inline void sleb128Bytes(int64_t value, Put put) {
  if (value >= -64 && value <= 63) {
    put(static_cast<U8>(value & 0x7F));
    return;
  }
  const U64 bits = static_cast<U64>(value);
  U64 work = bits;
  U64 signbit = 0x40;
  do {
    put(static_cast<U8>((work & 0x7F) | 0x80));
    work >>= 7;
    signbit <<= 7;  // reaches 0 after nine rounds, which ends the loop
  } while ((bits & signbit) + (bits & (0 - signbit)) != 0);
  put(static_cast<U8>(work & 0x7F));
}
}  // namespace printer_detail

inline bufPrintStatus_t __PROF_PRINT_SLEB128(bufferedPrinterStruct_t* printer, int64_t value) {
  if (__builtin_expect(printer_detail::roomForLeb128(printer), 1)) {
    U8* out = printer->buf + printer->current_count;
    U8* const first = out;
    printer_detail::sleb128Bytes(value, [&out](U8 b) { *out++ = b; });
    printer->current_count += static_cast<size_t>(out - first);
    return PRINT_SUCCESS;
  }
  printer_detail::sleb128Bytes(value, [printer](U8 b) { __PROF_print_char(printer, b); });
  return PRINT_SUCCESS;
}

// Finishes the stream from a signal handler after the process's crash: the
// buffers handed over and not yet compressed, then the first `keep` bytes of
// buf, are compressed, the stream is finished and everything still held is
// written with write(2); stdio and the allocator are not touched. The
// caller owns the printer (holds its mutex, or its owning thread is stopped)
// and its stream (holds stream_mutex, or nobody can), and the stream is not
// inside deflate. Later output is dropped. False when the stream or a write
// failed; the file then stays as far as it got.
[[nodiscard]] bool finishStreamAfterCrash(bufferedPrinterStruct_t* printer, size_t keep);

void __PROF_Crash_raiseDeferred(bufferedPrinterStruct_t* printer);

// Holds a printer's record lock for one record or one close, and marks where
// the record begins so that a crash in the middle of it loses only this
// record. The owning thread's records take the lock's biased path: two
// plain stores and two loads, where a mutex costs two atomic
// read-modify-writes once the process has a second thread (and every traced
// process has one, for compression).
class [[nodiscard]] PrinterLock {
 public:
  explicit PrinterLock(bufferedPrinterStruct_t* printer)
      : printer_(printer), owner_(recordLockIsOwner(&printer->lock)) {
    if (__builtin_expect(owner_, 1))
      recordLockOwnerEnter(&printer->lock);
    else
      recordLockTake(&printer->lock, &printer->mutex);
    printer->record_start = printer->current_count;
  }
  ~PrinterLock() {
    if (__builtin_expect(owner_, 1))
      recordLockOwnerLeave(&printer_->lock);
    else
      recordLockGive(&printer_->lock, &printer_->mutex);
    if (__builtin_expect(printer_->deferred_signal != 0, 0)) __PROF_Crash_raiseDeferred(printer_);
  }
  PrinterLock(const PrinterLock&) = delete;
  PrinterLock& operator=(const PrinterLock&) = delete;

 private:
  bufferedPrinterStruct_t* printer_;
  bool owner_;
};
