// Output helpers of proftrace: JSON string literals and printable text for
// any bytes a trace or manifest may hold, progress lines for large traces,
// and the parsing of command arguments.
#include "output.h"

#include <algorithm>

namespace proftrace {

namespace {

// Length of the valid UTF-8 sequence at s[i], or 0.
size_t utf8Length(std::string_view s, size_t i) {
  const auto b = static_cast<unsigned char>(s[i]);
  size_t n = 0;
  uint32_t cp = 0;
  if (b < 0x80) return 1;
  if ((b & 0xE0) == 0xC0) {
    n = 2;
    cp = b & 0x1F;
  } else if ((b & 0xF0) == 0xE0) {
    n = 3;
    cp = b & 0x0F;
  } else if ((b & 0xF8) == 0xF0) {
    n = 4;
    cp = b & 0x07;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    const auto c = static_cast<unsigned char>(s[i + k]);
    if ((c & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (c & 0x3F);
  }
  const bool overlong = (n == 2 && cp < 0x80) || (n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000);
  if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

}  // namespace

std::string jsonString(std::string_view s) {
  std::string out = "\"";
  char buf[8];
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
      ++i;
    } else if (c < 0x20 || c == 0x7F) {
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
      ++i;
    } else if (const size_t n = utf8Length(s, i); n > 0) {
      out.append(s.substr(i, n));
      i += n;
    } else {
      out += "\\ufffd";
      ++i;
    }
  }
  out += '"';
  return out;
}

std::string printable(std::string_view s) {
  std::string out;
  char buf[8];
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c >= 0x20 && c != 0x7F && c != '\\') {
      if (const size_t n = utf8Length(s, i); n > 0) {
        out.append(s.substr(i, n));
        i += n;
        continue;
      }
    }
    if (c == '\\') {
      out += "\\\\";
    } else {
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    }
    ++i;
  }
  return out;
}

std::string directoryOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

Progress::Progress(std::FILE* err, const std::string& path, const tracereader::TraceStream& stream)
    : err_(err), path_(path), stream_(stream), enabled_(stream.compressedSize() > kProgressThreshold) {}

void Progress::report() {
  const uint64_t total = stream_.compressedSize();
  const int tenth = static_cast<int>(std::min<uint64_t>(10, stream_.compressedOffset() * 10 / total));
  if (tenth <= lastTenth_) return;
  lastTenth_ = tenth;
  std::fprintf(err_, "proftrace: %s: %d%% read (%llu of %llu MB compressed)\n", path_.c_str(), tenth * 10,
               static_cast<unsigned long long>(stream_.compressedOffset() / 1000000),
               static_cast<unsigned long long>(total / 1000000));
}

void Progress::finish() {
  if (enabled_ && lastTenth_ < 10) {
    lastTenth_ = -1;
    report();
  }
}

Args parseArgs(int argc, const char* const* argv, const std::vector<std::string>& known) {
  Args a;
  bool onlyPositional = false;
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!onlyPositional && arg == "--") {
      onlyPositional = true;
    } else if (!onlyPositional && (arg == "--help" || arg == "-h")) {
      a.help = true;
    } else if (!onlyPositional && arg.size() > 1 && arg[0] == '-') {
      const size_t eq = arg.find('=');
      const std::string name = arg.substr(0, eq);
      if (std::find(known.begin(), known.end(), name) == known.end()) {
        if (a.bad.empty()) a.bad = arg;
        continue;
      }
      a.options.emplace_back(name, eq == std::string::npos ? "" : arg.substr(eq + 1));
    } else {
      a.positional.push_back(arg);
    }
  }
  return a;
}

}  // namespace proftrace
