// Reads a run directory: the manifest files the runtime writes at start-up
// (working directory, quoted command line, binaries, load order, function
// mapping), the name lines of globalVariableMapping, and the list of
// per-thread traces. readRunDirectory and NameIndex never throw; every
// malformed line and unreadable file becomes a problem with its file, line
// and reason, and the rest is kept. The parse functions they use throw
// nothing but std::bad_alloc.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tracereader/crash_file.h"

namespace tracereader {

// One line "<static id> <binary> <linked id>" of functionMapping.
struct FunctionMapping {
  uint32_t staticId = 0;
  std::string binary;
  uint32_t linkedId = 0;
};

// The name lines of globalVariableMapping, one struct per line kind:
//   function<TAB>binary<TAB>static id<TAB>name
//   global|threadlocal<TAB>binary<TAB>variable id<TAB>name<TAB>size<TAB>file<TAB>line
//   local<TAB>binary<TAB>function static id<TAB>variable id<TAB>name<TAB>size
struct FunctionName {
  std::string binary;
  uint32_t staticId = 0;
  std::string name;
};
struct VariableName {
  bool threadLocal = false;
  std::string binary;
  uint32_t id = 0;
  std::string name;
  uint64_t size = 0;
  std::string sourceFile;  // empty when unknown
  uint32_t line = 0;       // 0 when unknown
};
struct LocalName {
  std::string binary;
  uint32_t functionStaticId = 0;
  uint32_t id = 0;
  std::string name;
  uint64_t size = 0;
};

struct NameLines {
  std::vector<FunctionName> functions;
  std::vector<VariableName> variables;  // globals and thread-locals
  std::vector<LocalName> locals;
  size_t ignoredLines = 0;  // lines of kinds this reader does not know
};

struct ThreadTrace {
  uint32_t thread = 0;  // the profiler's thread number from the file name
  std::string path;
  uint64_t compressedSize = 0;
};

struct RunDirectory {
  std::string path;
  bool isRunDirectory = false;  // holds at least one manifest file or trace
  std::optional<std::string> workingDirectory;
  std::optional<std::string> commandlineText;  // the file as written
  std::vector<std::string> arguments;          // its arguments, unquoted
  std::vector<std::string> binaries;
  std::vector<std::string> lookupOrder;
  std::vector<FunctionMapping> functionMapping;
  NameLines names;
  bool hasNameFile = false;      // globalVariableMapping exists
  std::vector<ThreadTrace> traces;  // by thread number
  // The crash file of a run ended by a signal; its own problems stay in it.
  std::optional<CrashRecord> crash;
  std::vector<std::string> problems;  // "<file>:<line>: <reason>" or "<file>: <reason>"
};

// Reads everything but the traces' contents. Manifest files larger than
// maxFileBytes are reported instead of read.
[[nodiscard]] RunDirectory readRunDirectory(const std::string& path, size_t maxFileBytes = size_t{64} << 20);

// Splits the commandline file: arguments in double quotes separated by one
// blank, with backslash escaping backslash and double quote. nullopt (and
// *why) when the text does not have that form.
[[nodiscard]] std::optional<std::vector<std::string>> parseCommandline(std::string_view text, std::string* why);
// "<static> <binary> <linked>\n" lines; problems get "functionMapping:<n>: ...".
[[nodiscard]] std::vector<FunctionMapping> parseFunctionMapping(std::string_view text, std::vector<std::string>* problems);
// Name lines; malformed known lines are problems, unknown kinds are ignored.
[[nodiscard]] NameLines parseNameLines(std::string_view text, std::vector<std::string>* problems);
// The thread number of a trace file name "thread<digits>-trace.txt".
[[nodiscard]] std::optional<uint32_t> traceFileThread(std::string_view fileName);

// Names for linked ids and variable ids of one run, built once from its
// directory. Every view it returns lives as long as the index.
class NameIndex {
 public:
  explicit NameIndex(const RunDirectory& run);

  // Whether functionMapping lists this linked id.
  [[nodiscard]] bool isLinkedId(uint64_t linkedId) const;
  // Whether some binary uses this static id (callers in entry records).
  [[nodiscard]] bool isStaticId(uint64_t staticId) const;
  // The function's name, empty when no name line gives one.
  [[nodiscard]] std::string_view functionName(uint64_t linkedId) const;
  // The name of a global or thread-local; empty when unknown or when two
  // binaries use the same id for different names.
  [[nodiscard]] std::string_view variableName(uint64_t id) const;
  // The name of local `id` of the function with this linked id.
  [[nodiscard]] std::string_view localName(uint64_t linkedId, uint64_t id) const;
  // Whether a name line gives variable `id` as a global or thread-local, or
  // as a local of the function with this linked id.
  [[nodiscard]] bool isVariable(uint64_t id) const;
  [[nodiscard]] bool isLocalOf(uint64_t linkedId, uint64_t id) const;
  // The other names registered at the same address as the function with
  // this linked id (C libraries give memcpy and memmove one address): calls
  // of any of them carry the same linked id and cannot be told apart.
  [[nodiscard]] std::vector<std::string_view> sameAddressNames(uint64_t linkedId) const;
  [[nodiscard]] bool hasFunctionNames() const { return !functionNames_.empty(); }

 private:
  std::map<uint32_t, std::pair<std::string, uint32_t>> linked_;  // linked -> (binary, static)
  std::map<uint32_t, int> staticIds_;
  std::map<uint32_t, std::string> functionNames_;                 // linked -> name
  std::map<uint32_t, std::vector<std::string>> aliases_;           // linked -> names beside the first
  std::map<uint32_t, std::string> variableNames_;
  std::map<uint32_t, int> variableIds_;
  std::map<std::pair<uint32_t, uint32_t>, std::string> localNames_;  // (linked, var)
};

}  // namespace tracereader
