// The analysis behind `proftrace report` and `proftrace export`: what a
// designer learns from one run directory, as plain data for the formatters
// (text, JSON, CSV; later pictures and a page). It reads every trace once,
// streaming, under the decodable-trace convention, and keeps memory in
// proportion to the distinct functions, variables, heap blocks and threads,
// never to the number of records.
//
// The traces carry no time, so the measure of work is what they count:
// function entries (calls) and memory accesses.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "stream_file.h"
#include "tracereader/records.h"
#include "tracereader/run_directory.h"

namespace report {

inline constexpr uint32_t kThreadStart = 0;  // caller of a thread's first function

struct ThreadSummary {
  uint32_t thread = 0;
  std::string name;          // given with pthread_setname_np, else empty
  uint32_t startFunction = 0;  // linked id of the first function entered, 0 if none
  std::optional<uint32_t> createdBy;
  uint64_t records = 0;
  uint64_t calls = 0;
  uint64_t accesses = 0;
  bool complete = false;     // the stream is complete and every record decoded
  std::string problem;       // why not (truncated, damaged, labels stopped)
};

struct FunctionSummary {
  uint32_t id = 0;  // linked id
  std::string name;
  uint64_t entries = 0;
  std::map<uint32_t, uint64_t> entriesByThread;
  uint64_t accessesExclusive = 0;  // made while the function was on top
  uint64_t accessesInclusive = 0;  // made while it was anywhere on the stack (recursion counted once)
};

struct CallEdge {
  uint32_t caller = kThreadStart;  // linked id, or kThreadStart
  uint32_t callee = 0;
  uint64_t calls = 0;
};

struct NeverEntered {
  uint32_t id = 0;
  std::string name;
  std::string reason;
};

enum class VariableKind : uint8_t { kGlobal, kThreadLocal, kLocal, kHeap, kUnknown };
const char* variableKindName(VariableKind kind);

enum class PatternKind : uint8_t { kNone, kSingle, kSequential, kStrided, kRandom };
const char* patternKindName(PatternKind kind);

struct Pattern {
  PatternKind kind = PatternKind::kNone;
  int64_t stride = 0;  // bytes between consecutive accesses (sequential and strided)
};

struct Histogram {
  uint64_t bucketBytes = 1;        // a power of two
  std::vector<uint64_t> counts;    // counts[i]: accesses at offsets [i*bucketBytes, (i+1)*bucketBytes)
};

struct VariableSummary {
  VariableKind kind = VariableKind::kUnknown;
  uint64_t id = 0;        // variable id, or heap block id
  uint32_t function = 0;  // locals: the owning function (linked id); heap: the allocating function
  // Locals: the thread whose frames hold this instance (each thread that
  // runs a function has its own locals).
  std::optional<uint32_t> owner;
  std::string name;       // locals "function::name"; heap "heap#<id>"
  uint64_t size = 0;      // bytes; heap: the last size it had
  uint64_t accesses = 0;
  std::map<uint32_t, uint64_t> byFunction;  // linked id of the function making the access
  std::map<uint32_t, uint64_t> byThread;
  uint64_t distinctOffsets = 0;
  std::optional<uint64_t> bytesTouched;  // none when the variable is too large to track
  uint64_t accessWidth = 0;              // inferred bytes per single access
  Histogram histogram;
  Pattern pattern;
  // Touched by more than one thread: globals, heap blocks and local
  // instances; never a thread-local, whose instances are per thread.
  bool shared = false;
  // Heap blocks only.
  uint32_t allocatedBy = kThreadStart;  // thread number of the allocating thread
  bool freed = false;
};

struct HeapSite {
  uint32_t function = 0;  // allocating function (linked id); 0 when unknown
  std::string name;
  uint64_t blocks = 0;
  uint64_t bytes = 0;  // sum of the blocks' last sizes
  uint64_t accesses = 0;
  uint64_t freed = 0;
  std::vector<uint64_t> blockIds;  // ascending
};

struct StreamSummary {
  StreamLine line;
  std::vector<uint32_t> producers;  // threads that wrote
  std::vector<uint32_t> consumers;  // threads that read
};

struct Report {
  std::string directory;
  std::string program;  // the first argument of the command line
  bool complete = true;  // every trace complete and fully decoded, no manifest problem
  std::vector<std::string> notes;
  std::vector<ThreadSummary> threads;
  std::vector<FunctionSummary> functions;  // entered functions, by linked id
  std::vector<CallEdge> callGraph;         // by caller, then callee
  std::vector<NeverEntered> neverEntered;
  std::vector<VariableSummary> variables;  // by kind, then function, then id
  std::vector<HeapSite> heapSites;         // by function
  std::vector<StreamSummary> streams;      // in file order
  bool hasStreamFile = false;
  uint64_t totalCalls = 0;
  uint64_t totalAccesses = 0;
  std::map<uint32_t, std::string> functionNames;  // linked id -> name, from the run directory

  [[nodiscard]] std::string functionName(uint32_t id) const;  // "(thread start)" for 0
};

// Called with every labelled record of a trace (thread number, record),
// for exports that list records; may be empty.
using RecordSink = std::function<void(uint32_t thread, const tracereader::Record&)>;
// Called while traces are read, with the trace's path and the stream, for
// progress output; may be empty.
using TraceStarted = std::function<void(const std::string& path, const tracereader::TraceStream& stream)>;
using RecordRead = std::function<void()>;

struct AnalysisHooks {
  RecordSink record;
  TraceStarted traceStarted;
  RecordRead recordRead;
};

// Reads the run directory and analyses it. Never throws but std::bad_alloc.
Report analyseRun(const tracereader::RunDirectory& run, const AnalysisHooks& hooks = {});

}  // namespace report
