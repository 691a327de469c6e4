// Shared by the stress drivers: how much work a run does (less under a
// sanitizer, which slows every hook by an order of magnitude), the
// environment a child runs in, and a walk over a trace's records.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "process_support.h"
#include "tracereader/tracereader.h"

namespace stress {

#ifndef PROF_STRESS_DIVISOR
#define PROF_STRESS_DIVISOR 1
#endif

// count, scaled down under a sanitizer, never below minimum.
inline long scaled(long count, long minimum = 1) {
  const long c = count / PROF_STRESS_DIVISOR;
  return c < minimum ? minimum : c;
}

// Reads values off a trace and says where it first differs from what the
// driver expects; the first difference is kept, later ones are ignored.
class Reader {
 public:
  Reader(std::vector<uint8_t> bytes, std::string name)
      : bytes_(std::move(bytes)), cursor_(bytes_), name_(std::move(name)) {}

  // The next value, or nullopt (noting the failure) at the end of data.
  std::optional<uint64_t> next(const char* what) {
    if (!error_.empty()) return std::nullopt;
    const size_t at = cursor_.position();
    const auto v = cursor_.uleb();
    if (!v) fail(at, std::string("trace ends before ") + what);
    return v;
  }
  // Reads one value and checks it.
  bool expect(uint64_t value, const char* what) {
    const size_t at = cursor_.position();
    const auto v = next(what);
    if (!v) return false;
    if (*v != value) {
      fail(at, std::string(what) + ": expected " + std::to_string(value) + ", found " + std::to_string(*v));
      return false;
    }
    return true;
  }
  bool expectAll(std::initializer_list<uint64_t> values, const char* what) {
    for (uint64_t v : values)
      if (!expect(v, what)) return false;
    return true;
  }
  void fail(size_t at, const std::string& why) {
    if (error_.empty()) error_ = name_ + " at byte " + std::to_string(at) + ": " + why;
  }
  void failHere(const std::string& why) { fail(cursor_.position(), why); }
  // Fails unless every byte was read.
  void expectEnd() {
    if (error_.empty() && !cursor_.atEnd()) failHere(std::to_string(cursor_.remaining()) + " bytes left over");
  }
  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }

 private:
  std::vector<uint8_t> bytes_;
  tracereader::Cursor cursor_;
  std::string name_;
  std::string error_;
};

inline std::string traceName(uint32_t thread) {
  char name[32];
  snprintf(name, sizeof name, "thread%04u-trace.txt", thread);
  return name;
}

// Header of every trace: version, then the two trace modes.
inline bool readHeader(Reader& r, bool mem, bool allocs) {
  return r.expectAll({24, 5, 26, mem ? 1u : 0u, allocs ? 1u : 0u}, "trace header");
}

}  // namespace stress
