// Dispatch of proftrace's commands and its top-level help.
#include "proftrace.h"

#include <cstring>
#include <string>

namespace proftrace {

namespace {

constexpr const char* kUsage =
    "Usage: proftrace COMMAND [ARGS]\n"
    "Reads the run directories and per-thread traces of profiled simulations.\n"
    "\n"
    "Commands:\n"
    "  info RUN_DIR               the manifest in readable form and a summary of every trace\n"
    "  check RUN_DIR|TRACE...     exit 0 when every trace is complete with a valid header\n"
    "  dump TRACE [--json] [--labels] [--convention=hand]\n"
    "                             the header and every value (or labelled records)\n"
    "  stats RUN_DIR [--convention=hand]\n"
    "                             per thread: calls per function, heap and thread events\n"
    "  report RUN_DIR [--json | --html DIR]\n"
    "                             per function, variable, heap allocation site and stream:\n"
    "                             what the run did, for hardware decisions\n"
    "  export RUN_DIR --csv DIR   the report's tables and every labelled record as CSV files\n"
    "  crash RUN_DIR [--last N] [--json]\n"
    "                             a run ended by a signal: the crash record and, per thread,\n"
    "                             its stack and last records\n"
    "\n"
    "'proftrace COMMAND --help' describes a command.\n"
    "Exit status: 0 success, 1 a finding (damaged, truncated or unlabellable trace,\n"
    "malformed manifest or crash file, not a run directory, unreadable file), 2 a usage\n"
    "error, 3 (check) a run that crashed: ended by a signal, its traces as its crash\n"
    "file says.\n"
    "The trace format is described in docs/trace-format.md.\n";

}  // namespace

int run(int argc, const char* const* argv, const Io& io) {
  if (argc < 2) {
    std::fputs(kUsage, io.err);
    return kExitUsage;
  }
  const std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kUsage, io.out);
    return kExitOk;
  }
  const int rest = argc - 2;
  const char* const* restv = argv + 2;
  if (command == "info") return infoCommand(rest, restv, io);
  if (command == "check") return checkCommand(rest, restv, io);
  if (command == "dump") return dumpCommand(rest, restv, io);
  if (command == "stats") return statsCommand(rest, restv, io);
  if (command == "report") return reportCommand(rest, restv, io);
  if (command == "export") return exportCommand(rest, restv, io);
  if (command == "crash") return crashCommand(rest, restv, io);
  std::fprintf(io.err, "proftrace: unknown command '%s'\n\n%s", command.c_str(), kUsage);
  return kExitUsage;
}

}  // namespace proftrace
