// Replays the compression of a trace: deflates its plain bytes the way the
// runtime's printer does (one zlib stream, the plain bytes handed over in
// buffers of the printer's size with Z_NO_FLUSH, output collected in 64 KiB
// areas, Z_FINISH at the end) and measures the CPU time that takes. With
// the runtime's level the replay yields the trace file's bytes, so the time
// is what compression cost the traced run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace designbench {

// The runtime's plain-byte buffer per trace.
inline constexpr size_t kPrinterBufferSize = 5120;

struct Deflated {
  std::vector<uint8_t> bytes;  // the zlib stream
  double cpuMs = 0;            // CPU time of this thread spent deflating
};

// Deflates plain at the given zlib level; every zlib failure ends the
// benchmark.
Deflated deflateAsPrinter(std::span<const uint8_t> plain, int level);

}  // namespace designbench
