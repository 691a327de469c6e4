// One streaming pass over a trace: how far it inflates and decodes, whether
// its stream is complete, its header and its number of values. The basis
// of `info` and `check`.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "tracereader/trace_stream.h"

namespace proftrace {

struct Header {
  bool valid = false;
  bool traceAccesses = false;
  bool traceAllocations = false;
  std::string problem;  // why it is not valid
};

// Reads the five header values (24, 5, 26, mode, mode) from the source.
Header readHeader(tracereader::ValueSource& source);

struct TraceScan {
  std::string path;
  tracereader::StreamState state = tracereader::StreamState::kUnreadable;
  std::string detail;          // the stream's reason when not complete
  uint64_t compressedSize = 0;
  uint64_t plainBytes = 0;     // inflated bytes decoded (the offset reached)
  uint64_t values = 0;         // values decoded, the header's included
  uint64_t trailingBytes = 0;  // bytes after the end of the stream
  Header header;
  std::string valueProblem;    // a value cut off or overlong, at plainBytes

  // A complete stream with a valid header, whole values and nothing after it.
  [[nodiscard]] bool sound() const;
  // What is wrong, in one line ("" when sound).
  [[nodiscard]] std::string findings() const;
};

TraceScan scanTrace(const std::string& path, std::FILE* progress);

}  // namespace proftrace
