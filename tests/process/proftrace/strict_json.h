// A strict JSON checker for the tests of proftrace's --json output: the
// text must be exactly one JSON value (RFC 8259) followed by at most a line
// end, and no object may repeat a key (common parsers keep the last of two
// equal keys and silently lose the first). Header-only, for the process and
// the plugin tests.
#pragma once

#include <set>
#include <string>
#include <string_view>

namespace strictjson {

class Checker {
 public:
  explicit Checker(std::string_view text) : s_(text) {}

  // "" when the text is valid, else the offset and the reason.
  std::string run() {
    if (!value(0)) return error_;
    if (pos_ < s_.size() && s_[pos_] == '\n') ++pos_;
    if (pos_ != s_.size()) {
      fail("text after the document");
      return error_;
    }
    return "";
  }

 private:
  bool fail(const std::string& why) {
    if (error_.empty()) error_ = "at " + std::to_string(pos_) + ": " + why;
    return false;
  }
  void blanks() {
    while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r')) ++pos_;
  }
  bool literal(std::string_view word) {
    if (s_.substr(pos_, word.size()) != word) return fail("bad literal");
    pos_ += word.size();
    return true;
  }
  bool string(std::string* out) {
    if (pos_ >= s_.size() || s_[pos_] != '"') return fail("a string expected");
    ++pos_;
    while (pos_ < s_.size() && s_[pos_] != '"') {
      const auto c = static_cast<unsigned char>(s_[pos_]);
      if (c < 0x20) return fail("a control character in a string");
      if (c == '\\') {
        if (++pos_ >= s_.size()) return fail("string ends in an escape");
        const char e = s_[pos_];
        if (e == 'u') {
          for (int i = 1; i <= 4; ++i)
            if (pos_ + i >= s_.size() || std::string_view("0123456789abcdefABCDEF").find(s_[pos_ + i]) == std::string_view::npos)
              return fail("bad \\u escape");
          pos_ += 4;
        } else if (std::string_view("\"\\/bfnrt").find(e) == std::string_view::npos) {
          return fail("bad escape");
        }
      }
      if (out != nullptr) out->push_back(s_[pos_]);
      ++pos_;
    }
    if (pos_ >= s_.size()) return fail("unterminated string");
    ++pos_;
    return true;
  }
  bool number() {
    const size_t start = pos_;
    if (pos_ < s_.size() && s_[pos_] == '-') ++pos_;
    const auto digits = [&] {
      const size_t from = pos_;
      while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') ++pos_;
      return pos_ - from;
    };
    const size_t first = pos_;
    if (digits() == 0) return fail("a value expected");
    if (s_[first] == '0' && pos_ - first > 1) return fail("a number with a leading zero");
    if (pos_ < s_.size() && s_[pos_] == '.' && (++pos_, digits() == 0)) return fail("bad fraction");
    if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
      ++pos_;
      if (pos_ < s_.size() && (s_[pos_] == '+' || s_[pos_] == '-')) ++pos_;
      if (digits() == 0) return fail("bad exponent");
    }
    return pos_ > start;
  }
  bool value(int depth) {
    if (depth > 64) return fail("nested too deeply");
    blanks();
    if (pos_ >= s_.size()) return fail("a value expected");
    bool ok = false;
    switch (s_[pos_]) {
      case '{': ok = object(depth); break;
      case '[': ok = array(depth); break;
      case '"': ok = string(nullptr); break;
      case 't': ok = literal("true"); break;
      case 'f': ok = literal("false"); break;
      case 'n': ok = literal("null"); break;
      default: ok = number(); break;
    }
    blanks();
    return ok;
  }
  bool object(int depth) {
    ++pos_;
    blanks();
    std::set<std::string> keys;
    if (pos_ < s_.size() && s_[pos_] == '}') return ++pos_, true;
    for (;;) {
      blanks();
      std::string key;
      if (!string(&key)) return false;
      if (!keys.insert(key).second) return fail("key \"" + key + "\" twice in one object");
      blanks();
      if (pos_ >= s_.size() || s_[pos_] != ':') return fail("':' expected");
      ++pos_;
      if (!value(depth + 1)) return false;
      if (pos_ < s_.size() && s_[pos_] == ',') {
        ++pos_;
        continue;
      }
      if (pos_ < s_.size() && s_[pos_] == '}') return ++pos_, true;
      return fail("',' or '}' expected");
    }
  }
  bool array(int depth) {
    ++pos_;
    blanks();
    if (pos_ < s_.size() && s_[pos_] == ']') return ++pos_, true;
    for (;;) {
      if (!value(depth + 1)) return false;
      if (pos_ < s_.size() && s_[pos_] == ',') {
        ++pos_;
        continue;
      }
      if (pos_ < s_.size() && s_[pos_] == ']') return ++pos_, true;
      return fail("',' or ']' expected");
    }
  }

  std::string_view s_;
  size_t pos_ = 0;
  std::string error_;
};

// "" when text is one strict JSON document, else where and why not.
inline std::string check(std::string_view text) { return Checker(text).run(); }

}  // namespace strictjson
