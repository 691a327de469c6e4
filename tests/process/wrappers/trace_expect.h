// Expected traces for the process tests: a builder that spells records the
// way the runtime writes them, values the driver cannot know in advance
// (heap addresses of a program that does not report them) as named
// placeholders, and a matcher that walks an inflated trace against it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "process_support.h"
#include "tracereader/tracereader.h"

namespace expect {

struct Token {
  enum Kind { Unsigned, Signed, Raw, Any } kind;
  uint64_t value = 0;
  std::string text;  // raw bytes, or the placeholder's name
};

class Trace {
 public:
  // Every trace starts with the version and the two trace modes.
  explicit Trace(bool memoryAccesses = true, bool allocations = true) {
    u({24, 5, 26, memoryAccesses ? 1u : 0u, allocations ? 1u : 0u});
  }

  Trace& u(std::initializer_list<uint64_t> values) {
    for (uint64_t v : values) tokens_.push_back({Token::Unsigned, v, {}});
    return *this;
  }
  Trace& s(int64_t value) {
    tokens_.push_back({Token::Signed, static_cast<uint64_t>(value), {}});
    return *this;
  }
  Trace& raw(std::string_view bytes) {
    tokens_.push_back({Token::Raw, 0, std::string(bytes)});
    return *this;
  }
  // A value bound on first sight; later uses of the name must repeat it.
  Trace& any(const std::string& name) {
    tokens_.push_back({Token::Any, 0, name});
    return *this;
  }

  Trace& entry(uint32_t function, uint32_t caller) { return u({0, function, caller}); }
  Trace& exit() { return u({2}); }
  Trace& exitWith(uint64_t value) { return u({40, value}); }
  Trace& alloc(uint64_t uid, uint64_t size, uint64_t adr) { return u({6, uid, size, adr}); }
  Trace& allocAt(uint64_t uid, uint64_t size, const std::string& adr) { return u({6, uid, size}).any(adr); }
  Trace& realloc(uint64_t uid, uint64_t size, uint64_t adr) { return u({8, uid, size, adr}); }
  Trace& reallocAt(uint64_t uid, uint64_t size, const std::string& adr) { return u({8, uid, size}).any(adr); }
  Trace& free(uint64_t uid, uint64_t size) { return u({10, size, uid}); }
  Trace& created(uint32_t thread) { return u({12, thread}); }
  Trace& joined(uint32_t thread) { return u({14, thread}); }
  Trace& local(uint64_t var, uint64_t offset) { return u({3, var, offset}); }
  Trace& global(uint64_t var, uint64_t offset) { return u({4, var, offset}); }
  Trace& unknown() { return u({4, 0, 0}); }
  Trace& arg(uint64_t var, uint32_t frame, uint64_t offset) { return u({5, var, frame, offset}); }
  Trace& heap(uint64_t uid, uint64_t offset) { return u({6, uid, offset}); }
  Trace& remote(uint64_t var, uint64_t function, uint32_t thread, uint64_t offset) {
    return u({7, var, function, thread, offset});
  }
  // The value a block access writes after its access record.
  Trace& size(uint64_t bytes) { return u({bytes}); }
  Trace& name(uint32_t thread, std::string_view text) { return u({thread, text.size()}).raw(text); }
  Trace& string(std::string_view text) { return u({text.size()}).raw(text); }

  const std::vector<Token>& tokens() const { return tokens_; }

  // The exact bytes; only for traces without placeholders.
  std::vector<uint8_t> bytes() const {
    std::vector<uint8_t> out;
    for (const Token& t : tokens_) {
      if (t.kind == Token::Unsigned) proctest::appendUleb(out, t.value);
      if (t.kind == Token::Signed) proctest::appendSleb(out, static_cast<int64_t>(t.value));
      if (t.kind == Token::Raw) out.insert(out.end(), t.text.begin(), t.text.end());
      EXPECT_NE(t.kind, Token::Any) << "placeholder '" << t.text << "' in an exact trace";
    }
    return out;
  }

 private:
  std::vector<Token> tokens_;
};

inline std::string hex(const std::vector<uint8_t>& bytes) {
  std::ostringstream text;
  static const char digits[] = "0123456789ABCDEF";
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i != 0) text << ' ';
    text << digits[bytes[i] >> 4] << digits[bytes[i] & 15];
  }
  return text.str();
}

// Walks actual against expected. Returns "" on a match (binding every
// placeholder in *bound), else where and how they part.
inline std::string match(const std::vector<uint8_t>& actual, const Trace& expected,
                         std::map<std::string, uint64_t>* bound = nullptr) {
  std::map<std::string, uint64_t> local;
  std::map<std::string, uint64_t>& names = bound != nullptr ? *bound : local;
  tracereader::Cursor cursor(actual);
  size_t index = 0;
  for (const Token& t : expected.tokens()) {
    std::ostringstream where;
    where << "token " << index++ << " at byte " << cursor.position() << ": ";
    if (t.kind == Token::Raw) {
      const auto got = cursor.raw(t.text.size());
      if (!got || std::string(got->begin(), got->end()) != t.text)
        return where.str() + "expected the bytes \"" + t.text + "\"";
      continue;
    }
    if (t.kind == Token::Signed) {
      const auto got = cursor.sleb();
      if (!got || *got != static_cast<int64_t>(t.value))
        return where.str() + "expected signed " + std::to_string(static_cast<int64_t>(t.value)) +
               (got ? ", got " + std::to_string(*got) : ", trace ends");
      continue;
    }
    const auto got = cursor.uleb();
    if (!got) return where.str() + "trace ends";
    if (t.kind == Token::Unsigned && *got != t.value)
      return where.str() + "expected " + std::to_string(t.value) + ", got " + std::to_string(*got);
    if (t.kind == Token::Any) {
      auto [it, fresh] = names.emplace(t.text, *got);
      if (!fresh && it->second != *got)
        return where.str() + "'" + t.text + "' was " + std::to_string(it->second) + ", now " + std::to_string(*got);
    }
  }
  if (!cursor.atEnd()) return std::to_string(cursor.remaining()) + " bytes more than expected";
  return "";
}

// Lines "<key>=<hex>" of a program's standard output.
inline std::map<std::string, uint64_t> reported(const std::string& out) {
  std::map<std::string, uint64_t> values;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0) continue;
    const std::string value = line.substr(eq + 1);
    if (value.empty() || value.find_first_not_of("0123456789abcdef") != std::string::npos) continue;
    values[line.substr(0, eq)] = std::stoull(value, nullptr, 16);
  }
  return values;
}

// Whether a line occurs in a program's output.
inline bool hasLine(const std::string& out, const std::string& line) {
  return ("\n" + out).find("\n" + line + "\n") != std::string::npos;
}

}  // namespace expect

namespace expect {

// One run of a test program with a scenario argument, in a scratch working
// directory, after its profile directory was cleared.
struct Scenario {
  proctest::RunResult result;
  std::string runDir;
  std::string cwd;
  std::map<std::string, uint64_t> at;  // the addresses the program reported
};

inline Scenario runScenario(const std::string& program, const std::string& scenario,
                            const std::function<void()>& childSetup = {}) {
  Scenario s;
  const std::string profile = proctest::profileDir(program);
  proctest::removeAll(profile);
  s.cwd = proctest::scratchDir(program + "-" + scenario);
  s.result = proctest::run(proctest::programPath(program), {scenario}, s.cwd, childSetup);
  s.runDir = proctest::latestRunDir(profile);
  s.at = reported(s.result.out);
  return s;
}

inline std::string traceFile(const std::string& runDir, uint32_t thread) {
  char name[64];
  snprintf(name, sizeof name, "/thread%04u-trace.txt", thread);
  return runDir + name;
}

// The thread's trace is complete and holds exactly the expected bytes.
inline void expectTrace(const std::string& runDir, uint32_t thread, const Trace& expected) {
  const proctest::Trace actual = proctest::readTrace(runDir, thread);
  EXPECT_TRUE(actual.complete) << "trace of thread " << thread << " is not a finished stream";
  EXPECT_EQ(hex(actual.bytes), hex(expected.bytes())) << "trace of thread " << thread;
}

}  // namespace expect
