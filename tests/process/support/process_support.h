// Helpers of the process-level tests: run a built test program in its own
// process and working directory, find the run directories it made under
// its baked-in profile directory, and read its manifest and traces back.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace proctest {

struct RunResult {
  int exitCode = -1;  // exit status, or -1 when killed by a signal
  int signal = 0;     // the signal that ended it, or 0
  std::string out;    // standard output
  std::string err;    // standard error
};

// Path of a test program and of the profile directory baked into it.
std::string programPath(const std::string& name);
std::string profileDir(const std::string& name);

// Runs program with args in cwd (created if missing; the process's own
// directory when empty). childSetup runs in the child before exec.
RunResult run(const std::string& program, const std::vector<std::string>& args = {},
              const std::string& cwd = "", const std::function<void()>& childSetup = {});

// Removes path and everything below it (no error when absent).
void removeAll(const std::string& path);
// A fresh, empty scratch directory for one test.
std::string scratchDir(const std::string& name);

// Run directories "<profile>/app_0_<n>", ordered by n.
std::vector<std::string> runDirs(const std::string& profile);
// The run directory with the largest number; fails the test when none.
std::string latestRunDir(const std::string& profile);

std::string readFile(const std::string& path);
bool exists(const std::string& path);

// Trace of thread `thread` in runDir, inflated.
struct Trace {
  std::vector<uint8_t> bytes;
  bool complete = false;  // the zlib stream ended with its checksum
};
Trace readTrace(const std::string& runDir, uint32_t thread);

// The bytes of a sequence of ULEB128 values.
std::vector<uint8_t> uleb(std::initializer_list<uint64_t> values);
void appendUleb(std::vector<uint8_t>& out, uint64_t value);
void appendSleb(std::vector<uint8_t>& out, int64_t value);

}  // namespace proctest
