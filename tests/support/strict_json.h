// A strict JSON reader for the tests of JSON output: the text must be
// exactly one JSON value (RFC 8259), blanks around it allowed, and no
// object may repeat a key (common parsers keep the last of two equal keys
// and silently lose the first, which is how a field of proftrace's output
// once went missing unnoticed). Header-only, for the process, plugin and
// fuzz tests.
//
// parse() gives the document as values and throws std::runtime_error with
// the offset and the reason; check() only says whether the text is valid.
#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace strictjson {

struct JsonValue {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
  bool boolean = false;
  std::string number;  // the number's text, as written
  std::string string;
  std::vector<JsonValue> array;
  std::map<std::string, JsonValue> object;

  // The member (throws when absent or not an object).
  const JsonValue& operator[](const std::string& key) const {
    if (kind != kObject) throw std::runtime_error("'" + key + "' asked of a value that is not an object");
    const auto it = object.find(key);
    if (it == object.end()) throw std::runtime_error("no member '" + key + "'");
    return it->second;
  }
  // A non-negative integer up to 2^64 - 1 (throws otherwise).
  [[nodiscard]] uint64_t u() const {
    if (kind != kNumber || number.empty() || number.find_first_not_of("0123456789") != std::string::npos)
      throw std::runtime_error("not a non-negative integer: '" + number + "'");
    size_t used = 0;
    const unsigned long long v = std::stoull(number, &used);  // throws beyond 2^64 - 1
    return static_cast<uint64_t>(v);
  }
  // An integer from -2^63 to 2^63 - 1 (throws otherwise).
  [[nodiscard]] int64_t i() const {
    if (kind != kNumber || number.find_first_of(".eE") != std::string::npos)
      throw std::runtime_error("not an integer: '" + number + "'");
    return std::stoll(number);  // throws out of range
  }
  [[nodiscard]] bool has(const std::string& key) const { return kind == kObject && object.count(key) != 0; }
};

namespace detail {

class Parser {
 public:
  explicit Parser(std::string_view text) : s_(text) {}

  JsonValue document() {
    JsonValue v = value(0);
    if (pos_ != s_.size()) fail("text after the document");
    return v;
  }

 private:
  [[noreturn]] void fail(const std::string& why) const {
    throw std::runtime_error("at " + std::to_string(pos_) + ": " + why);
  }
  bool at(char c) const { return pos_ < s_.size() && s_[pos_] == c; }
  void blanks() {
    while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r')) ++pos_;
  }
  void literal(std::string_view word) {
    if (s_.substr(pos_, word.size()) != word) fail("bad literal");
    pos_ += word.size();
  }
  static bool isHex(char c) { return std::string_view("0123456789abcdefABCDEF").find(c) != std::string_view::npos; }
  static void putUtf8(std::string* out, unsigned cp) {
    if (cp < 0x80) {
      out->push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }

  std::string string() {
    if (!at('"')) fail("a string expected");
    ++pos_;
    std::string out;
    for (;;) {
      if (pos_ >= s_.size()) fail("unterminated string");
      const char c = s_[pos_++];
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) fail("a control character in a string");
      if (c != '\\') {
        out.push_back(c);
        continue;
      }
      if (pos_ >= s_.size()) fail("string ends in an escape");
      const char e = s_[pos_++];
      switch (e) {
        case '"': case '\\': case '/': out.push_back(e); break;
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        case 'n': out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        case 'u': {
          for (size_t i = 0; i < 4; ++i)
            if (pos_ + i >= s_.size() || !isHex(s_[pos_ + i])) fail("bad \\u escape");
          putUtf8(&out, static_cast<unsigned>(std::stoul(std::string(s_.substr(pos_, 4)), nullptr, 16)));
          pos_ += 4;
          break;
        }
        default: fail("bad escape");
      }
    }
  }

  std::string number() {
    const size_t start = pos_;
    if (at('-')) ++pos_;
    const auto digits = [&] {
      const size_t from = pos_;
      while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') ++pos_;
      return pos_ - from;
    };
    const size_t first = pos_;
    if (digits() == 0) fail("a value expected");
    if (s_[first] == '0' && pos_ - first > 1) fail("a number with a leading zero");
    if (at('.')) {
      ++pos_;
      if (digits() == 0) fail("bad fraction");
    }
    if (at('e') || at('E')) {
      ++pos_;
      if (at('+') || at('-')) ++pos_;
      if (digits() == 0) fail("bad exponent");
    }
    return std::string(s_.substr(start, pos_ - start));
  }

  JsonValue value(int depth) {
    if (depth > 64) fail("nested too deeply");
    blanks();
    if (pos_ >= s_.size()) fail("a value expected");
    JsonValue v;
    switch (s_[pos_]) {
      case '{': v.kind = JsonValue::kObject; object(depth, &v); break;
      case '[': v.kind = JsonValue::kArray; array(depth, &v); break;
      case '"': v.kind = JsonValue::kString; v.string = string(); break;
      case 't': v.kind = JsonValue::kBool; literal("true"); v.boolean = true; break;
      case 'f': v.kind = JsonValue::kBool; literal("false"); break;
      case 'n': literal("null"); break;
      default: v.kind = JsonValue::kNumber; v.number = number(); break;
    }
    blanks();
    return v;
  }
  void object(int depth, JsonValue* v) {
    ++pos_;
    blanks();
    if (at('}')) return void(++pos_);
    for (;;) {
      blanks();
      std::string key = string();
      blanks();
      if (!at(':')) fail("':' expected");
      ++pos_;
      JsonValue member = value(depth + 1);
      if (!v->object.emplace(key, std::move(member)).second) fail("key \"" + key + "\" twice in one object");
      if (at(',')) {
        ++pos_;
        continue;
      }
      if (at('}')) return void(++pos_);
      fail("',' or '}' expected");
    }
  }
  void array(int depth, JsonValue* v) {
    ++pos_;
    blanks();
    if (at(']')) return void(++pos_);
    for (;;) {
      v->array.push_back(value(depth + 1));
      if (at(',')) {
        ++pos_;
        continue;
      }
      if (at(']')) return void(++pos_);
      fail("',' or ']' expected");
    }
  }

  std::string_view s_;
  size_t pos_ = 0;
};

}  // namespace detail

// The document as values; throws std::runtime_error where it is not one
// strict JSON document.
inline JsonValue parse(std::string_view text) { return detail::Parser(text).document(); }

// "" when the text is one strict JSON document, else where and why not.
inline std::string check(std::string_view text) {
  try {
    parse(text);
    return "";
  } catch (const std::exception& e) {
    return e.what();
  }
}

}  // namespace strictjson
