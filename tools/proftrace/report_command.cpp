// proftrace report: what a designer learns from a run directory, per
// function, variable, heap allocation site and stream (analysis in
// tools/report, formatting in report_text.cpp, report_json.cpp and
// report_html.cpp, pictures by Graphviz through report_graphviz.cpp).
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "output.h"
#include "proftrace.h"
#include "report/report_graphs.h"
#include "report_graphviz.h"
#include "report_output.h"

namespace proftrace {

namespace {

constexpr const char* kHelp =
    "Usage: proftrace report RUN_DIR [--json | --html DIR]\n"
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
    "With access mode 2 traces (the plugin's access-kinds option) every access count is\n"
    "split into reads and writes.\n"
    "--json prints one JSON document instead (schema in docs/report.md).\n"
    "--html DIR writes DIR/report.html, one self-contained page with sortable tables, the\n"
    "dataflow graph (threads; streams and shared variables between them) and the call\n"
    "graph, and beside it those pictures as Graphviz sources and SVG (dataflow.dot,\n"
    "dataflow.svg, callgraph.dot, callgraph.svg); it prints the page's path. The pictures\n"
    "are drawn by Graphviz's dot (Debian package graphviz), which must be on the PATH.\n"
    "Traces are read once, streaming. Exit status: 0 when every trace was complete and\n"
    "decoded, 1 otherwise (the report then covers what could be read, with notes), 2 on a\n"
    "usage error.\n";

bool writeFile(const std::string& path, const std::string& text, std::string* error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) *error = path + ": cannot be written";
  return static_cast<bool>(out);
}

// The page and its pictures in `dir`; false with *error when something
// could not be made.
bool writeHtml(const report::Report& r, const std::string& dir, std::string* error) {
  if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
    *error = dir + ": cannot be created: " + std::strerror(errno);
    return false;
  }
  std::string svgs[2];
  const std::pair<const char*, std::string> graphs[2] = {{"dataflow", report::dataflowDot(r)},
                                                         {"callgraph", report::callGraphDot(r)}};
  for (int i = 0; i < 2; ++i) {
    const std::string base = dir + "/" + graphs[i].first;
    if (!writeFile(base + ".dot", graphs[i].second, error) || !renderSvg(base + ".dot", base + ".svg", error))
      return false;
    std::ifstream in(base + ".svg", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    svgs[i] = text.str();
  }
  const std::string page = dir + "/report.html";
  std::FILE* out = std::fopen(page.c_str(), "w");
  if (out == nullptr) {
    *error = page + ": cannot be created: " + std::strerror(errno);
    return false;
  }
  writeReportHtml(r, svgs[0], svgs[1], out);
  const bool failed = std::ferror(out) != 0;
  if (std::fclose(out) != 0 || failed) {
    *error = page + ": cannot be written";
    return false;
  }
  return true;
}

}  // namespace

int reportCommand(int argc, const char* const* argv, const Io& io) {
  const Args args = parseArgs(argc, argv, {"--json", "--html"});
  if (args.help) {
    std::fputs(kHelp, io.out);
    return kExitOk;
  }
  bool json = false;
  bool html = false;
  std::string htmlDir;
  std::string bad = args.bad;
  std::vector<std::string> positional = args.positional;
  for (const auto& [name, value] : args.options) {
    if (name == "--html") {
      html = true;
      htmlDir = value;
    } else if (value.empty()) {
      json = true;
    } else if (bad.empty()) {
      bad = name + "=" + value;
    }
  }
  // "--html DIR": the directory is the argument after the run directory.
  if (html && htmlDir.empty() && positional.size() == 2) {
    htmlDir = positional[1];
    positional.pop_back();
  }
  if (bad.empty() && html && (json || htmlDir.empty())) bad = json ? "--json with --html" : "--html without DIR";
  if (!bad.empty() || positional.size() != 1) {
    if (!bad.empty()) std::fprintf(io.err, "proftrace report: unusable option '%s'\n", bad.c_str());
    std::fputs(kHelp, io.err);
    return kExitUsage;
  }
  const std::string& dir = positional[0];
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
  if (html) {
    std::string error;
    if (!writeHtml(r, htmlDir, &error)) {
      std::fprintf(io.err, "proftrace: %s\n", error.c_str());
      return kExitFinding;
    }
    std::fprintf(io.out, "%s/report.html\n", htmlDir.c_str());
  } else if (json) {
    writeReportJson(r, io.out);
  } else {
    writeReportText(r, io.out);
  }
  return r.complete ? kExitOk : kExitFinding;
}

}  // namespace proftrace
