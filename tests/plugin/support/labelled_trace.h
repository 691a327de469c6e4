// Turns one thread's trace of a plugin-built program into its records, one
// line of text each, with every id replaced by the name the run directory
// gives it: the trace reader's labelled decoder under the decodable-trace
// convention, written out in the words the expectations use.
//
// Lines (the expectations in the tests are written in the same words):
//   enter F from C      entry of F announced by C ("-" for caller 0)
//   exit | exit = V     exit, exit with return value V
//   unwind | unwind-stop L
//   vla N               variable-length array of N bytes
//   alloc #U N | realloc #U N | free #U N
//   create T | join T | name T TEXT | name null
//   local F::V +O       a local of the current frame (F: its function)
//   outer F::V @D +O    a local of the frame at depth D (F: that frame's function)
//   global G +O         a global or thread-local variable
//   unknown             an address of no known variable
//   heap #U +O
//   remote F::V of G thread T +O
//   size N              the byte count after an access of a block function
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tracereader/records.h"
#include "tracereader/run_directory.h"

namespace plugintest {

// A run directory as the trace reader reads it, its name index, and the
// names of the executable's static ids (the callers of entry records).
struct RunNames {
  std::shared_ptr<tracereader::RunDirectory> run;
  std::shared_ptr<tracereader::NameIndex> index;
  std::map<uint32_t, std::string> staticFunction;  // static id -> name (app_0), callers of entries
  std::vector<std::string> problems;               // malformed lines and unreadable files
};

RunNames readRunNames(const std::string& runDir);

struct Decoded {
  std::vector<std::string> records;
  std::string error;       // empty when every value was placed
  bool complete = false;   // the trace file was a finished stream
  size_t openFrames = 0;   // frames entered and never left
};

// Decodes the trace of thread `thread` (header checked and dropped).
Decoded decodeThread(const std::string& runDir, uint32_t thread, const RunNames& names);

// Every thread's trace of a run directory, in thread order, up to the first
// thread number without a trace file.
std::vector<Decoded> decodeRun(const std::string& runDir, const RunNames& names);

// The first place where two record lists part, with context; "" if equal.
std::string firstDifference(const std::vector<std::string>& actual, const std::vector<std::string>& expected);

}  // namespace plugintest
