// proftrace export: the run report's tables as CSV files, for pandas,
// DuckDB, spreadsheets. Records are written while the traces are read, so
// the export needs no more memory than the report.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "output.h"
#include "proftrace.h"
#include "report_output.h"

namespace proftrace {

namespace {

constexpr const char* kHelp =
    "Usage: proftrace export RUN_DIR --csv DIR\n"
    "Writes the tables of 'proftrace report' as CSV files (RFC 4180, a header row each)\n"
    "into DIR, which is created if missing; existing files of these names are replaced:\n"
    "  records.csv     every labelled record of every trace, with function and variable names\n"
    "  threads.csv     one row per thread\n"
    "  functions.csv   one row per function entered; call_graph.csv one row per call edge\n"
    "  variables.csv   one row per variable (globals, thread-locals, locals, heap blocks)\n"
    "  variable_access.csv  accesses per variable, function and thread\n"
    "  heap_blocks.csv one row per heap block, with its allocation site\n"
    "  streams.csv     one row per stream of the run directory's streams file\n"
    "The columns are described in docs/report.md. Exit status: 0 when every trace was\n"
    "complete and decoded, 1 otherwise or when a file cannot be written, 2 on a usage error.\n";

unsigned long long ull(uint64_t v) { return static_cast<unsigned long long>(v); }

// A CSV field: quoted when it holds a comma, a quote or a line end.
std::string csv(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + '"';
}

std::string numbers(const std::vector<uint32_t>& values) {
  std::string out;
  for (uint32_t v : values) out += (out.empty() ? "" : " ") + (v == report::kUnknownThread ? std::string("-") : std::to_string(v));
  return out;
}

class CsvFile {
 public:
  CsvFile(const std::string& dir, const char* name, const char* header) : path_(dir + "/" + name) {
    file_ = std::fopen(path_.c_str(), "w");
    if (file_ != nullptr) std::fprintf(file_, "%s\n", header);
  }
  ~CsvFile() {
    if (file_ != nullptr) std::fclose(file_);
  }
  CsvFile(const CsvFile&) = delete;
  CsvFile& operator=(const CsvFile&) = delete;
  [[nodiscard]] std::FILE* get() const { return file_; }
  // Closes the file; false (and *why) when it could not be written.
  bool finish(std::string* why) {
    if (file_ == nullptr) {
      *why = path_ + ": cannot be created";
      return false;
    }
    const bool failed = std::ferror(file_) != 0;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (failed || !closed) *why = path_ + ": cannot be written";
    return !failed && closed;
  }

 private:
  std::string path_;
  std::FILE* file_ = nullptr;
};

void recordRow(std::FILE* f, uint32_t thread, const tracereader::Record& r) {
  std::fprintf(f, "%u,%llu,%u,%s,%llu,%llu,%llu,%llu,%llu,%s,%s,%s,%s\n", thread, ull(r.offset), r.depth,
               tracereader::recordKindName(r.kind), ull(r.id), ull(r.value), ull(r.address), ull(r.frame),
               ull(r.thread), r.hasBlockSize ? std::to_string(r.blockSize).c_str() : "", csv(r.function).c_str(),
               csv(r.variable).c_str(), csv(r.text).c_str());
}

}  // namespace

int exportCommand(int argc, const char* const* argv, const Io& io) {
  const Args args = parseArgs(argc, argv, {"--csv"});
  if (args.help) {
    std::fputs(kHelp, io.out);
    return kExitOk;
  }
  std::string bad = args.bad;
  std::vector<std::string> positional = args.positional;
  std::string outDir;
  bool csvGiven = false;
  for (const auto& [name, value] : args.options) {
    csvGiven = true;
    outDir = value;
  }
  // "--csv DIR": the directory is the argument after the run directory.
  if (csvGiven && outDir.empty() && positional.size() == 2) {
    outDir = positional[1];
    positional.pop_back();
  }
  if (!bad.empty() || positional.size() != 1 || outDir.empty()) {
    if (!bad.empty()) std::fprintf(io.err, "proftrace export: unusable option '%s'\n", bad.c_str());
    std::fputs(kHelp, io.err);
    return kExitUsage;
  }
  const std::string& dir = positional[0];
  const tracereader::RunDirectory run = tracereader::readRunDirectory(dir);
  if (!run.isRunDirectory) {
    std::fprintf(io.err, "proftrace: %s: not a run directory (no manifest files, no thread traces)\n", dir.c_str());
    return kExitFinding;
  }
  if (mkdir(outDir.c_str(), 0777) != 0 && errno != EEXIST) {
    std::fprintf(io.err, "proftrace: %s: cannot be created: %s\n", outDir.c_str(), std::strerror(errno));
    return kExitFinding;
  }
  CsvFile records(outDir, "records.csv",
                  "thread,offset,depth,kind,id,value,address,frame,owner_thread,block_size,function,variable,text");
  report::AnalysisHooks hooks;
  if (records.get() != nullptr)
    hooks.record = [&records](uint32_t thread, const tracereader::Record& r) { recordRow(records.get(), thread, r); };
  const report::Report r = report::analyseRun(run, hooks);

  CsvFile threads(outDir, "threads.csv", "thread,name,start_function,start_function_name,created_by,records,calls,accesses,complete");
  if (threads.get() != nullptr)
    for (const report::ThreadSummary& t : r.threads)
      std::fprintf(threads.get(), "%u,%s,%u,%s,%s,%llu,%llu,%llu,%d\n", t.thread, csv(t.name).c_str(), t.startFunction,
                   csv(t.startFunction == 0 ? "" : r.functionName(t.startFunction)).c_str(),
                   t.createdBy ? std::to_string(*t.createdBy).c_str() : "", ull(t.records), ull(t.calls),
                   ull(t.accesses), t.complete ? 1 : 0);

  CsvFile functions(outDir, "functions.csv", "id,name,calls,accesses_exclusive,accesses_inclusive");
  if (functions.get() != nullptr)
    for (const report::FunctionSummary& f : r.functions)
      std::fprintf(functions.get(), "%u,%s,%llu,%llu,%llu\n", f.id, csv(f.name).c_str(), ull(f.entries),
                   ull(f.accessesExclusive), ull(f.accessesInclusive));

  CsvFile graph(outDir, "call_graph.csv", "caller,caller_name,callee,callee_name,calls");
  if (graph.get() != nullptr)
    for (const report::CallEdge& e : r.callGraph)
      std::fprintf(graph.get(), "%u,%s,%u,%s,%llu\n", e.caller, csv(r.functionName(e.caller)).c_str(), e.callee,
                   csv(r.functionName(e.callee)).c_str(), ull(e.calls));

  CsvFile variables(outDir, "variables.csv",
                    "kind,id,name,function,size,accesses,distinct_offsets,bytes_touched,access_width,pattern,stride,"
                    "threads");
  CsvFile access(outDir, "variable_access.csv", "kind,id,name,function,thread,accesses");
  CsvFile heap(outDir, "heap_blocks.csv", "id,site_function,site_name,size,accesses,allocated_by,freed");
  for (const report::VariableSummary& v : r.variables) {
    const std::string owner = v.kind == report::VariableKind::kLocal || v.kind == report::VariableKind::kHeap
                                  ? std::to_string(v.function)
                                  : "";
    if (variables.get() != nullptr)
      std::fprintf(variables.get(), "%s,%llu,%s,%s,%llu,%llu,%llu,%s,%llu,%s,%lld,%zu\n", report::variableKindName(v.kind),
                   ull(v.id), csv(v.name).c_str(), owner.c_str(), ull(v.size), ull(v.accesses), ull(v.distinctOffsets),
                   v.bytesTouched ? std::to_string(*v.bytesTouched).c_str() : "", ull(v.accessWidth),
                   report::patternKindName(v.pattern.kind), static_cast<long long>(v.pattern.stride), v.byThread.size());
    if (access.get() != nullptr) {
      for (const auto& [function, n] : v.byFunction)
        std::fprintf(access.get(), "%s,%llu,%s,%u,,%llu\n", report::variableKindName(v.kind), ull(v.id),
                     csv(v.name).c_str(), function, ull(n));
      for (const auto& [thread, n] : v.byThread)
        std::fprintf(access.get(), "%s,%llu,%s,,%u,%llu\n", report::variableKindName(v.kind), ull(v.id),
                     csv(v.name).c_str(), thread, ull(n));
    }
    if (v.kind == report::VariableKind::kHeap && heap.get() != nullptr)
      std::fprintf(heap.get(), "%llu,%u,%s,%llu,%llu,%u,%d\n", ull(v.id), v.function,
                   csv(r.functionName(v.function)).c_str(), ull(v.size), ull(v.accesses), v.allocatedBy, v.freed ? 1 : 0);
  }

  CsvFile streams(outDir, "streams.csv",
                  "serial,name,element_size,writes,reads,empty_reads,left,high_water,producers,consumers");
  if (streams.get() != nullptr)
    for (const report::StreamSummary& s : r.streams)
      std::fprintf(streams.get(), "%llu,%s,%u,%llu,%llu,%llu,%llu,%llu,%s,%s\n", ull(s.line.serial),
                   csv(s.line.name).c_str(), s.line.elementSize, ull(s.line.writes), ull(s.line.reads),
                   ull(s.line.emptyReads), ull(s.line.left), ull(s.line.highWater), numbers(s.producers).c_str(),
                   numbers(s.consumers).c_str());

  bool written = true;
  for (CsvFile* f : {&records, &threads, &functions, &graph, &variables, &access, &heap, &streams}) {
    std::string why;
    if (!f->finish(&why)) {
      std::fprintf(io.err, "proftrace: %s\n", why.c_str());
      written = false;
    }
  }
  for (const std::string& n : r.notes) std::fprintf(io.err, "proftrace: %s: %s\n", dir.c_str(), n.c_str());
  return written && r.complete ? kExitOk : kExitFinding;
}

}  // namespace proftrace
