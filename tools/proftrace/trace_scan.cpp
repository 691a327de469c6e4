// The streaming pass behind info and check: header, value count, how far
// the trace decodes and why it stops.
#include "trace_scan.h"

#include "output.h"

namespace proftrace {

using tracereader::Leb128;
using tracereader::ReadResult;
using tracereader::StreamState;

Header readHeader(tracereader::ValueSource& source) {
  Header h;
  static constexpr uint64_t kExpected[3] = {24, 5, 26};
  static constexpr const char* kWhat[3] = {"the version tag 24", "format version 5", "the trace-modes tag 26"};
  uint64_t modes[2] = {0, 0};
  for (int i = 0; i < 5; ++i) {
    Leb128 v;
    const uint64_t at = source.offset();
    if (source.next(&v) != ReadResult::kOk) {
      h.problem = at == 0 ? "no header (no data)" : "the data ends inside the header";
      return h;
    }
    if (i < 3 && v.value != kExpected[i]) {
      h.problem = "header value " + std::to_string(i + 1) + " is " + std::to_string(v.value) + ", not " + kWhat[i];
      return h;
    }
    if (i >= 3) {
      // An access mode of 2: accesses, with stores told apart.
      if (v.value > (i == 3 ? 2u : 1u)) {
        h.problem = "trace mode " + std::to_string(v.value) + " is neither 0 nor 1";
        return h;
      }
      modes[i - 3] = v.value;
    }
  }
  h.valid = true;
  h.traceAccesses = modes[0] >= 1;
  h.traceAllocations = modes[1] == 1;
  return h;
}

bool TraceScan::sound() const {
  return state == StreamState::kComplete && header.valid && valueProblem.empty() && trailingBytes == 0;
}

std::string TraceScan::findings() const {
  std::string f;
  const auto add = [&](const std::string& s) { f += (f.empty() ? "" : "; ") + s; };
  switch (state) {
    case StreamState::kComplete: break;
    case StreamState::kTruncated: add("truncated (" + detail + ")"); break;
    case StreamState::kCorrupt: add("corrupt zlib stream (" + detail + ")"); break;
    case StreamState::kUnreadable: add("cannot be read (" + detail + ")"); break;
    case StreamState::kOutOfMemory: add("out of memory (" + detail + ")"); break;
    case StreamState::kReading: add("not read to its end"); break;
  }
  if (!header.valid && state != StreamState::kUnreadable) add("no valid header: " + header.problem);
  if (!valueProblem.empty()) add(valueProblem + " at offset " + std::to_string(plainBytes));
  if (trailingBytes != 0) add(std::to_string(trailingBytes) + " bytes after the end of the stream");
  return f;
}

TraceScan scanTrace(const std::string& path, std::FILE* progressTo) {
  TraceScan scan;
  scan.path = path;
  tracereader::TraceStream stream;
  if (!stream.openFile(path)) {
    scan.state = stream.state();
    scan.detail = stream.detail();
    return scan;
  }
  scan.compressedSize = stream.compressedSize();
  Progress progress(progressTo, path, stream);
  scan.header = readHeader(stream);
  if (scan.header.valid) scan.values = 5;
  // After a bad header the values are still counted from where it failed.
  for (;;) {
    Leb128 v;
    const ReadResult r = stream.next(&v);
    if (r == ReadResult::kEnd) break;
    if (r == ReadResult::kError) {
      scan.valueProblem = stream.errorText();
      break;
    }
    ++scan.values;
    progress.tick();
  }
  progress.finish();
  scan.plainBytes = stream.offset();
  scan.state = stream.state();
  scan.detail = stream.detail();
  scan.trailingBytes = stream.trailingBytes();
  return scan;
}

}  // namespace proftrace
