// Reads the `crash` file that a run ended by a fatal or termination signal
// leaves in its run directory: the signal, the thread that received it,
// the faulting address and what it falls into, and per thread what became
// of its trace and its virtual call stack at that moment.
//
// The file is written from a signal handler into a fixed buffer, so it may
// be cut at kCrashFileCap bytes, possibly inside a line: such a file is
// read up to its last whole line and marked cut. Anything else that does
// not have the documented form is a problem with its line, and the rest is
// kept. Keys this reader does not know are skipped. Never throws but
// std::bad_alloc.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tracereader {

// The writer's buffer: a longer text is cut at this length.
inline constexpr size_t kCrashFileCap = 256 * 1024;

// What the crash file says became of one thread's trace.
enum class CrashTrace {
  kFinished,           // a complete stream ending with the thread's last whole record
  kFinishedCutRecord,  // complete, but its last values begin a record the crash cut
  kClosed,             // finished by the ordinary end of the run or of the thread
  kUnfinished,         // could not be finished: it reads as cut short
};
const char* crashTraceName(CrashTrace trace);

// What the faulting address falls into (`variable:` or `below:` line).
struct CrashLocation {
  enum Kind { kLocal, kGlobal, kHeap, kStack, kNone } kind = kNone;
  bool within = true;       // false for a `below:` line: the nearest one below
  uint64_t function = 0;    // kLocal: linked id of the frame's function
  uint64_t variable = 0;    // kLocal, kGlobal: variable id; kHeap: block id
  uint64_t frame = 0;       // kLocal: the frame's number
  uint64_t offset = 0;      // distance of the address from its first byte
  uint64_t pastEnd = 0;     // below only: bytes between its last byte and the address
};

struct CrashThread {
  uint32_t thread = 0;
  std::optional<CrashTrace> trace;
  std::vector<uint64_t> stack;  // linked function ids, innermost first
  bool hasStack = false;
  uint64_t depth = 0;  // frames, possibly more than listed
  bool hasDepth = false;
};

struct CrashRecord {
  uint64_t version = 0;
  int signal = 0;
  std::string signalName;
  int64_t code = 0;
  std::string codeName;
  std::optional<uint64_t> sender;
  std::optional<uint32_t> thread;  // the receiving thread; nullopt: `none`
  std::optional<uint64_t> address;
  std::optional<uint64_t> stackPointer;
  std::optional<uint64_t> instruction;
  std::optional<CrashLocation> location;
  std::vector<CrashThread> threads;  // in the file's order (increasing thread number)
  bool cut = false;                  // the writer's buffer filled up: threads may be missing
  std::vector<std::string> problems;  // "crash:<line>: <reason>" or "crash: <reason>"

  [[nodiscard]] const CrashThread* find(uint32_t thread) const;
  // The signal as people read it: "SIGSEGV (signal 11, code 1 SEGV_MAPERR)".
  [[nodiscard]] std::string signalText() const;
};

// Parses the text of a crash file.
[[nodiscard]] CrashRecord parseCrashFile(std::string_view text);
// Reads <runDir>/crash: nullopt when there is none; a file that cannot be
// read gives a record with a problem.
[[nodiscard]] std::optional<CrashRecord> readCrashFile(const std::string& runDir);

}  // namespace tracereader
