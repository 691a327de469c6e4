// Creation, draining and closing of a thread's trace printer (the byte path
// itself is inline in bufferedPrinter.h; the stream, in compressor.h).
// Every failure is fatal and leaves the file truncated.
#include "bufferedPrinter.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "futex.h"
#include "trace_compression.h"
#include "utils.h"

namespace {

[[noreturn]] void compressedWriteFailed() {
  __PROF_fatal_exit("spec:0:0: error: [TRACE] Trace buffer cannot be written to, exiting...5\n");
}

}  // namespace

void setFlushInterval(bufferedPrinterStruct_t* printer, size_t bytes) { printer->flush_interval = bytes; }

bufferedPrinterStruct_t* createBufferedPrinter(const char* fileName, size_t bufferSize) {
  // Value-initialised: the ring's atomics are constructed and every field
  // starts at zero.
  auto* printer = new (ProfMalloc(sizeof(bufferedPrinterStruct_t))) bufferedPrinterStruct_t{};
  FILE* stream = fopen(fileName, "wb");
  if (stream == nullptr)
    __PROF_fatal_exit("spec:0:0: error: [TRACE] Trace file (%s) cannot be opened, exiting...\n", fileName);
  // Compressed output already arrives in 64 KiB chunks, so a stdio buffer
  // only adds a copy, an allocation at the first write and a final flush
  // whose failure would come too late to be reported with the write.
  setvbuf(stream, nullptr, _IONBF, 0);
  printer->out_file = stream;
  do_init(&printer->c, stream, traceCodec());
  printer->current_count = 0;
  printer->buffer_size = bufferSize == 0 ? 1 : bufferSize;
  printer->buf = static_cast<U8*>(ProfMalloc(printer->buffer_size));
  pthread_mutex_init(&printer->mutex, nullptr);
  recordLockInit(&printer->lock);
  pthread_mutex_init(&printer->ring.stream_mutex, nullptr);
  return printer;
}

void handOverCompression(bufferedPrinterStruct_t* printer) {
  printerRing& ring = printer->ring;
  if (ring.size != 0 || printer->flush_interval != 0) return;
  ring.buffers[0] = printer->buf;
  for (size_t i = 1; i < kTraceBuffersPerThread; ++i)
    ring.buffers[i] = static_cast<U8*>(ProfMalloc(printer->buffer_size));
  ring.size = kTraceBuffersPerThread;
}

namespace {

// Feeds one buffer to the stream, with the loss bound's flush when it is
// due. The caller owns the stream.
void compressBuffer(bufferedPrinterStruct_t* printer, U8* bytes, size_t count) {
  // zlib counts input in 32 bits; a larger count comes back different.
  const uint32_t num_writes = do_compress(&printer->c, static_cast<uint32_t>(count), bytes);
  if (printer->flush_interval != 0) {
    printer->drained_since_flush += count;
    if (printer->drained_since_flush >= printer->flush_interval) {
      do_sync_flush(&printer->c);
      printer->drained_since_flush = 0;
    }
  }
  if (ferror(printer->out_file))
    __PROF_fatal_exit("spec:0:0: error: [TRACE] Trace buffer cannot be written to, exiting...2\n");
  if (num_writes != count)
    __PROF_fatal_exit(
        "spec:0:0: error: [FAILURE - bufferedPrinter] Incorrect write to the output file, exiting...\n");
}

// The oldest buffer handed over and not yet compressed, if there is one;
// false when there is none. Caller holds stream_mutex. A stream closed in
// the meantime has compressed everything that was handed over before its
// close, so nothing is left for it here.
bool compressOldest(bufferedPrinterStruct_t* printer) {
  printerRing& ring = printer->ring;
  const uint64_t done = ring.compressed.load(std::memory_order_relaxed);
  if (done == ring.handed.load(std::memory_order_acquire)) return false;
  const size_t slot = done % ring.size;
  compressBuffer(printer, ring.buffers[slot], ring.lengths[slot]);
  // The owner writes into this buffer again only after seeing it.
  ring.compressed.store(done + 1, std::memory_order_seq_cst);
  ring.progress.fetch_add(1, std::memory_order_seq_cst);
  // A sleeping owner is woken once half its ring is free, not at every
  // buffer: it then writes several buffers before it has to wait again.
  if (ring.room_waiter.load(std::memory_order_seq_cst) != 0 &&
      ring.handed.load(std::memory_order_relaxed) - (done + 1) <= ring.size / 2)
    futexWake(&ring.progress);
  return true;
}

// Every buffer handed over goes through deflate before the stream goes on
// or ends; the caller holds stream_mutex.
void compressAllHandedOver(bufferedPrinterStruct_t* printer) {
  if (printer->ring.size == 0) return;
  while (compressOldest(printer)) {
  }
}

// An owner waiting for room looks again after this long even unwoken.
constexpr long kRoomWaitNs = 1000000;

// The owner's wait for a free buffer. While the ring is full: if nobody
// feeds the stream, compress the oldest buffer here (a missing or busy
// compression thread slows the owner down but never stops it); if a
// compression thread does, sleep until it has freed half the ring. Waiting
// for the stream's lock instead would lose it to the thread, which takes it
// again at once for the next buffer, until the whole ring is compressed.
void waitForAFreeBuffer(bufferedPrinterStruct_t* printer) {
  printerRing& ring = printer->ring;
  const uint64_t handed = ring.handed.load(std::memory_order_relaxed);
  // The next buffer to write is handed + 1; it is free once buffer
  // handed + 1 - size has been compressed.
  const auto full = [&] { return handed + 1 - ring.compressed.load(std::memory_order_seq_cst) >= ring.size; };
  while (full()) {
    if (pthread_mutex_trylock(&ring.stream_mutex) == 0) {
      if (full()) {
        printer->in_compressor = 1;
        compressOldest(printer);
        printer->in_compressor = 0;
      }
      pthread_mutex_unlock(&ring.stream_mutex);
      continue;
    }
    ring.room_waiter.store(1, std::memory_order_seq_cst);
    const uint32_t seen = ring.progress.load(std::memory_order_seq_cst);
    if (full()) futexWait(&ring.progress, seen, kRoomWaitNs);
    ring.room_waiter.store(0, std::memory_order_relaxed);
  }
}

// Hands the full buffer to the compression threads and moves on to the
// next buffer of the ring. in_compressor covers the few stores in between,
// during which a signal handler could not tell which buffer is current.
void handOver(bufferedPrinterStruct_t* printer) {
  printerRing& ring = printer->ring;
  waitForAFreeBuffer(printer);
  const uint64_t handed = ring.handed.load(std::memory_order_relaxed);
  printer->in_compressor = 1;
  ring.lengths[handed % ring.size] = printer->current_count;
  printer->record_start = printer->record_start < printer->current_count ? kRecordSplit : 0;
  printer->current_count = 0;
  printer->buf = ring.buffers[(handed + 1) % ring.size];
  ring.handed.store(handed + 1, std::memory_order_seq_cst);
  printer->in_compressor = 0;
  // Compression is asked for once a few buffers wait, so that a thread
  // wakes a compression thread once per batch rather than per buffer. A
  // printer already queued is picked up with this buffer too: a
  // compression thread clears `queued` before it looks at `handed`.
  if (handed + 1 - ring.compressed.load(std::memory_order_relaxed) < kHandOverBatch) return;
  if (!ring.queued.exchange(true, std::memory_order_seq_cst) && !requestCompression(printer)) {
    ring.queued.store(false, std::memory_order_relaxed);
    MutexGuard stream(&ring.stream_mutex);
    printer->in_compressor = 1;
    compressAllHandedOver(printer);
    printer->in_compressor = 0;
  }
}

}  // namespace

void compressHandedOver(bufferedPrinterStruct_t* printer) {
  printerRing& ring = printer->ring;
  ring.queued.store(false, std::memory_order_seq_cst);
  for (;;) {
    MutexGuard stream(&ring.stream_mutex);
    if (printer->out_file == nullptr || !compressOldest(printer)) return;
  }
}

void dumpBufferToFile(bufferedPrinterStruct_t* printer) {
  if (printer->out_file == nullptr) {  // closed: output is dropped
    printer->current_count = 0;
    return;
  }
  if (printer->ring.size != 0) {
    handOver(printer);
    return;
  }
  printer->in_compressor = 1;
  compressBuffer(printer, printer->buf, printer->current_count);
  printer->in_compressor = 0;
  // A record that began in this buffer now has its first part in the
  // compressor: a crash before it ends can no longer drop all of it.
  printer->record_start = printer->record_start < printer->current_count ? kRecordSplit : 0;
  printer->current_count = 0;
}

bufPrintStatus_t __PROF_print_array(bufferedPrinterStruct_t* printer, const U8* bytes, size_t length) {
  while (length > 0) {
    const size_t room = printer->buffer_size - printer->current_count;
    const size_t n = room < length ? room : length;
    if (n > 0) {
      memcpy(printer->buf + printer->current_count, bytes, n);
      printer->current_count += n;
      bytes += n;
      length -= n;
    }
    if (printer->current_count >= printer->buffer_size) dumpBufferToFile(printer);
  }
  return PRINT_SUCCESS;
}

void flush_and_close(bufferedPrinterStruct_t* printer) {
  if (printer->out_file == nullptr) return;
  MutexGuard stream(&printer->ring.stream_mutex);
  // Until the file is closed and forgotten the stream is past finishing by
  // a signal handler.
  printer->in_compressor = 1;
  compressAllHandedOver(printer);
  compressBuffer(printer, printer->buf, printer->current_count);
  printer->current_count = 0;
  do_close(&printer->c);
  // The stream is unbuffered, so this flush has nothing left to lose; a
  // failing close still means the file may not hold what was written.
  const bool flushed = fflush(printer->out_file) == 0 && !ferror(printer->out_file);
  const bool closed = fclose(printer->out_file) == 0;
  printer->out_file = nullptr;
  printer->c.dest = nullptr;
  printer->in_compressor = 0;
  if (!flushed || !closed) compressedWriteFailed();
}

void forceFlush(bufferedPrinterStruct_t* printer) {
  if (printer == nullptr) return;
  PrinterLock lock(printer);
  flush_and_close(printer);
}

void deleteBufferedPrinter(bufferedPrinterStruct_t* printer) {
  {
    PrinterLock lock(printer);
    flush_and_close(printer);
  }
  // No compression thread may still hold the printer when it is freed.
  if (printer->ring.size != 0) forgetCompression(printer);
  if (printer->ring.size == 0) {
    free(printer->buf);
  } else {
    for (U8* buffer : printer->ring.buffers) free(buffer);
  }
  pthread_mutex_destroy(&printer->ring.stream_mutex);
  pthread_mutex_destroy(&printer->mutex);
  printer->~bufferedPrinterStruct_t();
  free(printer);
}

bool finishStreamAfterCrash(bufferedPrinterStruct_t* printer, size_t keep) {
  if (printer->out_file == nullptr) return true;  // its thread finished it already
  const int fd = fileno(printer->out_file);
  // From here on any later output of the owning thread is dropped.
  printer->out_file = nullptr;
  printer->current_count = 0;
  printerRing& ring = printer->ring;
  if (ring.size != 0) {
    for (uint64_t n = ring.compressed.load(); n != ring.handed.load(); ++n) {
      const size_t slot = n % ring.size;
      if (!compressAfterCrash(&printer->c, fd, ring.buffers[slot], ring.lengths[slot])) return false;
    }
  }
  return finishCompressorAfterCrash(&printer->c, fd, printer->buf, keep);
}
