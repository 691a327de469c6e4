// proftrace crash: what a run ended by a signal was doing. The crash
// record, then per thread the last records it wrote (labelled where the
// run has names, bare values otherwise) and its stack at the crash.
#include <cerrno>
#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

#include "crash_report.h"
#include "output.h"
#include "proftrace.h"
#include "record_fields.h"
#include "trace_end.h"
#include "trace_scan.h"
#include "tracereader/records.h"
#include "tracereader/run_directory.h"

namespace proftrace {

namespace {

constexpr const char* kHelp =
    "Usage: proftrace crash RUN_DIR [--last N] [--json]\n"
    "Shows how a run ended by a signal ended: the crash record its run directory holds\n"
    "(the signal and its code, the thread that received it, the faulting address and\n"
    "the variable or heap block it falls into, or the nearest one below it), then per\n"
    "thread what became of its trace, its virtual call stack at the crash (innermost\n"
    "first, with names) and its last N records (default 20, at most 1000000), labelled\n"
    "as 'dump --labels' labels them. A run without function name lines (a hand-\n"
    "instrumented program) cannot be labelled: its last N values are shown instead,\n"
    "with the reason. --json prints one JSON document (docs/proftrace.md).\n"
    "Exit status: 0 when the run crashed and was read, 1 when it did not crash (it has\n"
    "no crash file) or its crash file or a trace cannot be read as the crash file says,\n"
    "2 on a usage error.\n";

constexpr uint64_t kMaxLast = 1000000;

unsigned long long ull(uint64_t v) { return static_cast<unsigned long long>(v); }

struct Value {
  uint64_t offset;
  tracereader::Leb128 value;
};

// One thread's trace read to its end, keeping only its last records or values.
struct ThreadTail {
  bool opened = false;
  std::string openError;
  tracereader::StreamState state = tracereader::StreamState::kUnreadable;
  std::string detail;
  bool labelled = false;
  std::deque<tracereader::Record> records;
  std::deque<Value> values;
  uint64_t count = 0;  // records or values in the whole trace
  std::string stop;    // where and why the labels stopped, when not at the crash's cut
  EndFacts frames;
};

template <typename T>
void keep(std::deque<T>* tail, T item, uint64_t last) {
  tail->push_back(std::move(item));
  if (tail->size() > last) tail->pop_front();
}

ThreadTail readTail(const tracereader::ThreadTrace& t, const tracereader::NameIndex& names, RunEnds* ends,
                    uint64_t last, const Io& io) {
  ThreadTail tail;
  tracereader::TraceStream stream;
  if (!stream.openFile(t.path)) {
    tail.openError = stream.detail();
    return tail;
  }
  tail.opened = true;
  Progress progress(io.err, t.path, stream);
  tail.labelled = names.hasFunctionNames();
  if (tail.labelled) {
    tracereader::DecoderOptions options;
    options.names = &names;
    tracereader::RecordDecoder decoder(stream, options);
    EndTracker tracker;
    tracereader::Record r;
    while (decoder.next(&r)) {
      tracker.see(r);
      keep(&tail.records, r, last);
      ++tail.count;
      progress.tick();
    }
    tail.frames = tracker.finish(decoder, stream);
    ends->classify(t.thread, &tail.frames);
    const auto& status = decoder.status();
    const bool cutByTheCrash = tail.frames.end == TraceEnd::kCrashed && tail.frames.cutRecord;
    if (status.state == tracereader::DecodeStatus::kStopped && !cutByTheCrash)
      tail.stop = "at offset " + std::to_string(status.offset) + ": " + status.reason;
  } else {
    // The values after the header: bare values carry no record boundaries.
    readHeader(stream);
    for (;;) {
      Value v{stream.offset(), {}};
      if (stream.next(&v.value) != tracereader::ReadResult::kOk) break;
      keep(&tail.values, v, last);
      ++tail.count;
      progress.tick();
    }
    ends->classify(t.thread, &tail.frames);
  }
  progress.finish();
  tail.state = stream.state();
  tail.detail = stream.detail();
  return tail;
}

// Whether the trace reads as the crash file says it should.
bool asTheCrashSays(const ThreadTail& tail) {
  if (!tail.opened) return false;
  if (tail.frames.crashTrace == tracereader::CrashTrace::kUnfinished) return true;
  return tail.state == tracereader::StreamState::kComplete;
}

std::string outcomeText(const ThreadTail& tail) {
  if (!tail.frames.crashTrace) return "not listed in the crash file: its trace ended before the crash";
  switch (*tail.frames.crashTrace) {
    case tracereader::CrashTrace::kFinished: return "trace finished at the crash";
    case tracereader::CrashTrace::kFinishedCutRecord:
      return "trace finished at the crash; its last values begin a record the crash cut";
    case tracereader::CrashTrace::kClosed: return "trace closed by the ordinary end of the run or of the thread";
    case tracereader::CrashTrace::kUnfinished: return tail.frames.describeCrashOutcome();
  }
  return "";
}

void printThreadText(const Io& io, const tracereader::ThreadTrace& t, const tracereader::CrashRecord& crash,
                     const tracereader::NameIndex& names, const ThreadTail& tail) {
  const size_t slash = t.path.find_last_of('/');
  std::fprintf(io.out, "Thread %u (%s): ", t.thread, printable(t.path.substr(slash + 1)).c_str());
  if (!tail.opened) {
    std::fprintf(io.out, "not read: %s\n", tail.openError.c_str());
    return;
  }
  std::fprintf(io.out, "%s; %llu %s%s\n", outcomeText(tail).c_str(), ull(tail.count), tail.labelled ? "record" : "value",
               tail.count == 1 ? "" : "s");
  if (tail.state != tracereader::StreamState::kComplete)
    std::fprintf(io.out, "  stream: %s (%s)\n", tracereader::stateName(tail.state), tail.detail.c_str());
  if (tail.frames.end == TraceEnd::kCrashed || tail.frames.end == TraceEnd::kEndedProcess ||
      tail.frames.end == TraceEnd::kRunningAtExit || tail.frames.end == TraceEnd::kLeftOpen)
    std::fprintf(io.out, "  end: %s\n", tail.frames.describe().c_str());
  if (!tail.stop.empty()) std::fprintf(io.out, "  labels stop %s\n", tail.stop.c_str());
  if (const tracereader::CrashThread* listed = crash.find(t.thread))
    std::fprintf(io.out, "  stack at the crash: %s\n", stackText(*listed, names).c_str());
  if (tail.labelled) {
    std::fprintf(io.out, "  last %zu records:\n  %8s %5s record\n", tail.records.size(), "offset", "depth");
    for (const tracereader::Record& r : tail.records) printRecordText(io.out, r, "  ");
  } else {
    std::fprintf(io.out, "  no labels: %s; the last %zu values instead:\n  %8s %20s %20s\n", kNoNameLines,
                 tail.values.size(), "offset", "unsigned", "signed");
    for (const Value& v : tail.values)
      std::fprintf(io.out, "  %8llu %20llu %20lld\n", ull(v.offset), ull(v.value.value),
                   static_cast<long long>(v.value.signedValue));
  }
}

void printThreadJson(const Io& io, const tracereader::ThreadTrace& t, const ThreadTail& tail) {
  std::fprintf(io.out, "{\"thread\":%u,\"trace\":%s,\"outcome\":", t.thread, jsonString(t.path).c_str());
  if (tail.frames.crashTrace) {
    std::fprintf(io.out, "\"%s\"", tracereader::crashTraceName(*tail.frames.crashTrace));
  } else {
    std::fputs("null", io.out);
  }
  std::fprintf(io.out, ",\"stream\":\"%s\"", tail.opened ? tracereader::stateName(tail.state) : "unreadable");
  if (!tail.opened || tail.state != tracereader::StreamState::kComplete)
    std::fprintf(io.out, ",\"detail\":%s", jsonString(tail.opened ? tail.detail : tail.openError).c_str());
  std::fprintf(io.out, ",\"labelled\":%s,\"count\":%llu", tail.labelled ? "true" : "false", ull(tail.count));
  if (tail.labelled) {
    std::fputs(",\"records\":[", io.out);
    bool first = true;
    for (const tracereader::Record& r : tail.records) {
      if (!first) std::fputc(',', io.out);
      first = false;
      printRecordJson(io.out, r);
    }
    const EndFacts& f = tail.frames;
    std::fprintf(io.out, "],\"frames\":\"%s\",\"openFrames\":%llu", traceEndName(f.end), ull(f.openFrames));
    if (f.openFrames != 0) std::fprintf(io.out, ",\"innermost\":%s", jsonString(f.innermost).c_str());
    if (f.cutRecord) std::fputs(",\"cutRecord\":true", io.out);
    if (!tail.stop.empty()) std::fprintf(io.out, ",\"stopped\":%s", jsonString(tail.stop).c_str());
  } else {
    std::fputs(",\"values\":[", io.out);
    bool first = true;
    for (const Value& v : tail.values) {
      std::fprintf(io.out, "%s{\"offset\":%llu,\"unsigned\":%llu,\"signed\":%lld}", first ? "" : ",", ull(v.offset),
                   ull(v.value.value), static_cast<long long>(v.value.signedValue));
      first = false;
    }
    std::fprintf(io.out, "],\"why\":%s", jsonString(kNoNameLines).c_str());
  }
  std::fputc('}', io.out);
}

}  // namespace

int crashCommand(int argc, const char* const* argv, const Io& io) {
  // "--last N" as well as "--last=N".
  std::vector<std::string> joined;
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--last" && i + 1 < argc) {
      joined.push_back("--last=" + std::string(argv[++i]));
    } else {
      joined.push_back(arg);
    }
  }
  std::vector<const char*> args_v;
  for (const std::string& a : joined) args_v.push_back(a.c_str());
  const Args args = parseArgs(static_cast<int>(args_v.size()), args_v.data(), {"--last", "--json"});
  if (args.help) {
    std::fputs(kHelp, io.out);
    return kExitOk;
  }
  bool json = false;
  uint64_t last = 20;
  std::string bad = args.bad;
  for (const auto& [name, value] : args.options) {
    char* end = nullptr;
    errno = 0;
    if (name == "--json" && value.empty()) {
      json = true;
    } else if (name == "--last" && !value.empty() && value[0] >= '0' && value[0] <= '9' &&
               (last = std::strtoull(value.c_str(), &end, 10), errno == 0 && *end == '\0' && last >= 1 &&
                                                                  last <= kMaxLast)) {
    } else if (bad.empty()) {
      bad = name + (value.empty() ? "" : "=" + value);
    }
  }
  if (!bad.empty() || args.positional.size() != 1) {
    if (!bad.empty()) std::fprintf(io.err, "proftrace crash: unusable option '%s'\n", bad.c_str());
    std::fputs(kHelp, io.err);
    return kExitUsage;
  }
  const std::string& dir = args.positional[0];
  const tracereader::RunDirectory run = tracereader::readRunDirectory(dir);
  if (!run.isRunDirectory) {
    std::fprintf(io.err, "proftrace: %s: not a run directory (no manifest files, no thread traces)\n", dir.c_str());
    return kExitFinding;
  }
  if (!run.crash) {
    std::fprintf(io.out, "%s: the run did not crash: its run directory holds no crash file (a run ended by a fatal or "
                         "termination signal leaves one)\n",
                 printable(dir).c_str());
    return kExitFinding;
  }
  const tracereader::CrashRecord& crash = *run.crash;
  const tracereader::NameIndex names(run);
  RunEnds ends(run, names, tracereader::Convention::kDecodable);
  bool read = crash.problems.empty() && crash.signal != 0;
  if (json) {
    std::fprintf(io.out, "{\"runDirectory\":%s,\"crash\":", jsonString(dir).c_str());
    printCrashJson(io.out, run, names, crash);
    std::fprintf(io.out, ",\"last\":%llu,\"threads\":[", ull(last));
  } else {
    std::fprintf(io.out, "Run directory:      %s\n", printable(dir).c_str());
    printCrashText(io.out, run, names, crash);
  }
  bool first = true;
  for (const tracereader::ThreadTrace& t : run.traces) {
    const ThreadTail tail = readTail(t, names, &ends, last, io);
    if (!asTheCrashSays(tail)) {
      read = false;
      std::fprintf(io.err, "proftrace: %s: %s%s%s\n", t.path.c_str(),
                   tail.opened ? tracereader::stateName(tail.state) : "not read",
                   tail.opened && tail.detail.empty() ? "" : ": ", tail.opened ? tail.detail.c_str() : tail.openError.c_str());
    }
    if (json) {
      if (!first) std::fputc(',', io.out);
      printThreadJson(io, t, tail);
    } else {
      printThreadText(io, t, crash, names, tail);
    }
    first = false;
  }
  if (json) std::fputs("]}\n", io.out);
  for (const std::string& p : crash.problems) std::fprintf(io.err, "proftrace: %s/%s\n", dir.c_str(), p.c_str());
  return read ? kExitOk : kExitFinding;
}

}  // namespace proftrace
