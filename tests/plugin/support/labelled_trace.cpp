#include "labelled_trace.h"

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

#include "tracereader/tracereader.h"

namespace plugintest {

namespace {

std::vector<std::string> splitTabs(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

uint32_t number(const std::string& text) { return static_cast<uint32_t>(std::stoul(text)); }

// Library functions inside whose call a 6 starts an allocation record.
const std::set<std::string>& allocationFunctions() {
  static const std::set<std::string> names = {
      "malloc",   "calloc",       "realloc",  "reallocarray", "valloc",   "pvalloc",       "memalign",
      "posix_memalign", "aligned_alloc", "strdup", "strndup", "mmap", "mmap64", "sem_open",
      "operator new", "operator new[]", "_Znwm", "_Znam", "xmalloc", "tpk_alloc"};
  return names;
}

// Library functions whose access records are followed by a byte count. The
// thread-creation and stream wrappers report their blocks the same way.
const std::set<std::string>& blockFunctions() {
  static const std::set<std::string> names = {"memcpy", "memmove", "memset", "fread", "fwrite",
                                              "pthread_create", "nuq_hls_stream_blocking_write",
                                              "nuq_hls_stream_blocking_read"};
  return names;
}

}  // namespace

RunNames readRunNames(const std::string& runDir) {
  RunNames names;
  std::map<uint32_t, uint32_t> linkedToStatic;
  {
    std::ifstream mapping(runDir + "/functionMapping");
    uint32_t staticId = 0, linkedId = 0;
    std::string binary;
    while (mapping >> staticId >> binary >> linkedId)
      if (binary == "app_0") linkedToStatic[linkedId] = staticId;
  }
  std::ifstream lines(runDir + "/globalVariableMapping");
  std::string line;
  std::vector<std::vector<std::string>> locals;
  while (std::getline(lines, line)) {
    const std::vector<std::string> f = splitTabs(line);
    try {
      if (f[0] == "function" && f.size() == 4) {
        if (f[1] == "app_0") names.staticFunction[number(f[2])] = f[3];
      } else if ((f[0] == "global" || f[0] == "threadlocal") && f.size() == 7) {
        names.variable[number(f[2])] = f[3];
        names.variableKind[number(f[2])] = f[0];
      } else if (f[0] == "local" && f.size() == 6) {
        locals.push_back(f);
      } else if (f[0] == "function" || f[0] == "global" || f[0] == "threadlocal" || f[0] == "local") {
        names.problems.push_back("malformed: " + line);
      }
    } catch (const std::exception&) {
      names.problems.push_back("malformed: " + line);
    }
  }
  for (const auto& f : locals) {
    const auto owner = names.staticFunction.find(number(f[2]));
    const std::string function = owner == names.staticFunction.end() ? "?" + f[2] : owner->second;
    names.variable[number(f[3])] = function + "::" + f[4];
    names.variableKind[number(f[3])] = "local";
  }
  names.staticFunction[0] = "-";
  for (const auto& [linked, staticId] : linkedToStatic) {
    const auto name = names.staticFunction.find(staticId);
    names.linkedFunction[linked] = name == names.staticFunction.end() ? "?" + std::to_string(staticId) : name->second;
  }
  names.linkedFunction[0] = "<unregistered>";
  return names;
}

Decoded decodeThread(const std::string& runDir, uint32_t thread, const RunNames& names) {
  Decoded out;
  char file[64];
  snprintf(file, sizeof file, "/thread%04u-trace.txt", thread);
  const tracereader::InflatedTrace inflated = tracereader::readTraceFile(runDir + file);
  out.complete = inflated.complete;
  if (!inflated.readable) {
    out.error = std::string("no trace ") + file;
    return out;
  }
  tracereader::Cursor in(inflated.bytes);
  auto fail = [&](const std::string& why) {
    out.error = why + " at byte " + std::to_string(in.position());
    return out;
  };
  for (uint64_t want : {24, 5, 26}) {
    const auto v = in.uleb();
    if (!v || *v != want) return fail("bad header");
  }
  const auto memMode = in.uleb();
  const auto allocMode = in.uleb();
  if (!memMode || !allocMode) return fail("bad header");

  auto functionName = [&](uint64_t linked) {
    const auto it = names.linkedFunction.find(static_cast<uint32_t>(linked));
    return it == names.linkedFunction.end() ? "?" + std::to_string(linked) : it->second;
  };
  auto callerName = [&](uint64_t id) {
    const auto it = names.staticFunction.find(static_cast<uint32_t>(id));
    return it == names.staticFunction.end() ? "?" + std::to_string(id) : it->second;
  };
  auto variableName = [&](uint64_t id) {
    const auto it = names.variable.find(static_cast<uint32_t>(id));
    return it == names.variable.end() ? "?" + std::to_string(id) : it->second;
  };

  std::vector<std::string> frames;  // function names of the open frames
  bool pendingName = false;         // a thread-naming call has not written its name yet
  auto value = [&](uint64_t* v) {
    const auto got = in.uleb();
    if (!got) return false;
    *v = *got;
    return true;
  };
  while (!in.atEnd()) {
    const std::string top = frames.empty() ? "" : frames.back();
    const bool inAllocation = allocationFunctions().count(top) != 0;
    const bool inBlock = blockFunctions().count(top) != 0;
    const size_t at = in.position();
    uint64_t tag = 0, a = 0, b = 0, c = 0, d = 0;
    if (!value(&tag)) return fail("truncated value");
    std::ostringstream r;
    bool access = false;
    if (pendingName) {
      pendingName = false;
      if (tag == 4294967295u) {
        out.records.push_back("name null");
        continue;
      }
      uint64_t length = 0;
      if (!value(&length)) return fail("truncated thread name");
      const auto text = in.raw(length);
      if (!text) return fail("truncated thread name");
      out.records.push_back("name " + std::to_string(tag) + " " + std::string(text->begin(), text->end()));
      continue;
    }
    switch (tag) {
      case 0:
        if (!value(&a) || !value(&b)) return fail("truncated entry");
        frames.push_back(functionName(a));
        pendingName = frames.back() == "pthread_setname_np";
        r << "enter " << functionName(a) << " from " << callerName(b);
        break;
      case 2:
        if (frames.empty()) return fail("exit without a frame");
        frames.pop_back();
        r << "exit";
        break;
      case 40:
        if (!value(&a)) return fail("truncated exit");
        if (frames.empty()) return fail("exit without a frame");
        frames.pop_back();
        r << "exit = " << a;
        break;
      case 18:
        if (frames.empty()) return fail("unwind without a frame");
        frames.pop_back();
        r << "unwind";
        break;
      case 20:
        if (!value(&a)) return fail("truncated unwind stop");
        r << "unwind-stop " << a;
        break;
      case 22:
        if (!value(&a)) return fail("truncated vla");
        r << "vla " << a;
        break;
      case 8:
        if (!value(&a) || !value(&b) || !value(&c)) return fail("truncated realloc");
        r << "realloc #" << a << " " << b;
        break;
      case 10:
        if (!value(&a) || !value(&b)) return fail("truncated free");
        r << "free #" << b << " " << a;
        break;
      case 12:
        if (!value(&a)) return fail("truncated create");
        r << "create " << a;
        break;
      case 14:
        if (!value(&a)) return fail("truncated join");
        r << "join " << a;
        break;
      case 3:
        if (!value(&a) || !value(&b)) return fail("truncated local access");
        r << "local " << variableName(a) << " +" << b;
        access = true;
        break;
      case 4:
        if (!value(&a) || !value(&b)) return fail("truncated global access");
        if (a == 0)
          r << "unknown";
        else
          r << "global " << variableName(a) << " +" << b;
        access = true;
        break;
      case 5:
        if (!value(&a) || !value(&b) || !value(&c)) return fail("truncated outer access");
        r << "outer " << variableName(a) << " @" << b << " +" << c;
        access = true;
        break;
      case 6:
        if (inAllocation) {
          if (!value(&a) || !value(&b) || !value(&c)) return fail("truncated allocation");
          r << "alloc #" << a << " " << b;
        } else {
          if (!value(&a) || !value(&b)) return fail("truncated heap access");
          r << "heap #" << a << " +" << b;
          access = true;
        }
        break;
      case 7:
        if (!value(&a) || !value(&b) || !value(&c) || !value(&d)) return fail("truncated remote access");
        r << "remote " << variableName(a) << " of " << functionName(b) << " thread " << c << " +" << d;
        access = true;
        break;
      default:
        out.error = "value " + std::to_string(tag) + " cannot be placed at byte " + std::to_string(at);
        return out;
    }
    out.records.push_back(r.str());
    if (access && inBlock) {
      if (!value(&a)) return fail("missing block size");
      out.records.push_back("size " + std::to_string(a));
    }
  }
  out.openFrames = frames.size();
  return out;
}

std::vector<Decoded> decodeRun(const std::string& runDir, const RunNames& names) {
  std::vector<Decoded> threads;
  for (uint32_t thread = 0;; ++thread) {
    char file[64];
    snprintf(file, sizeof file, "/thread%04u-trace.txt", thread);
    if (!std::ifstream(runDir + file).good()) return threads;
    threads.push_back(decodeThread(runDir, thread, names));
  }
}

std::string firstDifference(const std::vector<std::string>& actual, const std::vector<std::string>& expected) {
  size_t i = 0;
  while (i < actual.size() && i < expected.size() && actual[i] == expected[i]) ++i;
  if (i == actual.size() && i == expected.size()) return "";
  std::ostringstream s;
  s << "records part at " << i << " (actual " << actual.size() << ", expected " << expected.size() << ")\n";
  const size_t from = i < 4 ? 0 : i - 4;
  for (size_t k = from; k < i + 6 && (k < actual.size() || k < expected.size()); ++k) {
    s << (k == i ? "> " : "  ") << k << ": " << (k < actual.size() ? actual[k] : "<end>") << "   |   "
      << (k < expected.size() ? expected[k] : "<end>") << "\n";
  }
  return s.str();
}

}  // namespace plugintest

#include "expected_records.h"

namespace plugintest {

std::string match(const std::vector<std::string>& actual, const Records& expected) {
  // Unrolls the repeated groups as the actual records allow, then compares.
  std::vector<std::string> unrolled;
  size_t pos = 0;
  for (const Records::Item& item : expected.items()) {
    if (item.group.empty()) {
      unrolled.push_back(item.text);
      ++pos;
      continue;
    }
    for (;;) {
      bool fits = pos + item.group.size() <= actual.size();
      for (size_t k = 0; fits && k < item.group.size(); ++k) fits = actual[pos + k] == item.group[k];
      if (!fits) break;
      unrolled.insert(unrolled.end(), item.group.begin(), item.group.end());
      pos += item.group.size();
    }
  }
  return firstDifference(actual, unrolled);
}

}  // namespace plugintest
