#include "strict_json.h"

#include <stdexcept>

namespace plugintest {

namespace {

class Parser {
 public:
  explicit Parser(std::string_view text) : t_(text) {}

  JsonValue document() {
    JsonValue v = value();
    space();
    if (at_ != t_.size()) fail("text after the value");
    return v;
  }

 private:
  [[noreturn]] void fail(const std::string& why) const {
    throw std::runtime_error("JSON offset " + std::to_string(at_) + ": " + why);
  }
  void space() {
    while (at_ < t_.size() && (t_[at_] == ' ' || t_[at_] == '\n' || t_[at_] == '\t' || t_[at_] == '\r')) ++at_;
  }
  bool take(char c) {
    space();
    if (at_ < t_.size() && t_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  void expect(char c) {
    if (!take(c)) fail(std::string("expected '") + c + "'");
  }
  bool word(std::string_view w) {
    if (t_.substr(at_, w.size()) != w) return false;
    at_ += w.size();
    return true;
  }

  std::string string() {
    expect('"');
    std::string out;
    while (true) {
      if (at_ >= t_.size()) fail("unterminated string");
      const char c = t_[at_++];
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) fail("control character in a string");
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_ >= t_.size()) fail("unterminated escape");
      const char e = t_[at_++];
      switch (e) {
        case '"': case '\\': case '/': out += e; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          if (at_ + 4 > t_.size()) fail("short \\u escape");
          const unsigned cp = static_cast<unsigned>(std::stoul(std::string(t_.substr(at_, 4)), nullptr, 16));
          at_ += 4;
          if (cp < 0x80) {
            out += static_cast<char>(cp);
          } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
          } else {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
          }
          break;
        }
        default: fail("unknown escape");
      }
    }
  }

  JsonValue value() {
    space();
    JsonValue v;
    if (at_ >= t_.size()) fail("missing value");
    const char c = t_[at_];
    if (c == '{') {
      ++at_;
      v.kind = JsonValue::kObject;
      if (take('}')) return v;
      do {
        space();
        std::string key = string();
        expect(':');
        if (!v.object.emplace(key, value()).second) fail("duplicate key '" + key + "'");
      } while (take(','));
      expect('}');
    } else if (c == '[') {
      ++at_;
      v.kind = JsonValue::kArray;
      if (take(']')) return v;
      do v.array.push_back(value());
      while (take(','));
      expect(']');
    } else if (c == '"') {
      v.kind = JsonValue::kString;
      v.string = string();
    } else if (word("true") || word("false")) {
      v.kind = JsonValue::kBool;
      v.boolean = t_[at_ - 1] == 'e' && t_[at_ - 2] == 'u';
    } else if (word("null")) {
      v.kind = JsonValue::kNull;
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      const size_t start = at_;
      if (t_[at_] == '-') ++at_;
      if (at_ >= t_.size() || t_[at_] < '0' || t_[at_] > '9') fail("bad number");
      if (t_[at_] == '0' && at_ + 1 < t_.size() && t_[at_ + 1] >= '0' && t_[at_ + 1] <= '9') fail("leading zero");
      while (at_ < t_.size() && t_[at_] >= '0' && t_[at_] <= '9') ++at_;
      if (at_ < t_.size() && (t_[at_] == '.' || t_[at_] == 'e' || t_[at_] == 'E')) fail("not an integer");
      v.kind = JsonValue::kNumber;
      v.number = std::stoll(std::string(t_.substr(start, at_ - start)));
    } else {
      fail("unexpected character");
    }
    return v;
  }

  std::string_view t_;
  size_t at_ = 0;
};

}  // namespace

const JsonValue& JsonValue::operator[](const std::string& key) const {
  if (kind != kObject) throw std::runtime_error("'" + key + "' asked of a value that is not an object");
  const auto it = object.find(key);
  if (it == object.end()) throw std::runtime_error("no member '" + key + "'");
  return it->second;
}

uint64_t JsonValue::u() const {
  if (kind != kNumber || number < 0) throw std::runtime_error("not a non-negative number");
  return static_cast<uint64_t>(number);
}

JsonValue parseStrictJson(std::string_view text) { return Parser(text).document(); }

}  // namespace plugintest
