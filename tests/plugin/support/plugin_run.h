// Runs a plugin-built test program in its own process and scratch
// directory and decodes every trace of the run directory it leaves.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "labelled_trace.h"
#include "process_support.h"

namespace plugintest {

struct PluginRun {
  proctest::RunResult result;
  std::string cwd;
  std::string runDir;
  RunNames names;
  std::vector<Decoded> threads;
};

// Whether the exact unoptimised sequences apply: a sanitizer changes the
// code the compiler generates (its checks call its own handlers, scopes get
// cleanup slots), and with it the loads, stores and calls there are.
constexpr bool kExactSequences =
#if PLUGIN_TESTS_SANITIZED
    false;
#else
    true;
#endif

std::string programPath(const std::string& program);
std::string profileDir(const std::string& program);

// Clears the program's profile directory first, so the run directory is
// app_0_0.
PluginRun runProgram(const std::string& program, const std::vector<std::string>& args = {});

// Every thread's trace is a finished stream, decodes to the last value and
// leaves no frame open; the name lines are well formed.
void expectWellFormed(const PluginRun& run);

// What the optimiser cannot change between two builds of one design: the
// calls of the given library functions in order, every thread event, the
// unwinds, heap events as a subsequence (an allocation the optimiser proved
// unused may go, none may appear or move), and only (global, offset) pairs
// that the unoptimised build also accessed.
void expectSameObservableBehaviour(const PluginRun& unoptimised, const PluginRun& optimised,
                                   const std::set<std::string>& libraryCalls);

}  // namespace plugintest
