// Creation, draining and closing of a thread's trace printer (the byte path
// itself is inline in bufferedPrinter.h). Every trace file is one zlib
// stream at level 4 with zlib's defaults (or at the faster level the build
// chose, see compressionLevel); compressed bytes are written in
// whole 64 KiB chunks and the rest when the printer is closed, never
// flushed in between. Every failure is fatal and leaves the file truncated.
#include "bufferedPrinter.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "utils.h"

// The zlib level of the executable's traces, defined by its start-up stub
// only when the build chose a faster codec than the default.
extern "C" __attribute__((weak)) const uint32_t __PROF_TraceCompressionLevel;

namespace {

constexpr int kCompressionLevel = 4;

// A level outside zlib's 1 to 9 cannot come from the build's option, which
// checks it; such a stub keeps the default rather than failing every trace.
int compressionLevel() {
  if (&__PROF_TraceCompressionLevel == nullptr) return kCompressionLevel;
  const uint32_t level = __PROF_TraceCompressionLevel;
  return level >= 1 && level <= 9 ? static_cast<int>(level) : kCompressionLevel;
}

[[noreturn]] void compressedWriteFailed() {
  __PROF_fatal_exit("spec:0:0: error: [TRACE] Trace buffer cannot be written to, exiting...5\n");
}

void resetOutputArea(compressor* c) {
  c->strm.avail_out = kCompressedChunkSize;
  c->strm.next_out = c->out;
}

// Z_BUF_ERROR only means "no progress possible right now" (output area full
// or nothing to consume) and is answered by the caller's loop.
void deflateNoFlush(compressor* c) {
  if (deflate(&c->strm, Z_NO_FLUSH) == Z_STREAM_ERROR) __PROF_fatal_exit("spec:0:0: error: Z_STREAM_ERROR");
}

}  // namespace

void do_init(compressor* c, FILE* dest, int level) {
  c->dest = dest;
  c->strm.zalloc = Z_NULL;
  c->strm.zfree = Z_NULL;
  c->strm.opaque = Z_NULL;
  if (deflateInit(&c->strm, level) != Z_OK) __PROF_fatal_exit("spec:0:0: error: Inflation error");
  c->count = 0;
  resetOutputArea(c);
}

void write_output(compressor* c) {
  const size_t have = kCompressedChunkSize - c->strm.avail_out;
  const size_t written = fwrite(c->out, 1, have, c->dest);
  if (written < have || ferror(c->dest)) compressedWriteFailed();
  resetOutputArea(c);
}

uint32_t do_compress(compressor* c, uint32_t count, U8* buffer) {
  c->strm.next_in = buffer;
  c->strm.avail_in = count;
  deflateNoFlush(c);
  // With Z_NO_FLUSH deflate stops early only when the output area is full.
  while (c->strm.avail_in != 0) {
    write_output(c);
    deflateNoFlush(c);
  }
  return count;
}

namespace {

// Everything compressed so far reaches the file, ending on a byte boundary
// from which a reader can inflate all of it; the stream goes on after it.
void syncFlush(compressor* c) {
  for (;;) {
    if (deflate(&c->strm, Z_SYNC_FLUSH) == Z_STREAM_ERROR) __PROF_fatal_exit("spec:0:0: error: Z_STREAM_ERROR");
    const bool full = c->strm.avail_out == 0;
    write_output(c);
    if (!full) return;
  }
}

}  // namespace

void setFlushInterval(bufferedPrinterStruct_t* printer, size_t bytes) { printer->flush_interval = bytes; }

void do_close(compressor* c) {
  c->strm.next_in = Z_NULL;
  c->strm.avail_in = 0;
  FinishStep step;
  do {
    const int r = deflate(&c->strm, Z_FINISH);
    step = finishStepFor(r);
    if (step == FinishStep::Fail)
      __PROF_fatal_exit("spec:0:0: error: [TRACE] Trace stream cannot be finished, exiting...\n");
    write_output(c);
  } while (step != FinishStep::Done);
  deflateEnd(&c->strm);
}

bufferedPrinterStruct_t* createBufferedPrinter(const char* fileName, size_t bufferSize) {
  auto* printer = ProfAlloc<bufferedPrinterStruct_t>();
  FILE* stream = fopen(fileName, "wb");
  if (stream == nullptr)
    __PROF_fatal_exit("spec:0:0: error: [TRACE] Trace file (%s) cannot be opened, exiting...\n", fileName);
  // Compressed output already arrives in 64 KiB chunks, so a stdio buffer
  // only adds a copy, an allocation at the first write and a final flush
  // whose failure would come too late to be reported with the write.
  setvbuf(stream, nullptr, _IONBF, 0);
  printer->out_file = stream;
  do_init(&printer->c, stream, compressionLevel());
  printer->current_count = 0;
  printer->buffer_size = bufferSize == 0 ? 1 : bufferSize;
  printer->buf = static_cast<U8*>(ProfMalloc(printer->buffer_size));
  pthread_mutex_init(&printer->mutex, nullptr);
  printer->record_start = 0;
  printer->in_compressor = 0;
  printer->deferred_signal = 0;
  printer->flush_interval = 0;
  printer->drained_since_flush = 0;
  return printer;
}

void dumpBufferToFile(bufferedPrinterStruct_t* printer) {
  if (printer->out_file == nullptr) {  // closed: output is dropped
    printer->current_count = 0;
    return;
  }
  // zlib counts input in 32 bits; a larger count comes back different.
  printer->in_compressor = 1;
  const uint32_t num_writes =
      do_compress(&printer->c, static_cast<uint32_t>(printer->current_count), printer->buf);
  if (printer->flush_interval != 0) {
    printer->drained_since_flush += printer->current_count;
    if (printer->drained_since_flush >= printer->flush_interval) {
      syncFlush(&printer->c);
      printer->drained_since_flush = 0;
    }
  }
  printer->in_compressor = 0;
  // A record that began in this buffer now has its first part in the
  // compressor: a crash before it ends can no longer drop all of it.
  printer->record_start = printer->record_start < printer->current_count ? kRecordSplit : 0;
  if (ferror(printer->out_file))
    __PROF_fatal_exit("spec:0:0: error: [TRACE] Trace buffer cannot be written to, exiting...2\n");
  if (num_writes != printer->current_count)
    __PROF_fatal_exit(
        "spec:0:0: error: [FAILURE - bufferedPrinter] Incorrect write to the output file, exiting...\n");
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
  dumpBufferToFile(printer);
  // Until the file is closed and forgotten the stream is past finishing by
  // a signal handler.
  printer->in_compressor = 1;
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
    free(printer->buf);
    printer->buf = nullptr;
  }
  pthread_mutex_destroy(&printer->mutex);
  free(printer);
}

namespace {

// write(2) of the whole range, through interruptions.
bool writeAll(int fd, const U8* bytes, size_t length) {
  while (length > 0) {
    const ssize_t n = write(fd, bytes, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool finishStreamAfterCrash(bufferedPrinterStruct_t* printer, size_t keep) {
  if (printer->out_file == nullptr) return true;  // its thread finished it already
  const int fd = fileno(printer->out_file);
  // From here on any later output of the owning thread is dropped.
  printer->out_file = nullptr;
  compressor* c = &printer->c;
  c->strm.next_in = printer->buf;
  c->strm.avail_in = static_cast<uInt>(keep);
  printer->current_count = 0;
  for (;;) {
    const FinishStep step = finishStepFor(deflate(&c->strm, Z_FINISH));
    if (step == FinishStep::Fail) return false;
    if (!writeAll(fd, c->out, kCompressedChunkSize - c->strm.avail_out)) return false;
    resetOutputArea(c);
    if (step == FinishStep::Done) return true;
  }
}
