// Parsing of the crash file. Numbers have exactly the forms the handler
// writes (plain decimal, a minus sign only for the code, 0x and sixteen
// lower-case hexadecimal digits for addresses); anything else is reported,
// not guessed at.
#include "tracereader/crash_file.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <set>

namespace tracereader {

namespace {

bool decimal(std::string_view s, uint64_t* out) {
  if (s.empty() || s.size() > 20) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), *out);
  return ec == std::errc() && end == s.data() + s.size();
}

bool decimal32(std::string_view s, uint32_t* out) {
  uint64_t v = 0;
  if (!decimal(s, &v) || v > UINT32_MAX) return false;
  *out = static_cast<uint32_t>(v);
  return true;
}

bool hex(std::string_view s, uint64_t* out) {
  if (s.size() != 18 || s.substr(0, 2) != "0x") return false;
  uint64_t v = 0;
  for (char c : s.substr(2)) {
    if (c >= '0' && c <= '9') {
      v = v << 4 | static_cast<uint64_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      v = v << 4 | static_cast<uint64_t>(c - 'a' + 10);
    } else {
      return false;
    }
  }
  *out = v;
  return true;
}

// "<number> <name>" with a name of letters, digits and underscores, or "?".
bool numberAndName(std::string_view s, bool isSigned, int64_t* number, std::string* name) {
  const size_t blank = s.find(' ');
  if (blank == std::string_view::npos) return false;
  std::string_view digits = s.substr(0, blank);
  const bool negative = isSigned && !digits.empty() && digits[0] == '-';
  if (negative) digits.remove_prefix(1);
  uint64_t magnitude = 0;
  if (!decimal(digits, &magnitude) || magnitude > (negative ? uint64_t{1} << 31 : (uint64_t{1} << 31) - 1)) return false;
  const std::string_view n = s.substr(blank + 1);
  if (n.empty()) return false;
  for (char c : n)
    if (!(c == '_' || c == '?' || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
  *number = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  *name = std::string(n);
  return true;
}

std::vector<std::string_view> words(std::string_view s) {
  std::vector<std::string_view> out;
  size_t from = 0;
  for (;;) {
    const size_t at = s.find(' ', from);
    out.push_back(s.substr(from, at == std::string_view::npos ? std::string_view::npos : at - from));
    if (at == std::string_view::npos) return out;
    from = at + 1;
  }
}

// "+<offset>"
bool plus(std::string_view s, uint64_t* out) { return s.size() > 1 && s[0] == '+' && decimal(s.substr(1), out); }

bool parseLocation(std::string_view value, bool within, CrashLocation* l) {
  const auto w = words(value);
  l->within = within;
  if (within && w.size() == 1 && (w[0] == "stack" || w[0] == "none")) {
    l->kind = w[0] == "stack" ? CrashLocation::kStack : CrashLocation::kNone;
    return true;
  }
  if (within && w.size() == 5 && w[0] == "local") {
    l->kind = CrashLocation::kLocal;
    return decimal(w[1], &l->function) && decimal(w[2], &l->variable) && w[3].size() > 1 && w[3][0] == '@' &&
           decimal(w[3].substr(1), &l->frame) && plus(w[4], &l->offset);
  }
  const size_t n = within ? 3 : 5;
  if (w.size() != n || (w[0] != "global" && w[0] != "heap")) return false;
  if (!within && (w[3] != "past-end" || !decimal(w[4], &l->pastEnd))) return false;
  l->kind = w[0] == "heap" ? CrashLocation::kHeap : CrashLocation::kGlobal;
  std::string_view id = w[1];
  if (l->kind == CrashLocation::kHeap) {
    if (id.empty() || id[0] != '#') return false;
    id.remove_prefix(1);
  }
  return decimal(id, &l->variable) && plus(w[2], &l->offset);
}

bool parseStack(std::string_view value, std::vector<uint64_t>* ids) {
  if (value.empty()) return true;  // no frame open
  for (std::string_view w : words(value)) {
    uint64_t id = 0;
    if (!decimal(w, &id)) return false;
    ids->push_back(id);
  }
  return true;
}

// "trace <t>", "stack <t>", "depth <t>": the per-thread keys.
bool threadKey(std::string_view key, std::string_view* kind, uint32_t* thread) {
  const size_t blank = key.find(' ');
  if (blank == std::string_view::npos) return false;
  *kind = key.substr(0, blank);
  return (*kind == "trace" || *kind == "stack" || *kind == "depth") && decimal32(key.substr(blank + 1), thread);
}

}  // namespace

const char* crashTraceName(CrashTrace trace) {
  switch (trace) {
    case CrashTrace::kFinished: return "finished";
    case CrashTrace::kFinishedCutRecord: return "finished-cut-record";
    case CrashTrace::kClosed: return "closed";
    case CrashTrace::kUnfinished: return "unfinished";
  }
  return "?";
}

const CrashThread* CrashRecord::find(uint32_t t) const {
  for (const CrashThread& c : threads)
    if (c.thread == t) return &c;
  return nullptr;
}

std::string CrashRecord::signalText() const {
  const bool named = !signalName.empty() && signalName != "?";
  std::string text = named ? signalName + " (signal " + std::to_string(signal) + ", " : "signal " + std::to_string(signal) + " (";
  text += "code " + std::to_string(code);
  if (!codeName.empty() && codeName != "?") text += " " + codeName;
  return text + ")";
}

CrashRecord parseCrashFile(std::string_view text) {
  CrashRecord c;
  // A text as long as the writer's buffer was cut there, perhaps inside its
  // last line; a shorter one that does not end with a line end was not
  // written whole.
  c.cut = text.size() >= kCrashFileCap;
  const size_t lastEnd = text.rfind('\n');
  const std::string_view tail = lastEnd == std::string_view::npos ? text : text.substr(lastEnd + 1);
  if (!tail.empty() && !c.cut) c.problems.push_back("crash: the last line has no line end");
  text = lastEnd == std::string_view::npos ? std::string_view{} : text.substr(0, lastEnd + 1);

  std::set<std::string, std::less<>> seen;
  bool haveSignal = false, haveCode = false, haveThread = false;
  size_t number = 0;
  while (!text.empty()) {
    ++number;
    const size_t nl = text.find('\n');
    const std::string_view line = text.substr(0, nl);
    text.remove_prefix(nl + 1);
    const auto bad = [&](const std::string& why) {
      c.problems.push_back("crash:" + std::to_string(number) + ": " + why);
    };
    size_t colon = line.find(": ");
    std::string_view key, value;
    if (colon != std::string_view::npos) {
      key = line.substr(0, colon);
      value = line.substr(colon + 2);
    } else if (!line.empty() && line.back() == ':') {
      key = line.substr(0, line.size() - 1);  // a stack with no frame: "stack <t>:"
    } else {
      bad("not \"key: value\"");
      continue;
    }
    if (number == 1 && key != "crash") bad("the file does not begin with its version line \"crash: 1\"");
    std::string_view threadKind;
    uint32_t thread = 0;
    if (threadKey(key, &threadKind, &thread)) {
      if (threadKind == "trace") {
        if (!c.threads.empty() && c.threads.back().thread >= thread) {
          bad("thread " + std::to_string(thread) + " is not after thread " + std::to_string(c.threads.back().thread));
          continue;
        }
        CrashThread t;
        t.thread = thread;
        for (CrashTrace k : {CrashTrace::kFinished, CrashTrace::kFinishedCutRecord, CrashTrace::kClosed,
                             CrashTrace::kUnfinished})
          if (value == crashTraceName(k)) t.trace = k;
        if (!t.trace) bad("unknown trace outcome \"" + std::string(value) + "\"");
        c.threads.push_back(std::move(t));
        continue;
      }
      if (c.threads.empty() || c.threads.back().thread != thread) {
        bad(std::string(key) + " outside the group of thread " + std::to_string(thread));
        continue;
      }
      CrashThread& t = c.threads.back();
      if (threadKind == "stack") {
        if (t.hasStack) bad("a second " + std::string(key));
        t.hasStack = true;
        t.stack.clear();
        if (!parseStack(value, &t.stack) || t.stack.size() > 256) bad("not at most 256 function ids");
      } else {
        if (t.hasDepth) bad("a second " + std::string(key));
        t.hasDepth = decimal(value, &t.depth);
        if (!t.hasDepth) bad("the depth is not a number");
        else if (t.hasStack && t.depth < t.stack.size()) bad("a depth smaller than the ids listed");
      }
      continue;
    }
    if (!seen.emplace(key).second) {
      bad("a second \"" + std::string(key) + "\" line");
      continue;
    }
    bool ok = true;
    if (key == "crash") {
      ok = decimal(value, &c.version);
      if (ok && c.version != 1) bad("layout version " + std::string(value) + ", which this reader does not know");
    } else if (key == "signal") {
      int64_t n = 0;
      ok = haveSignal = numberAndName(value, false, &n, &c.signalName) && n > 0 && n < 65;
      c.signal = static_cast<int>(n);
    } else if (key == "code") {
      ok = haveCode = numberAndName(value, true, &c.code, &c.codeName);
    } else if (key == "sender") {
      uint64_t pid = 0;
      ok = decimal(value, &pid);
      if (ok) c.sender = pid;
    } else if (key == "thread") {
      uint32_t t = 0;
      ok = haveThread = value == "none" || decimal32(value, &t);
      if (ok && value != "none") c.thread = t;
    } else if (key == "address" || key == "stack-pointer" || key == "instruction") {
      uint64_t a = 0;
      ok = hex(value, &a);
      if (ok) (key == "address" ? c.address : key == "instruction" ? c.instruction : c.stackPointer) = a;
    } else if (key == "variable" || key == "below") {
      CrashLocation l;
      ok = !c.location && parseLocation(value, key == "variable", &l);
      if (ok) c.location = l;
    }
    // Other keys come from a newer writer and are skipped.
    if (!ok) bad("malformed \"" + std::string(key) + "\" line");
  }
  if (c.version == 0 && seen.count("crash") == 0) c.problems.push_back("crash: no version line \"crash: 1\"");
  if (!haveSignal && !c.cut) c.problems.push_back("crash: no valid signal line");
  if (!haveCode && !c.cut) c.problems.push_back("crash: no valid code line");
  if (!haveThread && !c.cut) c.problems.push_back("crash: no valid thread line");
  for (size_t i = 0; i < c.threads.size(); ++i) {
    const CrashThread& t = c.threads[i];
    if (c.cut && i + 1 == c.threads.size()) break;  // its group may be what was cut
    if (!t.hasStack || !t.hasDepth)
      c.problems.push_back("crash: thread " + std::to_string(t.thread) + " has no " + (t.hasStack ? "depth" : "stack") +
                           " line");
  }
  return c;
}

std::optional<CrashRecord> readCrashFile(const std::string& runDir) {
  const std::string path = runDir + "/crash";
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    if (errno == ENOENT) return std::nullopt;
    CrashRecord c;
    c.problems.push_back(std::string("crash: ") + std::strerror(errno));
    return c;
  }
  // Never more than the writer's buffer; a longer file is not its work.
  std::string text;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0 && text.size() <= kCrashFileCap) text.append(buf, n);
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed || text.size() > kCrashFileCap) {
    CrashRecord c;
    c.problems.push_back(failed ? "crash: read error"
                                : "crash: larger than " + std::to_string(kCrashFileCap) + " bytes, not read");
    return c;
  }
  return parseCrashFile(text);
}

}  // namespace tracereader
