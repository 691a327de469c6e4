// Parsing of the run directory's text files. Numbers are plain decimal with
// no sign and no blanks, as the runtime and the registration routines print
// them; anything else on a known line is reported, not guessed at.
#include "tracereader/run_directory.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <new>

namespace tracereader {

namespace {

template <typename T>
bool parseDecimal(std::string_view s, T* out) {
  if (s.empty() || s.size() > 20) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), *out);
  return ec == std::errc() && end == s.data() + s.size();
}

std::vector<std::string_view> split(std::string_view s, char sep) {
  std::vector<std::string_view> parts;
  size_t from = 0;
  for (;;) {
    const size_t at = s.find(sep, from);
    if (at == std::string_view::npos) {
      parts.push_back(s.substr(from));
      return parts;
    }
    parts.push_back(s.substr(from, at - from));
    from = at + 1;
  }
}

// Calls f(line number, line) for every line; a last line without a line
// end counts too (a process that died mid-write leaves one).
template <typename F>
void forEachLine(std::string_view text, F f) {
  size_t number = 0;
  while (!text.empty()) {
    ++number;
    const size_t nl = text.find('\n');
    f(number, text.substr(0, nl));
    if (nl == std::string_view::npos) break;
    text.remove_prefix(nl + 1);
  }
}

std::string where(const char* file, size_t line) { return std::string(file) + ":" + std::to_string(line) + ": "; }

enum class FileRead { kOk, kMissing, kFailed };

FileRead readSmallFile(const std::string& path, size_t maxBytes, std::string* out, std::string* why) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    if (errno == ENOENT) return FileRead::kMissing;
    *why = std::strerror(errno);
    return FileRead::kFailed;
  }
  struct stat st {};
  if (fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::fclose(f);
    *why = "is a directory";
    return FileRead::kFailed;
  }
  char buf[65536];
  size_t n;
  bool tooLarge = false;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
    if (out->size() + n > maxBytes) {
      tooLarge = true;
      break;
    }
    out->append(buf, n);
  }
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (tooLarge) {
    *why = "larger than " + std::to_string(maxBytes) + " bytes, not read";
    return FileRead::kFailed;
  }
  if (failed) {
    *why = "read error";
    return FileRead::kFailed;
  }
  return FileRead::kOk;
}

std::vector<std::string> lines(std::string_view text) {
  std::vector<std::string> out;
  forEachLine(text, [&](size_t, std::string_view line) { out.emplace_back(line); });
  return out;
}

}  // namespace

std::optional<std::vector<std::string>> parseCommandline(std::string_view text, std::string* why) {
  std::vector<std::string> args;
  size_t i = 0;
  while (i < text.size()) {
    if (!args.empty()) {
      if (text[i] != ' ') {
        *why = "expected a blank between arguments at byte " + std::to_string(i);
        return std::nullopt;
      }
      ++i;
    }
    if (i >= text.size() || text[i] != '"') {
      *why = "expected a double quote at byte " + std::to_string(i);
      return std::nullopt;
    }
    ++i;
    std::string arg;
    bool closed = false;
    while (i < text.size()) {
      const char c = text[i++];
      if (c == '"') {
        closed = true;
        break;
      }
      if (c == '\\') {
        if (i >= text.size() || (text[i] != '\\' && text[i] != '"')) {
          *why = "a backslash that escapes neither a backslash nor a double quote at byte " + std::to_string(i - 1);
          return std::nullopt;
        }
        arg.push_back(text[i++]);
        continue;
      }
      arg.push_back(c);
    }
    if (!closed) {
      *why = "the last argument has no closing double quote";
      return std::nullopt;
    }
    args.push_back(std::move(arg));
  }
  return args;
}

std::vector<FunctionMapping> parseFunctionMapping(std::string_view text, std::vector<std::string>* problems) {
  std::vector<FunctionMapping> out;
  forEachLine(text, [&](size_t number, std::string_view line) {
    const auto f = split(line, ' ');
    FunctionMapping m;
    if (f.size() != 3 || f[1].empty() || !parseDecimal(f[0], &m.staticId) || !parseDecimal(f[2], &m.linkedId)) {
      problems->push_back(where("functionMapping", number) + "not \"<static id> <binary> <linked id>\"");
      return;
    }
    m.binary = std::string(f[1]);
    out.push_back(std::move(m));
  });
  return out;
}

NameLines parseNameLines(std::string_view text, std::vector<std::string>* problems) {
  NameLines out;
  forEachLine(text, [&](size_t number, std::string_view line) {
    const auto f = split(line, '\t');
    const std::string_view kind = f[0];
    const auto bad = [&](const char* form) {
      problems->push_back(where("globalVariableMapping", number) + "malformed " + std::string(kind) + " line (" +
                          form + ")");
    };
    if (kind == "function") {
      FunctionName n;
      if (f.size() != 4 || f[1].empty() || !parseDecimal(f[2], &n.staticId)) return bad("binary, static id, name");
      n.binary = std::string(f[1]);
      n.name = std::string(f[3]);
      out.functions.push_back(std::move(n));
    } else if (kind == "global" || kind == "threadlocal") {
      VariableName v;
      v.threadLocal = kind == "threadlocal";
      if (f.size() != 7 || f[1].empty() || !parseDecimal(f[2], &v.id) || !parseDecimal(f[4], &v.size) ||
          !parseDecimal(f[6], &v.line))
        return bad("binary, id, name, size, source file, line");
      v.binary = std::string(f[1]);
      v.name = std::string(f[3]);
      v.sourceFile = std::string(f[5]);
      out.variables.push_back(std::move(v));
    } else if (kind == "local") {
      LocalName l;
      if (f.size() != 6 || f[1].empty() || !parseDecimal(f[2], &l.functionStaticId) || !parseDecimal(f[3], &l.id) ||
          !parseDecimal(f[5], &l.size))
        return bad("binary, function static id, id, name, size");
      l.binary = std::string(f[1]);
      l.name = std::string(f[4]);
      out.locals.push_back(std::move(l));
    } else {
      ++out.ignoredLines;  // a kind written by a newer writer
    }
  });
  return out;
}

std::optional<uint32_t> traceFileThread(std::string_view name) {
  constexpr std::string_view kPrefix = "thread";
  constexpr std::string_view kSuffix = "-trace.txt";
  if (name.size() <= kPrefix.size() + kSuffix.size() || !name.starts_with(kPrefix) || !name.ends_with(kSuffix))
    return std::nullopt;
  const std::string_view digits = name.substr(kPrefix.size(), name.size() - kPrefix.size() - kSuffix.size());
  uint32_t n = 0;
  if (digits.size() < 4 || !parseDecimal(digits, &n)) return std::nullopt;
  return n;
}

RunDirectory readRunDirectory(const std::string& path, size_t maxFileBytes) {
  RunDirectory run;
  try {
    run.path = path;
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) {
      run.problems.push_back(path + ": " + std::strerror(errno));
      return run;
    }
    while (const dirent* e = readdir(dir)) {
      const auto thread = traceFileThread(e->d_name);
      if (!thread) continue;
      ThreadTrace t;
      t.thread = *thread;
      t.path = path + "/" + e->d_name;
      struct stat st {};
      if (stat(t.path.c_str(), &st) == 0) t.compressedSize = static_cast<uint64_t>(st.st_size);
      run.traces.push_back(std::move(t));
    }
    closedir(dir);
    std::sort(run.traces.begin(), run.traces.end(),
              [](const ThreadTrace& a, const ThreadTrace& b) { return a.thread < b.thread; });

    bool anyManifest = false;
    const auto read = [&](const char* name, std::string* text) {
      std::string why;
      switch (readSmallFile(path + "/" + name, maxFileBytes, text, &why)) {
        case FileRead::kOk: anyManifest = true; return true;
        case FileRead::kMissing: run.problems.push_back(std::string(name) + ": missing"); return false;
        case FileRead::kFailed: run.problems.push_back(std::string(name) + ": " + why); return false;
      }
      return false;
    };
    std::string text;
    if (read("workingDirectory", &text)) run.workingDirectory = text;
    text.clear();
    if (read("commandline", &text)) {
      run.commandlineText = text;
      std::string why;
      if (auto args = parseCommandline(text, &why)) {
        run.arguments = std::move(*args);
      } else {
        run.problems.push_back("commandline: " + why);
      }
    }
    text.clear();
    if (read("binaries", &text)) run.binaries = lines(text);
    text.clear();
    if (read("lookupOrder", &text)) run.lookupOrder = lines(text);
    text.clear();
    if (read("functionMapping", &text)) run.functionMapping = parseFunctionMapping(text, &run.problems);
    text.clear();
    if (read("globalVariableMapping", &text)) {
      run.hasNameFile = true;
      run.names = parseNameLines(text, &run.problems);
    }
    run.crash = readCrashFile(path);
    run.isRunDirectory = anyManifest || !run.traces.empty();
  } catch (const std::bad_alloc&) {
    run.problems.push_back(path + ": out of memory while reading the run directory");
  }
  return run;
}

NameIndex::NameIndex(const RunDirectory& run) {
  try {
    for (const FunctionMapping& m : run.functionMapping) {
      linked_.emplace(m.linkedId, std::make_pair(m.binary, m.staticId));  // the first registration wins
      staticIds_.emplace(m.staticId, 0);
    }
    std::map<std::pair<std::string, uint32_t>, std::string> byStatic;
    for (const FunctionName& f : run.names.functions) byStatic.emplace(std::make_pair(f.binary, f.staticId), f.name);
    for (const auto& [linked, where] : linked_) {
      auto it = byStatic.find(where);
      if (it != byStatic.end()) functionNames_.emplace(linked, it->second);
    }
    for (const FunctionMapping& m : run.functionMapping) {
      auto it = byStatic.find(std::make_pair(m.binary, m.staticId));
      auto first = functionNames_.find(m.linkedId);
      if (it == byStatic.end() || first == functionNames_.end() || it->second == first->second) continue;
      std::vector<std::string>& names = aliases_[m.linkedId];
      if (std::find(names.begin(), names.end(), it->second) == names.end()) names.push_back(it->second);
    }
    std::map<uint32_t, bool> clash;
    for (const VariableName& v : run.names.variables) {
      variableIds_.emplace(v.id, 0);
      auto [it, fresh] = variableNames_.emplace(v.id, v.name);
      if (!fresh && it->second != v.name) clash[v.id] = true;
    }
    for (const auto& [id, _] : clash) variableNames_.erase(id);
    std::multimap<std::pair<std::string, uint32_t>, uint32_t> linkedOf;
    for (const FunctionMapping& m : run.functionMapping) linkedOf.emplace(std::make_pair(m.binary, m.staticId), m.linkedId);
    for (const LocalName& l : run.names.locals) {
      const auto [from, to] = linkedOf.equal_range(std::make_pair(l.binary, l.functionStaticId));
      for (auto it = from; it != to; ++it) localNames_.emplace(std::make_pair(it->second, l.id), l.name);
    }
  } catch (const std::bad_alloc&) {
    // Names are a help for reading labels; without memory for them the
    // labels carry ids only.
  }
}

bool NameIndex::isLinkedId(uint64_t id) const { return id <= UINT32_MAX && linked_.count(static_cast<uint32_t>(id)) != 0; }

bool NameIndex::isStaticId(uint64_t id) const {
  return id <= UINT32_MAX && staticIds_.count(static_cast<uint32_t>(id)) != 0;
}

std::string_view NameIndex::functionName(uint64_t id) const {
  if (id > UINT32_MAX) return {};
  auto it = functionNames_.find(static_cast<uint32_t>(id));
  return it == functionNames_.end() ? std::string_view{} : std::string_view(it->second);
}

std::string_view NameIndex::variableName(uint64_t id) const {
  if (id > UINT32_MAX) return {};
  auto it = variableNames_.find(static_cast<uint32_t>(id));
  return it == variableNames_.end() ? std::string_view{} : std::string_view(it->second);
}

std::string_view NameIndex::localName(uint64_t linkedId, uint64_t id) const {
  if (linkedId > UINT32_MAX || id > UINT32_MAX) return {};
  auto it = localNames_.find({static_cast<uint32_t>(linkedId), static_cast<uint32_t>(id)});
  return it == localNames_.end() ? std::string_view{} : std::string_view(it->second);
}

bool NameIndex::isVariable(uint64_t id) const {
  return id <= UINT32_MAX && variableIds_.count(static_cast<uint32_t>(id)) != 0;
}

bool NameIndex::isLocalOf(uint64_t linkedId, uint64_t id) const {
  return linkedId <= UINT32_MAX && id <= UINT32_MAX &&
         localNames_.count({static_cast<uint32_t>(linkedId), static_cast<uint32_t>(id)}) != 0;
}

std::vector<std::string_view> NameIndex::sameAddressNames(uint64_t linkedId) const {
  std::vector<std::string_view> out;
  if (linkedId > UINT32_MAX) return out;
  auto it = aliases_.find(static_cast<uint32_t>(linkedId));
  if (it != aliases_.end())
    for (const std::string& n : it->second) out.emplace_back(n);
  return out;
}

}  // namespace tracereader
