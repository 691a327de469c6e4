// Text and JSON of the crash record.
#include "crash_report.h"

#include "output.h"

namespace proftrace {

namespace {

using tracereader::CrashLocation;

unsigned long long ull(uint64_t v) { return static_cast<unsigned long long>(v); }

std::string hex(uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%016llx", ull(v));
  return buf;
}

// The global or thread-local with this id, from the name lines (null when
// none or when two binaries give the id different names).
const tracereader::VariableName* variableOf(const tracereader::RunDirectory& run, uint64_t id) {
  const tracereader::VariableName* found = nullptr;
  for (const auto& v : run.names.variables) {
    if (v.id != id) continue;
    if (found != nullptr && found->name != v.name) return nullptr;
    found = &v;
  }
  return found;
}

std::string functionText(const tracereader::NameIndex& names, uint64_t id) {
  const std::string_view name = names.functionName(id);
  return (name.empty() ? std::string("?") : printable(name)) + " [" + std::to_string(id) + "]";
}

// What the faulting address falls into, in words.
std::string locationText(const tracereader::RunDirectory& run, const tracereader::NameIndex& names,
                         const CrashLocation& l) {
  std::string what;
  switch (l.kind) {
    case CrashLocation::kStack:
      return "the stack near the stack pointer, in no variable (typically a stack overflow)";
    case CrashLocation::kNone: return "nothing: no variable or heap block lies at or below it";
    case CrashLocation::kLocal: {
      const std::string_view name = names.localName(l.function, l.variable);
      what = "local " + (name.empty() ? std::string("?") : printable(name)) + " (variable " +
             std::to_string(l.variable) + ") of " + functionText(names, l.function) + " in frame " +
             std::to_string(l.frame);
      break;
    }
    case CrashLocation::kGlobal: {
      const tracereader::VariableName* v = variableOf(run, l.variable);
      what = std::string(v != nullptr && v->threadLocal ? "thread-local " : "global ") +
             (v != nullptr ? printable(v->name) : std::string("?")) + " (variable " + std::to_string(l.variable) +
             (v != nullptr ? ", " + std::to_string(v->size) + " bytes" : std::string()) + ")";
      break;
    }
    case CrashLocation::kHeap: what = "heap block #" + std::to_string(l.variable); break;
  }
  if (l.within) return what + ", at offset " + std::to_string(l.offset);
  return "nothing; the nearest below is " + what + ": the address is " + std::to_string(l.pastEnd) +
         " bytes past its end (offset " + std::to_string(l.offset) + " from its start)";
}

void jsonOptional(std::FILE* out, const char* key, const std::optional<uint64_t>& v) {
  if (v) std::fprintf(out, ",\"%s\":%llu", key, ull(*v));
}

}  // namespace

std::string crashSummary(const tracereader::CrashRecord& crash) {
  return crash.signalText() +
         (crash.thread ? " in thread " + std::to_string(*crash.thread) : " in a thread that ran no instrumented code");
}

bool cutOnlyByTheCrash(const TraceScan& scan) {
  return scan.state == tracereader::StreamState::kComplete && scan.header.valid && scan.trailingBytes == 0 &&
         (scan.valueProblem.empty() || scan.valueProblem.rfind("the data ends inside", 0) == 0);
}

std::string stackText(const tracereader::CrashThread& t, const tracereader::NameIndex& names) {
  if (!t.hasStack) return "not listed (the crash file was cut)";
  if (t.depth == 0 && t.stack.empty()) return "no frame open";
  std::string text;
  for (uint64_t id : t.stack) text += (text.empty() ? "" : " <- ") + functionText(names, id);
  if (t.depth > t.stack.size()) text += " <- ... (" + std::to_string(t.depth - t.stack.size()) + " more)";
  return text;
}

void printCrashText(std::FILE* out, const tracereader::RunDirectory& run, const tracereader::NameIndex& names,
                    const tracereader::CrashRecord& crash) {
  std::fprintf(out, "Crash:              %s\n", crash.signal != 0 ? crashSummary(crash).c_str() : "(no valid signal line)");
  if (crash.sender) std::fprintf(out, "  sent by:          process %llu\n", ull(*crash.sender));
  if (crash.address) std::fprintf(out, "  address:          %s\n", hex(*crash.address).c_str());
  if (crash.stackPointer) std::fprintf(out, "  stack pointer:    %s\n", hex(*crash.stackPointer).c_str());
  if (crash.location) std::fprintf(out, "  falls into:       %s\n", locationText(run, names, *crash.location).c_str());
  if (crash.instruction) std::fprintf(out, "  instruction:      %s\n", hex(*crash.instruction).c_str());
  for (const tracereader::CrashThread& t : crash.threads) {
    const std::string label = "thread " + std::to_string(t.thread) + ":";
    const std::string stack = t.hasStack && t.hasDepth && t.depth != 0
                                  ? "stack (" + std::to_string(t.depth) + (t.depth == 1 ? " frame" : " frames") +
                                        ", innermost first): " + stackText(t, names)
                                  : "stack: " + stackText(t, names);
    std::fprintf(out, "  %-17s trace %s; %s\n", label.c_str(), t.trace ? tracereader::crashTraceName(*t.trace) : "?",
                 stack.c_str());
  }
  if (crash.cut)
    std::fprintf(out, "  (the crash file was cut at %zu bytes: threads after the last listed are missing)\n",
                 tracereader::kCrashFileCap);
  for (const std::string& p : crash.problems) std::fprintf(out, "  malformed: %s\n", printable(p).c_str());
}

void printCrashJson(std::FILE* out, const tracereader::RunDirectory& run, const tracereader::NameIndex& names,
                    const tracereader::CrashRecord& crash) {
  std::fprintf(out, "{\"signal\":%d,\"signalName\":%s,\"code\":%lld,\"codeName\":%s", crash.signal,
               jsonString(crash.signalName).c_str(), static_cast<long long>(crash.code),
               jsonString(crash.codeName).c_str());
  jsonOptional(out, "sender", crash.sender);
  if (crash.thread) {
    std::fprintf(out, ",\"thread\":%u", *crash.thread);
  } else {
    std::fputs(",\"thread\":null", out);
  }
  jsonOptional(out, "address", crash.address);
  jsonOptional(out, "stackPointer", crash.stackPointer);
  jsonOptional(out, "instruction", crash.instruction);
  if (crash.location) {
    const CrashLocation& l = *crash.location;
    static const char* const kKinds[] = {"local", "global", "heap", "stack", "none"};
    std::fprintf(out, ",\"location\":{\"kind\":\"%s\",\"within\":%s", kKinds[l.kind], l.within ? "true" : "false");
    std::string_view name;
    if (l.kind == CrashLocation::kLocal) {
      std::fprintf(out, ",\"function\":%llu,\"frame\":%llu", ull(l.function), ull(l.frame));
      name = names.localName(l.function, l.variable);
    } else if (l.kind == CrashLocation::kGlobal) {
      if (const tracereader::VariableName* v = variableOf(run, l.variable)) name = v->name;
    }
    if (l.kind == CrashLocation::kLocal || l.kind == CrashLocation::kGlobal || l.kind == CrashLocation::kHeap) {
      std::fprintf(out, ",\"%s\":%llu", l.kind == CrashLocation::kHeap ? "block" : "variable", ull(l.variable));
      if (!name.empty()) std::fprintf(out, ",\"name\":%s", jsonString(name).c_str());
      std::fprintf(out, ",\"offset\":%llu", ull(l.offset));
      if (!l.within) std::fprintf(out, ",\"pastEnd\":%llu", ull(l.pastEnd));
    }
    std::fputc('}', out);
  }
  std::fputs(",\"threads\":[", out);
  for (size_t i = 0; i < crash.threads.size(); ++i) {
    const tracereader::CrashThread& t = crash.threads[i];
    std::fprintf(out, "%s{\"thread\":%u,\"trace\":", i == 0 ? "" : ",", t.thread);
    if (t.trace) {
      std::fprintf(out, "\"%s\"", tracereader::crashTraceName(*t.trace));
    } else {
      std::fputs("null", out);
    }
    std::fprintf(out, ",\"depth\":%llu,\"stack\":[", ull(t.depth));
    for (size_t k = 0; k < t.stack.size(); ++k) {
      std::fprintf(out, "%s{\"function\":%llu", k == 0 ? "" : ",", ull(t.stack[k]));
      const std::string_view name = names.functionName(t.stack[k]);
      if (!name.empty()) std::fprintf(out, ",\"name\":%s", jsonString(name).c_str());
      std::fputc('}', out);
    }
    std::fputs("]}", out);
  }
  std::fprintf(out, "],\"cut\":%s,\"problems\":[", crash.cut ? "true" : "false");
  for (size_t i = 0; i < crash.problems.size(); ++i)
    std::fprintf(out, "%s%s", i == 0 ? "" : ",", jsonString(crash.problems[i]).c_str());
  std::fputs("]}", out);
}

}  // namespace proftrace
