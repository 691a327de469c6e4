// proftrace report: what a designer learns from a run directory, per
// function, variable, heap allocation site and stream (analysis in
// tools/report, formatting in report_text.cpp and report_json.cpp).
#include <memory>
#include <string>

#include "output.h"
#include "proftrace.h"
#include "report_output.h"

namespace proftrace {

namespace {

constexpr const char* kHelp =
    "Usage: proftrace report RUN_DIR [--json]\n"
    "What the run did, for hardware decisions, from a run directory written by a program\n"
    "built with the compiler plugin (the decodable-trace convention; see 'proftrace dump\n"
    "--help'). The traces carry no time: calls and memory accesses are the measure of work.\n"
    "  threads: start function, name, calls and accesses, whether the trace is complete;\n"
    "  functions: calls per thread, accesses made while on top of the stack (exclusive) and\n"
    "    while anywhere on it (inclusive), the call graph with call counts, and the\n"
    "    registered functions never entered with the likely reason;\n"
    "  variables (globals, thread-locals, locals, heap blocks): accesses by function and by\n"
    "    thread, bytes touched against the size, a histogram of the offsets, the pattern\n"
    "    (single, sequential, strided with its stride, random), variables shared by threads;\n"
    "  heap blocks grouped by the function that allocated them;\n"
    "  streams (the run directory's streams file): traffic, empty reads, elements left,\n"
    "    occupancy high-water mark, producer and consumer threads.\n"
    "--json prints one JSON document instead (schema in docs/report.md).\n"
    "Traces are read once, streaming. Exit status: 0 when every trace was complete and\n"
    "decoded, 1 otherwise (the report then covers what could be read, with notes), 2 on a\n"
    "usage error.\n";

}  // namespace

int reportCommand(int argc, const char* const* argv, const Io& io) {
  const Args args = parseArgs(argc, argv, {"--json"});
  if (args.help) {
    std::fputs(kHelp, io.out);
    return kExitOk;
  }
  bool json = false;
  std::string bad = args.bad;
  for (const auto& [name, value] : args.options) {
    if (value.empty())
      json = true;
    else if (bad.empty())
      bad = name + "=" + value;
  }
  if (!bad.empty() || args.positional.size() != 1) {
    if (!bad.empty()) std::fprintf(io.err, "proftrace report: unusable option '%s'\n", bad.c_str());
    std::fputs(kHelp, io.err);
    return kExitUsage;
  }
  const std::string& dir = args.positional[0];
  const tracereader::RunDirectory run = tracereader::readRunDirectory(dir);
  if (!run.isRunDirectory) {
    std::fprintf(io.err, "proftrace: %s: not a run directory (no manifest files, no thread traces)\n", dir.c_str());
    return kExitFinding;
  }
  std::unique_ptr<Progress> progress;
  report::AnalysisHooks hooks;
  hooks.traceStarted = [&](const std::string& path, const tracereader::TraceStream& stream) {
    if (progress) progress->finish();
    progress = std::make_unique<Progress>(io.err, path, stream);
  };
  hooks.recordRead = [&] { progress->tick(); };
  const report::Report r = report::analyseRun(run, hooks);
  if (progress) progress->finish();
  for (const std::string& n : r.notes) std::fprintf(io.err, "proftrace: %s: %s\n", dir.c_str(), n.c_str());
  if (json)
    writeReportJson(r, io.out);
  else
    writeReportText(r, io.out);
  return r.complete ? kExitOk : kExitFinding;
}

}  // namespace proftrace
