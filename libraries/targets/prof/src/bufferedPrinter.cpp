// Creation, draining and closing of a thread's trace printer (the byte path
// itself is inline in bufferedPrinter.h; the stream, in compressor.h).
// Every failure is fatal and leaves the file truncated.
#include "bufferedPrinter.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "utils.h"

namespace {

[[noreturn]] void compressedWriteFailed() {
  __PROF_fatal_exit("spec:0:0: error: [TRACE] Trace buffer cannot be written to, exiting...5\n");
}

}  // namespace

void setFlushInterval(bufferedPrinterStruct_t* printer, size_t bytes) { printer->flush_interval = bytes; }

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
  do_init(&printer->c, stream, traceCodec());
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
      do_sync_flush(&printer->c);
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

bool finishStreamAfterCrash(bufferedPrinterStruct_t* printer, size_t keep) {
  if (printer->out_file == nullptr) return true;  // its thread finished it already
  const int fd = fileno(printer->out_file);
  // From here on any later output of the owning thread is dropped.
  printer->out_file = nullptr;
  printer->current_count = 0;
  return finishCompressorAfterCrash(&printer->c, fd, printer->buf, keep);
}
