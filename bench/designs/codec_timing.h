// Replays the compression of a trace: compresses its plain bytes the way the
// runtime's printer does (one zlib-format stream, the plain bytes handed
// over in buffers of the printer's size without flushing, output collected
// in 64 KiB areas, finished at the end) and measures the CPU time that
// takes. With zlib at the runtime's level the replay yields the trace
// file's bytes, so the time is what compression cost the traced run; the
// other codecs show what a faster one would cost and save.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace designbench {

// The runtime's plain-byte buffer per trace.
inline constexpr size_t kPrinterBufferSize = 5120;

struct Compressed {
  std::vector<uint8_t> bytes;  // one zlib-format stream (RFC 1950)
  double cpuMs = 0;            // CPU time of this thread spent compressing
};

struct Codec {
  const char* name;
  Compressed (*compress)(std::span<const uint8_t> plain, int level);
  int level;
};

// zlib at level 4 (the runtime's) first, then the faster settings: zlib at
// level 1 and ISA-L's levels 1 to 3.
std::vector<Codec> replayCodecs();

// Compresses with zlib at the given level; every zlib failure ends the
// benchmark.
Compressed deflateAsPrinter(std::span<const uint8_t> plain, int level);

}  // namespace designbench
