// The compressor steps of a trace (compressor.h). Every trace file is one
// zlib stream at level 4 with zlib's defaults (or at the faster level the
// build chose); compressed bytes are written in whole 64 KiB chunks and the
// rest when the stream is finished, never flushed in between unless the
// build asked for a loss bound.
#include "compressor.h"

#include <unistd.h>

#include <cerrno>

#include "utils.h"

// The zlib level of the executable's traces, defined by its start-up stub
// only when the build chose a faster codec than the default.
extern "C" __attribute__((weak)) const uint32_t __PROF_TraceCompressionLevel;

namespace {

constexpr int kCompressionLevel = 4;

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

// A level outside zlib's 1 to 9 cannot come from the build's option, which
// checks it; such a stub keeps the default rather than failing every trace.
int traceCompressionLevel() {
  if (&__PROF_TraceCompressionLevel == nullptr) return kCompressionLevel;
  const uint32_t level = __PROF_TraceCompressionLevel;
  return level >= 1 && level <= 9 ? static_cast<int>(level) : kCompressionLevel;
}

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

void do_sync_flush(compressor* c) {
  for (;;) {
    if (deflate(&c->strm, Z_SYNC_FLUSH) == Z_STREAM_ERROR) __PROF_fatal_exit("spec:0:0: error: Z_STREAM_ERROR");
    const bool full = c->strm.avail_out == 0;
    write_output(c);
    if (!full) return;
  }
}

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

bool compressAfterCrash(compressor* c, int fd, const U8* bytes, size_t length) {
  c->strm.next_in = const_cast<U8*>(bytes);
  c->strm.avail_in = static_cast<uInt>(length);
  while (c->strm.avail_in != 0) {
    if (deflate(&c->strm, Z_NO_FLUSH) == Z_STREAM_ERROR) return false;
    if (c->strm.avail_out == 0) {
      if (!writeAll(fd, c->out, kCompressedChunkSize)) return false;
      resetOutputArea(c);
    }
  }
  return true;
}

bool finishCompressorAfterCrash(compressor* c, int fd, const U8* last, size_t length) {
  c->strm.next_in = const_cast<U8*>(last);
  c->strm.avail_in = static_cast<uInt>(length);
  for (;;) {
    const FinishStep step = finishStepFor(deflate(&c->strm, Z_FINISH));
    if (step == FinishStep::Fail) return false;
    if (!writeAll(fd, c->out, kCompressedChunkSize - c->strm.avail_out)) return false;
    resetOutputArea(c);
    if (step == FinishStep::Done) return true;
  }
}
