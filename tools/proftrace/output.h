// Text and JSON output helpers of proftrace, and its argument parsing.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "tracereader/trace_stream.h"

namespace proftrace {

// Bytes as a JSON string literal (with quotes): control characters and
// bytes that are not UTF-8 are escaped, so any name or path stays valid JSON.
std::string jsonString(std::string_view bytes);
// Bytes for a terminal: control characters and non-UTF-8 bytes as \xNN.
std::string printable(std::string_view bytes);

// The folder of a path ("." for a bare file name).
std::string directoryOf(const std::string& path);

// What a run directory without trace files means: the runtime started (it
// made the directory), but a trace is made when a thread first runs
// instrumented code, and none did.
inline constexpr const char* kNoTraces =
    "no thread traces: no thread of this process ran instrumented code (the runtime started and made the run "
    "directory, nothing more)";

// Why a run without function name lines cannot be labelled.
inline constexpr const char* kNoNameLines =
    "the run directory has no function name lines, as a hand-instrumented program leaves it, so its records cannot "
    "be told from bare values without the program (--convention=hand labels traces that keep to narrower "
    "assumptions)";

// Progress lines on stderr while a trace of more than 100 MB is read.
class Progress {
 public:
  Progress(std::FILE* err, const std::string& path, const tracereader::TraceStream& stream);
  // Cheap; call once per value.
  void tick() {
    if (enabled_ && ++ticks_ % 4096 == 0) report();
  }
  void finish();

 private:
  void report();
  std::FILE* err_;
  std::string path_;
  const tracereader::TraceStream& stream_;
  bool enabled_ = false;
  uint64_t ticks_ = 0;
  int lastTenth_ = 0;
};

inline constexpr uint64_t kProgressThreshold = 100ull * 1000 * 1000;

// Parsed command arguments: positional ones and "--name" / "--name=value".
struct Args {
  std::vector<std::string> positional;
  std::vector<std::pair<std::string, std::string>> options;  // (name, value or "")
  bool help = false;
  std::string bad;  // first unusable argument
};
Args parseArgs(int argc, const char* const* argv, const std::vector<std::string>& known);

}  // namespace proftrace
