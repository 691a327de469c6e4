// Fuzz target of the reader library. The input is read three ways: as a
// compressed trace (streaming, and whole under a small limit), as inflated
// values for the labelled decoder under both conventions, and as the text
// of the run directory's files (the crash file's among them). Nothing may crash, hang, leak or grow
// beyond the limits; the streaming and whole reads must agree.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

#include "tracereader/crash_file.h"
#include "tracereader/records.h"
#include "tracereader/run_directory.h"
#include "tracereader/trace_stream.h"
#include "tracereader/tracereader.h"

namespace {

const tracereader::NameIndex& names() {
  static const tracereader::RunDirectory run = [] {
    tracereader::RunDirectory r;
    const char* fn[] = {"main", "malloc", "memcpy", "pthread_setname_np", "worker", "pthread_create"};
    for (uint32_t i = 0; i < 6; ++i) {
      r.functionMapping.push_back({200 + i, "app_0", 200 + i});
      r.names.functions.push_back({"app_0", 200 + i, fn[i]});
    }
    r.names.locals.push_back({"app_0", 200, 1, "buf", 16});
    return r;
  }();
  static const tracereader::NameIndex index(run);
  return index;
}

void decodeAll(std::span<const uint8_t> plain, tracereader::Convention convention) {
  tracereader::MemoryValues source(plain);
  tracereader::DecoderOptions options;
  options.convention = convention;
  options.names = &names();
  options.maxDepth = 1 << 12;
  tracereader::RecordDecoder decoder(source, options);
  tracereader::Record r;
  uint64_t last = 0;
  while (decoder.next(&r)) {
    if (r.offset < last || r.offset > plain.size() || r.text.size() > tracereader::kMaxNameBytes) std::abort();
    last = r.offset;
  }
  if (decoder.status().state == tracereader::DecodeStatus::kRunning) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> input(data, size);

  tracereader::TraceStream stream;
  if (!stream.openMemory(input)) return 0;
  uint64_t streamed = 0;
  tracereader::Leb128 v;
  tracereader::ReadResult r;
  while ((r = stream.next(&v)) == tracereader::ReadResult::kOk) {
    if (v.length == 0 || v.length > tracereader::kMaxLeb128Bytes) std::abort();
    ++streamed;
  }
  const uint64_t reached = stream.offset();

  constexpr size_t kLimit = 1 << 20;
  const tracereader::InflatedTrace whole = tracereader::inflateTrace(input, kLimit);
  if (whole.bytes.size() > kLimit) std::abort();
  if (!whole.limitExceeded && whole.complete != (stream.state() == tracereader::StreamState::kComplete)) std::abort();
  if (!whole.limitExceeded && r == tracereader::ReadResult::kEnd && whole.bytes.size() != reached) std::abort();
  if (whole.bytes.size() <= (1 << 16)) {
    decodeAll(whole.bytes, tracereader::Convention::kDecodable);
  }

  decodeAll(input, tracereader::Convention::kDecodable);
  decodeAll(input, tracereader::Convention::kHandInstrumented);

  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string why;
  (void)tracereader::parseCommandline(text, &why);
  std::vector<std::string> problems;
  (void)tracereader::parseFunctionMapping(text, &problems);
  const tracereader::NameLines lines = tracereader::parseNameLines(text, &problems);
  (void)lines;
  (void)tracereader::traceFileThread(text);
  // The crash file's groups come in increasing thread order, whatever the text.
  const tracereader::CrashRecord crash = tracereader::parseCrashFile(text);
  for (size_t i = 1; i < crash.threads.size(); ++i)
    if (crash.threads[i].thread <= crash.threads[i - 1].thread) std::abort();
  (void)streamed;
  return 0;
}
