// proftrace info: the manifest of a run directory in readable form, and one
// summary line per thread trace.
#include <string>

#include "crash_report.h"
#include "output.h"
#include "proftrace.h"
#include "trace_scan.h"
#include "tracereader/run_directory.h"

namespace proftrace {

namespace {

constexpr const char* kHelp =
    "Usage: proftrace info RUN_DIR\n"
    "Shows a run directory: the program that ran (the first argument of its command\n"
    "line), working directory, command line, binaries, load order, function mapping\n"
    "(with names where globalVariableMapping has name lines), the variables named there,\n"
    "and per thread: trace file, compressed and raw size, whether the stream is complete\n"
    "(ends with its checksum), the trace modes of its header and its number of values.\n"
    "A run without function name lines (hand instrumentation) gets a line saying why its\n"
    "records cannot be labelled. A run ended by a signal gets its crash record: the\n"
    "signal and its code, the thread that received it, the faulting address and what it\n"
    "falls into, and every thread's stack at the crash with names; each thread's line\n"
    "then says what the crash handler made of its trace.\n"
    "Exit status: 0 when the manifest, the crash file and every trace are sound (a trace\n"
    "the crash file says was cut or left unfinished is not a finding), 1 when something\n"
    "is missing, malformed, truncated or damaged (named on standard error), 2 on a usage\n"
    "error.\n";

std::string baseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

const char* onOff(bool b) { return b ? "on" : "off"; }

}  // namespace

int infoCommand(int argc, const char* const* argv, const Io& io) {
  const Args args = parseArgs(argc, argv, {});
  if (args.help) {
    std::fputs(kHelp, io.out);
    return kExitOk;
  }
  if (!args.bad.empty() || args.positional.size() != 1) {
    if (!args.bad.empty()) std::fprintf(io.err, "proftrace info: unknown option '%s'\n", args.bad.c_str());
    std::fputs(kHelp, io.err);
    return kExitUsage;
  }
  const std::string& dir = args.positional[0];
  const tracereader::RunDirectory run = tracereader::readRunDirectory(dir);
  if (!run.isRunDirectory) {
    std::fprintf(io.err, "proftrace: %s: not a run directory (no manifest files, no thread traces)\n", dir.c_str());
    for (const std::string& p : run.problems)
      if (p.rfind(dir, 0) == 0) std::fprintf(io.err, "proftrace: %s\n", p.c_str());
    return kExitFinding;
  }
  bool findings = !run.problems.empty();
  std::FILE* out = io.out;
  std::fprintf(out, "Run directory:      %s\n", printable(dir).c_str());
  if (!run.arguments.empty()) {
    std::fprintf(out, "Program:            %s (run as %s)\n", printable(baseName(run.arguments[0])).c_str(),
                 printable(run.arguments[0]).c_str());
  } else {
    std::fprintf(out, "Program:            (unknown: no command line)\n");
  }
  std::fprintf(out, "Working directory:  %s\n", run.workingDirectory ? printable(*run.workingDirectory).c_str() : "(missing)");
  std::fprintf(out, "Command line:       %s\n", run.commandlineText ? printable(*run.commandlineText).c_str() : "(missing)");
  for (size_t i = 0; i < run.arguments.size(); ++i)
    std::fprintf(out, "  argument %zu:        %s\n", i, printable(run.arguments[i]).c_str());
  std::string list;
  for (const auto& b : run.binaries) list += (list.empty() ? "" : " ") + printable(b);
  std::fprintf(out, "Binaries:           %s\n", list.c_str());
  list.clear();
  for (const auto& b : run.lookupOrder) list += (list.empty() ? "" : " ") + printable(b);
  std::fprintf(out, "Load order:         %s\n", list.c_str());

  const tracereader::NameIndex names(run);
  std::fprintf(out, "Functions (%zu):\n", run.functionMapping.size());
  if (!run.functionMapping.empty()) std::fprintf(out, "  %-10s %-10s %-10s %s\n", "static id", "binary", "linked id", "name");
  for (const auto& m : run.functionMapping) {
    const std::string_view name = names.functionName(m.linkedId);
    std::fprintf(out, "  %-10u %-10s %-10u %s\n", m.staticId, printable(m.binary).c_str(), m.linkedId,
                 name.empty() ? "-" : printable(name).c_str());
  }
  std::fprintf(out, "Variables (%zu globals and thread-locals, %zu locals)%s\n", run.names.variables.size(),
               run.names.locals.size(), run.hasNameFile && run.names.functions.empty() && run.names.variables.empty()
                                            ? ": globalVariableMapping has no name lines"
                                            : "");
  for (const auto& v : run.names.variables) {
    std::string where = v.sourceFile.empty() ? "" : " at " + printable(v.sourceFile) + ":" + std::to_string(v.line);
    std::fprintf(out, "  %-11s %-10s id %-6u %s, %llu bytes%s\n", v.threadLocal ? "threadlocal" : "global",
                 printable(v.binary).c_str(), v.id, printable(v.name).c_str(), static_cast<unsigned long long>(v.size),
                 where.c_str());
  }
  for (const auto& l : run.names.locals)
    std::fprintf(out, "  %-11s %-10s id %-6u %s, %llu bytes, of function %u\n", "local", printable(l.binary).c_str(), l.id,
                 printable(l.name).c_str(), static_cast<unsigned long long>(l.size), l.functionStaticId);

  if (!names.hasFunctionNames()) std::fprintf(out, "Labels:             none: %s\n", kNoNameLines);
  if (run.crash) {
    printCrashText(out, run, names, *run.crash);
    if (!run.crash->problems.empty()) findings = true;
  }
  std::fprintf(out, "Threads (%zu):\n", run.traces.size());
  for (const auto& t : run.traces) {
    const TraceScan scan = scanTrace(t.path, io.err);
    const std::string file = baseName(t.path);
    std::string modes = scan.header.valid ? std::string("accesses ") + onOff(scan.header.traceAccesses) +
                                                ", allocations " + onOff(scan.header.traceAllocations)
                                          : "no valid header";
    // What the crash handler did to the trace explains a cut record or a
    // stream it could not finish.
    const tracereader::CrashThread* listed = run.crash ? run.crash->find(t.thread) : nullptr;
    std::string atTheCrash;
    bool explained = false;
    if (listed != nullptr && listed->trace) {
      using tracereader::CrashTrace;
      atTheCrash = *listed->trace == CrashTrace::kClosed
                       ? std::string(", closed before the crash")
                       : std::string(", ") + tracereader::crashTraceName(*listed->trace) + " at the crash";
      explained = (*listed->trace == CrashTrace::kUnfinished) ||
                  (*listed->trace == CrashTrace::kFinishedCutRecord && cutOnlyByTheCrash(scan));
    }
    std::fprintf(out, "  thread %u: %s, %llu bytes compressed, %llu bytes raw, %s%s, %s, %llu values\n", t.thread,
                 file.c_str(), static_cast<unsigned long long>(scan.compressedSize),
                 static_cast<unsigned long long>(scan.plainBytes),
                 scan.state == tracereader::StreamState::kComplete ? "complete" : tracereader::stateName(scan.state),
                 atTheCrash.c_str(), modes.c_str(), static_cast<unsigned long long>(scan.values));
    if (!scan.sound() && !explained) {
      findings = true;
      std::fprintf(io.err, "proftrace: %s: %s; decodes to offset %llu\n", t.path.c_str(), scan.findings().c_str(),
                   static_cast<unsigned long long>(scan.plainBytes));
    }
  }
  if (run.traces.empty()) {
    findings = true;
    std::fprintf(io.err, "proftrace: %s: %s\n", dir.c_str(), kNoTraces);
  }
  for (const std::string& p : run.problems) std::fprintf(io.err, "proftrace: %s/%s\n", dir.c_str(), p.c_str());
  return findings ? kExitFinding : kExitOk;
}

}  // namespace proftrace
