// How a trace ends: the one place where proftrace decides whether the
// frames a thread left open are a normal end or a finding.
//
// A thread that ends finishes its trace with every frame closed. A process
// that exits finishes the traces of the threads still running as they
// stand: the thread that called exit leaves its frames open under the
// exit call, the others wherever they were. So open frames at the end of
// a complete trace are normal when the thread itself ended the process,
// or when another thread of the same run did (it called exit or one of
// its kin, or main returned); anything else is a stack that lost track of
// its frames.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "tracereader/crash_file.h"
#include "tracereader/records.h"
#include "tracereader/run_directory.h"
#include "tracereader/trace_stream.h"

namespace proftrace {

// exit, _Exit, _exit, abort and quick_exit: calls that end the process
// without returning to their caller.
bool endsProcess(std::string_view functionName);

enum class TraceEnd {
  kUnlabelled,     // not labelled (the run has no names for it): nothing known of its frames
  kUnfinished,     // the stream is not complete (truncated, corrupt, unreadable)
  kNotFollowed,    // the labels stopped before the end: the frames are not known
  kClosed,         // every frame closed
  kEndedProcess,   // the innermost open call ends the process: this thread did
  kRunningAtExit,  // frames open while another thread of the run ended the process
  kLeftOpen,       // frames open, and nothing in the run ended the process: a finding
  kCrashed,        // the run ended by a signal and its crash handler finished this trace where it stood
};

// Short name for JSON ("closed", "ended-process", ...).
const char* traceEndName(TraceEnd end);

// What the labelled records of one trace show about its end.
struct EndFacts {
  TraceEnd end = TraceEnd::kUnlabelled;
  uint64_t openFrames = 0;
  std::string innermost;              // function of the innermost open frame
  bool mainReturned = false;          // main's frame, the outermost, was closed by its exit
  std::optional<uint32_t> endedBy;    // kRunningAtExit: the thread that ended the process
  std::string stop;                   // kNotFollowed: where and why the labels stopped
  bool dataEnded = false;             // the labels stopped because the values ran out inside a record
  uint64_t stopOffset = 0;            // where the record the labels stopped in began
  uint64_t stopDepth = 0;             // the frames open there, and the innermost one's function
  std::string stopInnermost;
  // Set when the run's crash file lists this trace: what became of it, the
  // signal, and the thread that received it (nullopt: none of the traced).
  std::optional<tracereader::CrashTrace> crashTrace;
  std::string crashSignal;            // "SIGSEGV" or "signal 11"
  std::optional<uint32_t> crashThread;
  bool receivedSignal = false;        // this thread received it
  bool cutRecord = false;             // kCrashed: the last values begin a record the crash cut

  // This thread ended the process (needs nothing from other threads).
  [[nodiscard]] bool endedTheProcess() const {
    return end == TraceEnd::kEndedProcess || (end == TraceEnd::kClosed && mainReturned);
  }
  [[nodiscard]] bool finding() const { return end == TraceEnd::kLeftOpen; }
  // One line for people ("" for kUnlabelled, kUnfinished and kClosed,
  // which have nothing to say about frames).
  [[nodiscard]] std::string describe() const;
  // What the crash made of a trace whose end the labels do not show (an
  // unlabelled or unfinished one): "" when the crash file does not list it.
  [[nodiscard]] std::string describeCrashOutcome() const;
};

// Fed every record of a trace, then the decoder and stream once they ended.
class EndTracker {
 public:
  void see(const tracereader::Record& r);
  // Facts with end set to kUnfinished, kNotFollowed, kClosed, kEndedProcess
  // or, for frames left open under any other call, kLeftOpen until
  // classify() looks at the other threads.
  [[nodiscard]] EndFacts finish(const tracereader::RecordDecoder& decoder, const tracereader::TraceStream& stream) const;

 private:
  bool mainReturned_ = false;
};

// The facts of one trace, read to its end under a convention.
EndFacts labelEnd(const std::string& path, const tracereader::NameIndex& names, tracereader::Convention convention);

// The threads of one run directory that ended the process, found by
// labelling their traces when first asked.
class RunEnds {
 public:
  RunEnds(const tracereader::RunDirectory& run, const tracereader::NameIndex& names,
          tracereader::Convention convention)
      : run_(run), names_(names), convention_(convention) {}
  // Turns kLeftOpen into kRunningAtExit when another thread of the run
  // ended the process; in a run ended by a signal, the end of every trace
  // its crash handler finished becomes kCrashed.
  void classify(uint32_t thread, EndFacts* facts);

 private:
  const tracereader::RunDirectory& run_;
  const tracereader::NameIndex& names_;
  tracereader::Convention convention_;
  std::map<uint32_t, bool> ended_;  // by thread: ended the process (each labelled once)
};

}  // namespace proftrace
