// The compressor steps of a trace (compressor.h). Every trace file is one
// zlib stream: zlib's deflate at level 4 with zlib's defaults (or at the
// faster level the build chose), or ISA-L's deflate at its level 1 when the
// build chose that codec. Compressed bytes are written in whole 64 KiB
// chunks and the rest when the stream is finished, never flushed in between
// unless the build asked for a loss bound.
#include "compressor.h"

#include <isa-l/igzip_lib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "utils.h"

// Defined by the executable's start-up stub only when its build chose
// another codec than zlib at level 4: the zlib level (zlib1), or ISA-L's
// deflate as the codec (isal1, value 1 of TraceCodecKind).
extern "C" __attribute__((weak)) const uint32_t __PROF_TraceCompressionLevel;
extern "C" __attribute__((weak)) const uint32_t __PROF_TraceCodec;

struct IsalStream {
  isal_zstream stream;
  U8 levelBuffer[ISAL_DEF_LVL1_DEFAULT];
};

namespace {

constexpr int kCompressionLevel = 4;
constexpr int kIsalLevel = 1;

[[noreturn]] void compressedWriteFailed() {
  __PROF_fatal_exit("spec:0:0: error: [TRACE] Trace buffer cannot be written to, exiting...5\n");
}

[[noreturn]] void streamFailed() { __PROF_fatal_exit("spec:0:0: error: Z_STREAM_ERROR"); }

bool isIsal(const compressor* c) { return c->kind == TraceCodecKind::isal; }

uint32_t outputRoom(const compressor* c) { return isIsal(c) ? c->isal->stream.avail_out : c->strm.avail_out; }

uint32_t inputLeft(const compressor* c) { return isIsal(c) ? c->isal->stream.avail_in : c->strm.avail_in; }

void resetOutputArea(compressor* c) {
  if (isIsal(c)) {
    c->isal->stream.avail_out = kCompressedChunkSize;
    c->isal->stream.next_out = c->out;
  } else {
    c->strm.avail_out = kCompressedChunkSize;
    c->strm.next_out = c->out;
  }
}

void setInput(compressor* c, const U8* bytes, uint32_t length) {
  if (isIsal(c)) {
    c->isal->stream.next_in = const_cast<U8*>(bytes);
    c->isal->stream.avail_in = length;
  } else {
    c->strm.next_in = const_cast<U8*>(bytes);
    c->strm.avail_in = length;
  }
}

// One deflate call without flushing; false on a stream error. zlib's
// Z_BUF_ERROR only means "no progress possible right now" (output area
// full or nothing to consume) and is answered by the caller's loop. Both
// return only when the input is consumed or the output area is full.
bool deflateSome(compressor* c) {
  if (isIsal(c)) return isal_deflate(&c->isal->stream) == COMP_OK;
  return deflate(&c->strm, Z_NO_FLUSH) != Z_STREAM_ERROR;
}

// One call of the finishing loop. ISA-L's finish ends at ZSTATE_END; a call
// that neither filled the output area nor ended the stream would make no
// more progress the next time, so it fails like zlib's other results do.
FinishStep finishSome(compressor* c) {
  if (!isIsal(c)) return finishStepFor(deflate(&c->strm, Z_FINISH));
  isal_zstream* s = &c->isal->stream;
  s->end_of_stream = 1;
  if (isal_deflate(s) != COMP_OK) return FinishStep::Fail;
  if (s->internal_state.state == ZSTATE_END) return FinishStep::Done;
  return s->avail_out == 0 ? FinishStep::Continue : FinishStep::Fail;
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

// A level outside zlib's 1 to 9 cannot come from the build's option, which
// checks it; such a stub keeps the default rather than failing every trace.
int zlibLevel() {
  if (&__PROF_TraceCompressionLevel == nullptr) return kCompressionLevel;
  const uint32_t level = __PROF_TraceCompressionLevel;
  return level >= 1 && level <= 9 ? static_cast<int>(level) : kCompressionLevel;
}

void initIsal(compressor* c, int level) {
  c->isal = static_cast<IsalStream*>(ProfMalloc(sizeof(IsalStream)));
  isal_zstream* s = &c->isal->stream;
  isal_deflate_init(s);
  s->gzip_flag = IGZIP_ZLIB;
  s->level = static_cast<uint32_t>(level);
  s->level_buf = c->isal->levelBuffer;
  s->level_buf_size = sizeof(c->isal->levelBuffer);
  s->flush = NO_FLUSH;
  s->end_of_stream = 0;
}

}  // namespace

// Likewise, an unknown codec keeps the default.
TraceCodec traceCodec() {
  if (&__PROF_TraceCodec != nullptr && __PROF_TraceCodec == static_cast<uint32_t>(TraceCodecKind::isal))
    return {TraceCodecKind::isal, kIsalLevel};
  return {TraceCodecKind::zlib, zlibLevel()};
}

void do_init(compressor* c, FILE* dest, TraceCodec codec) {
  c->dest = dest;
  c->strm = z_stream{};
  c->count = 0;
  c->kind = codec.kind;
  c->isal = nullptr;
  if (isIsal(c)) {
    initIsal(c, codec.level);
  } else if (deflateInit(&c->strm, codec.level) != Z_OK) {
    __PROF_fatal_exit("spec:0:0: error: Inflation error");
  }
  resetOutputArea(c);
}

void write_output(compressor* c) {
  const size_t have = kCompressedChunkSize - outputRoom(c);
  const size_t written = fwrite(c->out, 1, have, c->dest);
  if (written < have || ferror(c->dest)) compressedWriteFailed();
  resetOutputArea(c);
}

uint32_t do_compress(compressor* c, uint32_t count, U8* buffer) {
  setInput(c, buffer, count);
  if (!deflateSome(c)) streamFailed();
  // Without a flush deflate stops early only when the output area is full.
  while (inputLeft(c) != 0) {
    write_output(c);
    if (!deflateSome(c)) streamFailed();
  }
  return count;
}

void do_sync_flush(compressor* c) {
  if (isIsal(c)) {
    // ISA-L flushes what it holds when called with the flush set and no
    // input; the stream goes on unflushed afterwards.
    setInput(c, nullptr, 0);
    c->isal->stream.flush = SYNC_FLUSH;
  }
  for (;;) {
    const bool failed = isIsal(c) ? isal_deflate(&c->isal->stream) != COMP_OK
                                  : deflate(&c->strm, Z_SYNC_FLUSH) == Z_STREAM_ERROR;
    if (failed) streamFailed();
    const bool full = outputRoom(c) == 0;
    write_output(c);
    if (!full) break;
  }
  if (isIsal(c)) c->isal->stream.flush = NO_FLUSH;
}

void do_close(compressor* c) {
  setInput(c, nullptr, 0);
  FinishStep step;
  do {
    step = finishSome(c);
    if (step == FinishStep::Fail)
      __PROF_fatal_exit("spec:0:0: error: [TRACE] Trace stream cannot be finished, exiting...\n");
    write_output(c);
  } while (step != FinishStep::Done);
  if (isIsal(c)) {
    free(c->isal);
    c->isal = nullptr;
  } else {
    deflateEnd(&c->strm);
  }
}

bool compressAfterCrash(compressor* c, int fd, const U8* bytes, size_t length) {
  setInput(c, bytes, static_cast<uint32_t>(length));
  while (inputLeft(c) != 0) {
    if (!deflateSome(c)) return false;
    if (outputRoom(c) == 0) {
      if (!writeAll(fd, c->out, kCompressedChunkSize)) return false;
      resetOutputArea(c);
    }
  }
  return true;
}

bool finishCompressorAfterCrash(compressor* c, int fd, const U8* last, size_t length) {
  setInput(c, last, static_cast<uint32_t>(length));
  for (;;) {
    const FinishStep step = finishSome(c);
    if (step == FinishStep::Fail) return false;
    if (!writeAll(fd, c->out, kCompressedChunkSize - outputRoom(c))) return false;
    resetOutputArea(c);
    if (step == FinishStep::Done) return true;
  }
}
