// A strict JSON reader for tests of JSON output: the whole text must be one
// value, objects must not repeat a key, numbers are integers (what the
// documents under test hold). Throws std::runtime_error with the offset on
// anything else.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace plugintest {

struct JsonValue {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
  bool boolean = false;
  int64_t number = 0;
  std::string string;
  std::vector<JsonValue> array;
  std::map<std::string, JsonValue> object;

  // The member (throws when absent or not an object).
  const JsonValue& operator[](const std::string& key) const;
  [[nodiscard]] uint64_t u() const;  // a non-negative number (throws otherwise)
  [[nodiscard]] bool has(const std::string& key) const { return kind == kObject && object.count(key) != 0; }
};

JsonValue parseStrictJson(std::string_view text);

}  // namespace plugintest
