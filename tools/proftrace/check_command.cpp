// proftrace check: a yes/no answer for scripts and CI.
#include <sys/stat.h>

#include <memory>
#include <string>

#include "crash_report.h"
#include "output.h"
#include "proftrace.h"
#include "trace_end.h"
#include "trace_scan.h"
#include "tracereader/run_directory.h"

namespace proftrace {

namespace {

constexpr const char* kHelp =
    "Usage: proftrace check RUN_DIR|TRACE...\n"
    "Checks every trace of each run directory and every trace file named: the zlib\n"
    "stream must be complete (end of stream reached, Adler-32 verified, nothing after\n"
    "it), begin with a valid header (24 5 26 and two trace modes of 0 or 1) and end at\n"
    "a value boundary. Where the run directory has function name lines (a program built\n"
    "with the compiler plugin), each trace is also labelled to see how its frames end:\n"
    "open frames are normal under a call of exit, _Exit, _exit, abort or quick_exit, and\n"
    "in a thread still running when another thread of the run ended the process (by\n"
    "such a call, or by returning from main); frames left open otherwise are a finding.\n"
    "Prints one line per trace: 'ok' or what is wrong and how far it decodes. A\n"
    "directory that is not a run directory or holds no trace is a finding.\n"
    "A run ended by a signal (its run directory holds a crash file) gets a line of its\n"
    "own, 'CRASHED:' with the signal and the thread that received it; its traces end\n"
    "where the crash handler finished them, frames open by nature. A trace the crash\n"
    "file says was cut inside a record or could not be finished is reported as such,\n"
    "not as damage. A malformed crash file is a finding.\n"
    "Exit status: 0 when every trace is sound, 1 on any finding, 3 when the run crashed\n"
    "and every trace is as its crash file says, 2 on a usage error.\n";

// The run a trace belongs to, with what labelling it needs.
struct RunContext {
  static constexpr tracereader::Convention kConvention = tracereader::Convention::kDecodable;
  explicit RunContext(const std::string& dir)
      : run(tracereader::readRunDirectory(dir)), names(run), ends(run, names, kConvention) {}
  tracereader::RunDirectory run;
  tracereader::NameIndex names;
  RunEnds ends;
  [[nodiscard]] bool labelled() const { return names.hasFunctionNames(); }
};

// The verdict on one trace. This is where a trace's end is classified: the
// stream first (complete, truncated, damaged), then its frames. In a run
// ended by a signal the crash file explains what the handler did to each
// trace: a record it cut and a trace it could not finish are its doing,
// not damage of unknown cause.
bool checkOne(const std::string& path, uint32_t thread, RunContext* context, const Io& io) {
  const TraceScan scan = scanTrace(path, io.err);
  EndFacts end;
  if (scan.sound() && context != nullptr && context->labelled()) end = labelEnd(path, context->names, RunContext::kConvention);
  if (context != nullptr) context->ends.classify(thread, &end);
  using tracereader::CrashTrace;
  const bool cutByTheCrash = end.crashTrace == CrashTrace::kFinishedCutRecord && cutOnlyByTheCrash(scan);
  if (cutByTheCrash && !scan.sound() && context != nullptr && context->labelled()) {
    end = labelEnd(path, context->names, RunContext::kConvention);
    context->ends.classify(thread, &end);
  }
  if ((scan.sound() || cutByTheCrash) && !end.finding()) {
    std::string frames = end.describe();
    if (frames.empty() || end.end == TraceEnd::kNotFollowed) {
      const std::string outcome = end.describeCrashOutcome();
      if (!outcome.empty()) frames += (frames.empty() ? "" : "; ") + outcome;
    }
    std::fprintf(io.out, "%s: ok (%llu values, %llu bytes%s%s)\n", printable(path).c_str(),
                 static_cast<unsigned long long>(scan.values), static_cast<unsigned long long>(scan.plainBytes),
                 frames.empty() ? "" : "; ", frames.c_str());
    return true;
  }
  if (end.crashTrace == CrashTrace::kUnfinished && !scan.sound()) {
    std::fprintf(io.out, "%s: %s: %s; decodes to offset %llu (%llu values)\n", printable(path).c_str(),
                 end.describeCrashOutcome().c_str(), scan.findings().c_str(),
                 static_cast<unsigned long long>(scan.plainBytes), static_cast<unsigned long long>(scan.values));
    return true;
  }
  const std::string findings = scan.sound() ? end.describe() : scan.findings();
  std::fprintf(io.out, "%s: BAD: %s; decodes to offset %llu (%llu values)\n", printable(path).c_str(),
               findings.c_str(), static_cast<unsigned long long>(scan.plainBytes),
               static_cast<unsigned long long>(scan.values));
  return false;
}

// The run's own line when it was ended by a signal; false when its crash
// file is malformed (a finding).
bool checkCrash(const std::string& dir, const tracereader::RunDirectory& run, const Io& io) {
  const tracereader::CrashRecord& crash = *run.crash;
  if (crash.signal != 0)
    std::fprintf(io.out, "%s: CRASHED: %s; 'proftrace crash %s' shows the last records of every thread\n",
                 printable(dir).c_str(), crashSummary(crash).c_str(), printable(dir).c_str());
  if (crash.problems.empty()) return true;
  std::string all;
  for (const std::string& p : crash.problems) all += (all.empty() ? "" : "; ") + p;
  std::fprintf(io.out, "%s: BAD: malformed crash file: %s\n", printable(dir).c_str(), printable(all).c_str());
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
  bool crashed = false;
  for (const std::string& path : args.positional) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      RunContext context(path);
      if (!context.run.isRunDirectory || context.run.traces.empty()) {
        std::fprintf(io.out, "%s: BAD: %s\n", printable(path).c_str(),
                     context.run.isRunDirectory ? kNoTraces : "not a run directory");
        allSound = false;
        continue;
      }
      if (context.run.crash) {
        crashed = true;
        allSound = checkCrash(path, context.run, io) && allSound;
      }
      for (const auto& t : context.run.traces) allSound = checkOne(t.path, t.thread, &context, io) && allSound;
    } else {
      // A trace named alone is judged with the run directory it lies in.
      const size_t slash = path.find_last_of('/');
      const auto thread = tracereader::traceFileThread(slash == std::string::npos ? path : path.substr(slash + 1));
      std::unique_ptr<RunContext> context;
      if (thread) context = std::make_unique<RunContext>(directoryOf(path));
      if (context && context->run.crash) {
        crashed = true;
        allSound = context->run.crash->problems.empty() && allSound;
      }
      allSound = checkOne(path, thread.value_or(0), context.get(), io) && allSound;
    }
  }
  // A finding weighs more than the crash: the run's data cannot be trusted.
  return !allSound ? kExitFinding : crashed ? kExitCrashed : kExitOk;
}

}  // namespace proftrace
