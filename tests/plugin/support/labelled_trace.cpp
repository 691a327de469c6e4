#include "labelled_trace.h"

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>

#include "tracereader/records.h"
#include "tracereader/run_directory.h"
#include "tracereader/trace_stream.h"
#include "tracereader/tracereader.h"

namespace plugintest {

namespace {

std::string orUnknown(std::string_view name, uint64_t id) {
  return name.empty() ? "?" + std::to_string(id) : std::string(name);
}

// One record in the words of the expectations.
std::string line(const tracereader::Record& r, const RunNames& names) {
  auto function = [&](uint64_t linked) { return linked == 0 ? std::string("<unregistered>") : orUnknown(r.function, linked); };
  std::ostringstream out;
  using K = tracereader::RecordKind;
  switch (r.kind) {
    case K::kHeader: break;
    case K::kEntry: {
      const auto caller = names.staticFunction.find(static_cast<uint32_t>(r.value));
      out << "enter " << function(r.id) << " from "
          << (caller == names.staticFunction.end() ? "?" + std::to_string(r.value) : caller->second);
      break;
    }
    case K::kExit: out << "exit"; break;
    case K::kExitWithValue: out << "exit = " << r.value; break;
    case K::kUnwind: out << "unwind"; break;
    case K::kUnwindStop: out << "unwind-stop " << r.value; break;
    case K::kVla: out << "vla " << r.value; break;
    case K::kHeapAlloc: out << "alloc #" << r.id << " " << r.value; break;
    case K::kHeapRealloc: out << "realloc #" << r.id << " " << r.value; break;
    case K::kHeapFree: out << "free #" << r.id << " " << r.value; break;
    case K::kThreadCreate: out << "create " << r.id; break;
    case K::kThreadJoin: out << "join " << r.id; break;
    case K::kThreadName: out << "name " << r.id << " " << r.text; break;
    case K::kThreadNameNull: out << "name null"; break;
    case K::kLocalAccess: out << "local " << r.function << "::" << orUnknown(r.variable, r.id) << " +" << r.value; break;
    case K::kGlobalAccess:
      if (r.id == 0)
        out << "unknown";
      else
        out << "global " << orUnknown(r.variable, r.id) << " +" << r.value;
      break;
    case K::kOuterAccess:
      out << "outer " << r.function << "::" << orUnknown(r.variable, r.id) << " @" << r.frame << " +" << r.value;
      break;
    case K::kHeapAccess: out << "heap #" << r.id << " +" << r.value; break;
    case K::kRemoteAccess:
      out << "remote " << r.function << "::" << orUnknown(r.variable, r.id) << " of " << r.function << " thread "
          << r.thread << " +" << r.value;
      break;
  }
  return out.str();
}

}  // namespace

RunNames readRunNames(const std::string& runDir) {
  RunNames names;
  names.run = std::make_shared<tracereader::RunDirectory>(tracereader::readRunDirectory(runDir));
  names.index = std::make_shared<tracereader::NameIndex>(*names.run);
  names.problems = names.run->problems;
  for (const tracereader::FunctionName& f : names.run->names.functions)
    if (f.binary == "app_0") names.staticFunction[f.staticId] = f.name;
  names.staticFunction[0] = "-";
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
  tracereader::MemoryValues values(inflated.bytes);
  tracereader::RecordDecoder decoder(values, {.names = names.index.get()});
  tracereader::Record r;
  bool header = true;
  while (decoder.next(&r)) {
    if (header) {
      header = false;
      if (r.kind == tracereader::RecordKind::kHeader) continue;
    }
    out.records.push_back(line(r, names));
    if (r.hasBlockSize) out.records.push_back("size " + std::to_string(r.blockSize));
  }
  if (decoder.status().state == tracereader::DecodeStatus::kStopped)
    out.error = decoder.status().reason + " at byte " + std::to_string(decoder.status().offset);
  out.openFrames = decoder.depth();
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
