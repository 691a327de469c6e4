// proftrace check: a yes/no answer for scripts and CI.
#include <sys/stat.h>

#include <string>

#include "output.h"
#include "proftrace.h"
#include "trace_scan.h"
#include "tracereader/run_directory.h"

namespace proftrace {

namespace {

constexpr const char* kHelp =
    "Usage: proftrace check RUN_DIR|TRACE...\n"
    "Checks every trace of each run directory and every trace file named: the zlib\n"
    "stream must be complete (end of stream reached, Adler-32 verified, nothing after\n"
    "it), begin with a valid header (24 5 26 and two trace modes of 0 or 1) and end at\n"
    "a value boundary. Prints one line per trace: 'ok' or what is wrong and how far it\n"
    "decodes. A directory that is not a run directory or holds no trace is a finding.\n"
    "Exit status: 0 when every trace is sound, 1 otherwise, 2 on a usage error.\n";

bool checkOne(const std::string& path, const Io& io) {
  const TraceScan scan = scanTrace(path, io.err);
  if (scan.sound()) {
    std::fprintf(io.out, "%s: ok (%llu values, %llu bytes)\n", printable(path).c_str(),
                 static_cast<unsigned long long>(scan.values), static_cast<unsigned long long>(scan.plainBytes));
    return true;
  }
  std::fprintf(io.out, "%s: BAD: %s; decodes to offset %llu (%llu values)\n", printable(path).c_str(),
               scan.findings().c_str(), static_cast<unsigned long long>(scan.plainBytes),
               static_cast<unsigned long long>(scan.values));
  return false;
}

}  // namespace

int checkCommand(int argc, const char* const* argv, const Io& io) {
  const Args args = parseArgs(argc, argv, {});
  if (args.help) {
    std::fputs(kHelp, io.out);
    return kExitOk;
  }
  if (!args.bad.empty() || args.positional.empty()) {
    if (!args.bad.empty()) std::fprintf(io.err, "proftrace check: unknown option '%s'\n", args.bad.c_str());
    std::fputs(kHelp, io.err);
    return kExitUsage;
  }
  bool allSound = true;
  for (const std::string& path : args.positional) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      const tracereader::RunDirectory run = tracereader::readRunDirectory(path);
      if (!run.isRunDirectory || run.traces.empty()) {
        std::fprintf(io.out, "%s: BAD: %s\n", printable(path).c_str(),
                     run.isRunDirectory ? "a run directory without thread traces" : "not a run directory");
        allSound = false;
        continue;
      }
      for (const auto& t : run.traces) allSound = checkOne(t.path, io) && allSound;
    } else {
      allSound = checkOne(path, io) && allSound;
    }
  }
  return allSound ? kExitOk : kExitFinding;
}

}  // namespace proftrace
