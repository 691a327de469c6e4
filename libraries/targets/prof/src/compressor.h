// The compression of one trace: a deflate stream in zlib framing whose
// output gathers in a 64 KiB area and reaches the trace file in whole
// chunks of that size until the stream is finished. It knows nothing of
// buffers or records; the printer (bufferedPrinter.h) feeds it plain bytes
// in the order the records were written.
//
// Every step but the crash-time finish ends the process through
// __PROF_fatal_exit on failure. Relies on zlib and utils.h.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "commonProfInclude/common.h"

// Size of the compressed-output area; compressed bytes are written in chunks
// of exactly this size until the stream is finished.
inline constexpr unsigned kCompressedChunkSize = 65536;

struct compressor {
  FILE* dest;     // receives compressed bytes; the printer's out_file
  z_stream strm;  // next_out/avail_out always describe the free part of out
  U8 out[kCompressedChunkSize];
  int32_t count;  // set to 0 at start; nothing reads it
};

static_assert(sizeof(compressor::out) == 65536, "compressed chunks are 64 KiB");
static_assert(offsetof(compressor, dest) < offsetof(compressor, strm) &&
                  offsetof(compressor, strm) < offsetof(compressor, out) &&
                  offsetof(compressor, out) < offsetof(compressor, count),
              "compressor fields keep their documented order");

// The zlib level of this executable's traces: 4 unless its build chose a
// faster codec.
[[nodiscard]] int traceCompressionLevel();

void do_init(compressor* c, FILE* dest, int level);
// Compresses count bytes without flushing; returns the count consumed.
[[nodiscard]] uint32_t do_compress(compressor* c, uint32_t count, U8* buffer);
// Writes the compressed bytes gathered so far and empties the area.
void write_output(compressor* c);
// Everything compressed so far reaches the file, ending on a byte boundary
// from which a reader can inflate all of it; the stream goes on after it.
void do_sync_flush(compressor* c);
// Finishes the stream, writes the rest and releases the stream's memory.
void do_close(compressor* c);

// From a signal handler after the process's crash: compresses the last
// `length` bytes with Z_FINISH and writes everything still held to fd with
// write(2); neither stdio nor the allocator is touched. False when the
// stream or a write failed; the file then stays as far as it got.
[[nodiscard]] bool finishCompressorAfterCrash(compressor* c, int fd, const U8* last, size_t length);
// Compresses `length` bytes without flushing, from a signal handler; output
// areas that fill are written to fd with write(2). False when a write failed.
[[nodiscard]] bool compressAfterCrash(compressor* c, int fd, const U8* bytes, size_t length);

// What the finishing loop does with one result of deflate(Z_FINISH). Any
// result but these three means the stream can never end, so looping on it
// would hang the exiting process.
enum class FinishStep { Continue, Done, Fail };
[[nodiscard]] constexpr FinishStep finishStepFor(int deflateResult) {
  switch (deflateResult) {
    case Z_STREAM_END: return FinishStep::Done;
    case Z_OK:
    case Z_BUF_ERROR: return FinishStep::Continue;
    default: return FinishStep::Fail;
  }
}
