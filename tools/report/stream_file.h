// The run directory's "streams" file: one TAB-separated line per HLS
// stream with its traffic, written by the stream model.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace report {

inline constexpr uint32_t kUnknownThread = 4294967295u;  // "-": a thread without a profile

struct StreamThreadTraffic {
  uint32_t thread = kUnknownThread;
  uint64_t writes = 0;
  uint64_t reads = 0;
};

struct StreamLine {
  uint64_t serial = 0;
  std::string name;
  uint32_t elementSize = 0;
  uint64_t writes = 0;
  uint64_t reads = 0;
  uint64_t emptyReads = 0;
  uint64_t left = 0;
  uint64_t highWater = 0;
  std::vector<StreamThreadTraffic> threads;  // in order of first use
};

// Parses the file's text; malformed lines become "streams:<n>: <reason>"
// problems and are skipped.
std::vector<StreamLine> parseStreamLines(std::string_view text, std::vector<std::string>* problems);

}  // namespace report
