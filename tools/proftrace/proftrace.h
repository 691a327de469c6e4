// proftrace: info, check, dump and stats over run directories and traces.
// Exit codes: 0 success, 1 a finding (a damaged, truncated or unlabellable
// trace, a malformed manifest or crash file, a path that is not a run
// directory or cannot be read), 2 a usage error, 3 (check only) a run that
// was ended by a signal and reads as its crash file says.
#pragma once

#include <cstdio>

namespace proftrace {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFinding = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitCrashed = 3;

struct Io {
  std::FILE* out;  // results
  std::FILE* err;  // errors, notes and progress
};

// Runs the command line argv[1..argc) (argv[0] is the program name).
int run(int argc, const char* const* argv, const Io& io);

// The commands, after the dispatcher stripped the command's name.
int infoCommand(int argc, const char* const* argv, const Io& io);
int checkCommand(int argc, const char* const* argv, const Io& io);
int dumpCommand(int argc, const char* const* argv, const Io& io);
int statsCommand(int argc, const char* const* argv, const Io& io);
int reportCommand(int argc, const char* const* argv, const Io& io);
int exportCommand(int argc, const char* const* argv, const Io& io);
int crashCommand(int argc, const char* const* argv, const Io& io);

}  // namespace proftrace
