// The compression of one trace: a deflate stream in zlib framing whose
// output gathers in a 64 KiB area and reaches the trace file in whole
// chunks of that size until the stream is finished. It knows nothing of
// buffers or records; the printer (bufferedPrinter.h) feeds it plain bytes
// in the order the records were written. The deflate is zlib's or, when
// the executable's build chose the faster codec, ISA-L's; every zlib
// reader inflates either stream.
//
// Every step but the crash-time finish ends the process through
// __PROF_fatal_exit on failure. Relies on zlib, ISA-L and utils.h.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "commonProfInclude/common.h"

// Size of the compressed-output area; compressed bytes are written in chunks
// of exactly this size until the stream is finished.
inline constexpr unsigned kCompressedChunkSize = 65536;

// Which deflate writes a trace. The values are those of the executable's
// __PROF_TraceCodec.
enum class TraceCodecKind : uint32_t { zlib = 0, isal = 1 };

struct TraceCodec {
  TraceCodecKind kind;
  int level;  // zlib's 1 to 9, or ISA-L's 1
};

// ISA-L's stream and the level buffer it compresses with, one allocation
// (defined where ISA-L's header is included, so that its names stay there).
struct IsalStream;

struct compressor {
  FILE* dest;     // receives compressed bytes; the printer's out_file
  z_stream strm;  // zlib's stream; next_out/avail_out describe the free part of out
  U8 out[kCompressedChunkSize];
  int32_t count;  // set to 0 at start; nothing reads it
  TraceCodecKind kind;
  // ISA-L's stream when kind is isal (its next_out/avail_out then describe
  // the free part of out), else null; allocated by do_init, freed by
  // do_close, so that a zlib trace does not carry its 356 KiB.
  IsalStream* isal;
};

static_assert(sizeof(compressor::out) == 65536, "compressed chunks are 64 KiB");
static_assert(offsetof(compressor, dest) < offsetof(compressor, strm) &&
                  offsetof(compressor, strm) < offsetof(compressor, out) &&
                  offsetof(compressor, out) < offsetof(compressor, count) &&
                  offsetof(compressor, count) < offsetof(compressor, kind),
              "compressor fields keep their documented order");

// The codec of this executable's traces: zlib at level 4 unless its build
// chose a faster one.
[[nodiscard]] TraceCodec traceCodec();

// Allocates the stream's memory; the printer is created once per thread.
void do_init(compressor* c, FILE* dest, TraceCodec codec);
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
// `length` bytes, finishes the stream and writes everything still held to fd with
// write(2); neither stdio nor the allocator is touched (so the stream's
// memory stays allocated). False when the stream or a write failed; the
// file then stays as far as it got.
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
