#include "stream_file.h"

#include <charconv>

namespace report {

namespace {

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (size_t at; (at = text.find(separator, start)) != std::string_view::npos; start = at + 1)
    parts.push_back(text.substr(start, at - start));
  parts.push_back(text.substr(start));
  return parts;
}

template <typename T>
bool number(std::string_view text, T* out) {
  if (text.empty()) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *out);
  return error == std::errc() && end == text.data() + text.size();
}

bool threadTraffic(std::string_view field, StreamThreadTraffic* out) {
  const std::vector<std::string_view> parts = split(field, ':');
  if (parts.size() != 3) return false;
  if (parts[0] == "-")
    out->thread = kUnknownThread;
  else if (!number(parts[0], &out->thread) || out->thread == kUnknownThread)
    return false;
  return number(parts[1], &out->writes) && number(parts[2], &out->reads);
}

}  // namespace

std::vector<StreamLine> parseStreamLines(std::string_view text, std::vector<std::string>* problems) {
  std::vector<StreamLine> lines;
  size_t lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    const size_t end = text.find('\n');
    if (end == std::string_view::npos) {
      problems->push_back("streams:" + std::to_string(lineNumber) + ": the last line has no line end (cut short)");
      break;
    }
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    const std::vector<std::string_view> fields = split(line, '\t');
    StreamLine s;
    bool ok = fields.size() == 9 && number(fields[0], &s.serial) && number(fields[2], &s.elementSize) &&
              number(fields[3], &s.writes) && number(fields[4], &s.reads) && number(fields[5], &s.emptyReads) &&
              number(fields[6], &s.left) && number(fields[7], &s.highWater);
    if (ok) {
      s.name = std::string(fields[1]);
      if (!fields[8].empty()) {
        for (std::string_view part : split(fields[8], ' ')) {
          StreamThreadTraffic t;
          if (!threadTraffic(part, &t)) {
            ok = false;
            break;
          }
          s.threads.push_back(t);
        }
      }
    }
    if (!ok) {
      problems->push_back("streams:" + std::to_string(lineNumber) +
                          ": not '<serial> <name> <size> <writes> <reads> <empty reads> <left> <high water> "
                          "<thread:writes:reads...>' separated by TABs");
      continue;
    }
    lines.push_back(std::move(s));
  }
  return lines;
}

}  // namespace report
