// The whole-trace interface over the streaming reader: the inflated bytes
// are gathered up to a limit, growing the buffer by hand so that it never
// asks for more than the limit, and an allocation failure is reported
// like the limit instead of escaping.
#include "tracereader/tracereader.h"

#include <algorithm>
#include <new>

#include "tracereader/leb128.h"
#include "tracereader/trace_stream.h"

namespace tracereader {

namespace {

InflatedTrace gather(TraceStream& stream, bool opened, size_t maxBytes) {
  InflatedTrace result;
  if (!opened) {
    result.readable = stream.state() != StreamState::kUnreadable;
    result.outOfMemory = stream.state() == StreamState::kOutOfMemory;
    result.error = stream.detail();
    return result;
  }
  std::span<const uint8_t> piece;
  try {
    while (stream.chunk(&piece) == ReadResult::kOk) {
      const size_t room = maxBytes - result.bytes.size();
      const size_t take = std::min(room, piece.size());
      if (result.bytes.capacity() - result.bytes.size() < take) {
        const size_t doubled = std::max<size_t>(result.bytes.capacity() * 2, 1 << 16);
        result.bytes.reserve(std::min(maxBytes, std::max(doubled, result.bytes.size() + take)));
      }
      result.bytes.insert(result.bytes.end(), piece.begin(), piece.begin() + static_cast<ptrdiff_t>(take));
      if (take < piece.size()) {
        result.limitExceeded = true;
        break;
      }
    }
  } catch (const std::bad_alloc&) {
    result.outOfMemory = true;
  }
  const StreamState state = stream.state();
  result.readable = state != StreamState::kUnreadable;
  result.corrupt = state == StreamState::kCorrupt;
  result.outOfMemory = result.outOfMemory || state == StreamState::kOutOfMemory;
  result.complete = state == StreamState::kComplete && !result.limitExceeded && !result.outOfMemory;
  result.trailingBytes = static_cast<size_t>(stream.trailingBytes());
  try {
    if (result.limitExceeded) {
      result.error = "inflates to more than " + std::to_string(maxBytes) + " bytes";
    } else if (result.outOfMemory) {
      result.error = "out of memory after " + std::to_string(result.bytes.size()) + " inflated bytes";
    } else if (!result.complete) {
      result.error = std::string(stateName(state)) + ": " + stream.detail();
    }
  } catch (...) {
  }
  return result;
}

}  // namespace

InflatedTrace inflateTrace(std::span<const uint8_t> compressed, size_t maxBytes) {
  TraceStream stream;
  const bool opened = stream.openMemory(compressed);
  return gather(stream, opened, maxBytes);
}

InflatedTrace readTraceFile(const std::string& path, size_t maxBytes) {
  TraceStream stream;
  const bool opened = stream.openFile(path);
  return gather(stream, opened, maxBytes);
}

std::optional<uint64_t> Cursor::uleb() {
  Leb128 v;
  if (scanLeb128(bytes_.data() + pos_, bytes_.size() - pos_, &v) != LebScan::kOk) return std::nullopt;
  pos_ += v.length;
  return v.value;
}

std::optional<int64_t> Cursor::sleb() {
  Leb128 v;
  if (scanLeb128(bytes_.data() + pos_, bytes_.size() - pos_, &v) != LebScan::kOk) return std::nullopt;
  pos_ += v.length;
  return v.signedValue;
}

std::optional<std::span<const uint8_t>> Cursor::raw(size_t n) {
  if (n > remaining()) return std::nullopt;
  auto piece = bytes_.subspan(pos_, n);
  pos_ += n;
  return piece;
}

}  // namespace tracereader
