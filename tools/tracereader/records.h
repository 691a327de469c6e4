// Labelled decoding of a trace: turns its values into records (header,
// function events, heap and thread events, accesses with their block sizes,
// thread names), names functions and variables from the run directory, and
// tracks the thread's frame stack.
//
// A trace alone cannot always be split into records: access codes 3, 5 and
// 7 equal basic-block values, 6 starts both a heap access and a heap
// allocation, and bare values (offsets, printed values, block sizes, thread
// names) carry no tag. The decoder therefore assumes a convention about the
// program that wrote the trace and stops, with the offset and a reason, at
// the first value the convention cannot place. It never guesses: a record
// it returns is what the convention says the values are. Labels are only as
// right as the assumption; a program that breaks the convention is caught
// only where its values become impossible under it.
//
// Usage:
//   tracereader::TraceStream stream;            // or MemoryValues
//   stream.openFile(run.traces[0].path);
//   tracereader::NameIndex names(run);          // run = readRunDirectory(dir)
//   tracereader::RecordDecoder decoder(stream, {.names = &names});
//   tracereader::Record r;
//   while (decoder.next(&r)) { ... }
//   decoder.status();                          // ended, or stopped: where and why
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tracereader/run_directory.h"
#include "tracereader/trace_stream.h"

namespace tracereader {

enum class Convention {
  // Programs built under the decodable-trace convention: no basic-block
  // records, no bare values, an entry record for every call, every wrapped
  // library call bracketed by the entry and exit of the function it
  // replaces, and name lines for every function. Needs the names.
  kDecodable,
  // Hand-instrumented programs that keep to a narrower set of hooks: no
  // basic-block records, no bare values, no block accesses (the block hook,
  // and the stream, fread/fwrite and pthread_create wrappers, which call
  // it), no thread naming. Calls may leave no entry record, so an exit may
  // close a call the decoder never saw open: exits carry no function. A 6
  // is placed by the header's modes (an allocation when accesses are off,
  // an access when allocations are off); with both on it cannot be placed.
  kHandInstrumented,
};

enum class RecordKind : uint8_t {
  kHeader,
  kEntry,
  kExit,
  kExitWithValue,
  kUnwind,
  kUnwindStop,
  kVla,
  kHeapAlloc,
  kHeapRealloc,
  kHeapFree,
  kThreadCreate,
  kThreadJoin,
  kThreadName,
  kThreadNameNull,
  kLocalAccess,   // local of the current frame
  kGlobalAccess,  // global or thread-local; variable 0: an address no registry knows
  kOuterAccess,   // local of an outer frame
  kHeapAccess,
  kRemoteAccess,  // local of another thread
};

// Short lower-case name ("entry", "heap-alloc", "local-access", ...).
const char* recordKindName(RecordKind kind);

// Whether an access read or wrote memory. Known only in traces whose access
// mode is 2: the program's stores carry the store tag, its loads do not,
// and a block access inside a library call has the direction of that
// call's operand (the destination of memcpy is written, its source read).
enum class AccessDirection : uint8_t { kUnknown, kRead, kWrite };
// "read", "write" or "" for unknown.
const char* accessDirectionName(AccessDirection direction);

struct Record {
  RecordKind kind = RecordKind::kHeader;
  uint64_t offset = 0;  // plain-byte offset of the record's first value
  uint32_t depth = 0;   // frames open after the record
  // By kind:
  //   header: value = format version, traceAccesses, traceAllocations,
  //     accessKinds (access mode 2: reads and writes told apart)
  //   entry: id = function (linked id), value = caller (static id)
  //   exit, exit-with-value, unwind: id = function of the frame left
  //     (0 when unknown), value = returned value
  //   unwind-stop: value = location; vla: value = size in bytes
  //   heap alloc/realloc: id = block, value = size, address
  //   heap free: id = block, value = size
  //   thread create/join/name: id = thread number; name: value = length, text
  //   accesses: id = variable (heap: block), value = offset in it;
  //     outer: frame = frame id; remote: frame = function, thread = owner
  uint64_t id = 0;
  uint64_t value = 0;
  uint64_t address = 0;
  uint64_t frame = 0;
  uint64_t thread = 0;
  bool hasBlockSize = false;  // a block access: blockSize bytes from the address
  uint64_t blockSize = 0;
  AccessDirection direction = AccessDirection::kUnknown;  // accesses
  bool traceAccesses = false;
  bool traceAllocations = false;
  bool accessKinds = false;
  std::string_view function;  // name of the function concerned, when known
  std::string_view variable;  // name of the variable accessed, when known
  std::string text;           // thread name (at most kMaxNameBytes kept)
};

// The library functions whose brackets change how values are read.
enum class BracketRole : uint8_t { kNone, kAllocation, kBlock, kThreadName };
// Role of a library function by the name it is registered under.
BracketRole bracketRole(std::string_view functionName);

struct DecoderOptions {
  Convention convention = Convention::kDecodable;
  // Names and ids of the run; needed for kDecodable, optional otherwise.
  // When given, entries of functions it does not list stop the decoder,
  // and under kDecodable so do accesses to variables no name line gives
  // (the writer names every variable it reports).
  const NameIndex* names = nullptr;
  size_t maxDepth = size_t{1} << 22;  // deeper stacks stop (damaged data)
};

struct DecodeStatus {
  enum State { kRunning, kEnded, kStopped } state = kRunning;
  uint64_t offset = 0;  // where decoding stopped
  std::string reason;   // why (kStopped only)
  // kStopped because the values ran out inside a record (nothing, or only
  // the start of a value, follows): what a trace cut inside a record shows.
  bool dataEnded = false;
  uint64_t recordOffset = 0;  // kStopped: where the record it stopped in began
};

inline constexpr size_t kMaxNameBytes = 256;

class RecordDecoder {
 public:
  RecordDecoder(ValueSource& source, const DecoderOptions& options);

  // The next record; false when the values ended or the decoder stopped.
  bool next(Record* record);

  [[nodiscard]] const DecodeStatus& status() const { return status_; }
  [[nodiscard]] size_t depth() const { return frames_.size(); }
  // The function of the innermost open frame (linked id, 0 when unknown or
  // no frame is open) and its name ("" when unknown).
  [[nodiscard]] uint64_t innermostFunction() const { return frames_.empty() ? 0 : frames_.back().function; }
  [[nodiscard]] std::string_view innermostName() const { return nameOf(innermostFunction()); }

 private:
  struct Frame {
    uint32_t function;
    BracketRole role;
    bool named;  // thread-name values already read in this frame
    uint8_t writes = 0;  // block accesses that write, by position in the call (bit i: the i-th)
    uint8_t blocks = 0;  // block accesses read so far in this frame
  };

  bool stop(uint64_t offset, std::string reason);
  bool stopAtError(uint64_t offset, const std::string& context);
  bool read(uint64_t* value, const char* what);
  bool header(Record* r);
  bool entry(Record* r);
  bool leave(Record* r, RecordKind kind);
  bool access(Record* r, uint64_t code);
  bool named(Record* r, uint64_t function);
  bool threadName(Record* r, uint64_t first);
  [[nodiscard]] BracketRole topRole() const { return frames_.empty() ? BracketRole::kNone : frames_.back().role; }
  [[nodiscard]] std::string_view nameOf(uint64_t linkedId) const;

  ValueSource& source_;
  DecoderOptions options_;
  DecodeStatus status_;
  std::vector<Frame> frames_;
  uint64_t recordStart_ = 0;
  bool headerDone_ = false;
  bool traceAccesses_ = false;
  bool traceAllocations_ = false;
  bool accessKinds_ = false;
};

}  // namespace tracereader
