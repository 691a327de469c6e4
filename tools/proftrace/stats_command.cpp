// proftrace stats: per thread, calls per function, heap and thread events,
// from the labelled records of each trace.
#include <map>
#include <string>

#include "output.h"
#include "proftrace.h"
#include "trace_end.h"
#include "tracereader/records.h"
#include "tracereader/run_directory.h"

namespace proftrace {

namespace {

using tracereader::RecordKind;

constexpr const char* kHelp =
    "Usage: proftrace stats RUN_DIR [--convention=decodable|hand]\n"
    "Per thread: function entries and exits per function (named from the function\n"
    "mapping and the name lines), heap allocations, reallocations and frees with their\n"
    "bytes, accesses by kind, and thread creations, joins and namings. The counts come\n"
    "from labelled records (see 'proftrace dump --help' for when labels can be trusted);\n"
    "a trace the labelling cannot decode gets a note with the offset and the reason, and\n"
    "its counts cover only the records before that offset. Traces of programs built with\n"
    "basic-block records (BASIC_BLOCKS) are not labelled: their block values read like\n"
    "access codes, and the labels stop at the first that names no known variable.\n"
    "Frames a thread left open are reported as 'dump --labels' does: normal under exit\n"
    "and its kin or while another thread ended the process, a finding otherwise. In a\n"
    "run ended by a signal (a crash file in its run directory) the traces end at the\n"
    "crash: the 'end:' line says where each thread was, and a record the crash cut\n"
    "short ends the counts without a note.\n"
    "Functions registered at one address (the C library's memcpy and memmove, for one)\n"
    "share one id: their calls are counted together under all their names.\n"
    "Exit status: 0 when every trace was complete and decoded with no frame left open\n"
    "otherwise, 1 otherwise, 2 on a usage error.\n";

struct Calls {
  uint64_t entries = 0;
  uint64_t exits = 0;  // exits, exits with a value and frames left by unwinding
};

struct ThreadStats {
  std::map<uint64_t, Calls> calls;  // by linked id; bounded by the function mapping
  uint64_t unattributedExits = 0;
  uint64_t allocs = 0, allocBytes = 0, reallocs = 0, reallocBytes = 0, frees = 0, freeBytes = 0;
  uint64_t accesses[5] = {0, 0, 0, 0, 0};  // local, global, outer, heap, remote
  uint64_t created = 0, joined = 0, named = 0, vlas = 0, records = 0;
};

void count(ThreadStats& s, const tracereader::Record& r) {
  ++s.records;
  switch (r.kind) {
    case RecordKind::kEntry: ++s.calls[r.id].entries; break;
    case RecordKind::kExit:
    case RecordKind::kExitWithValue:
    case RecordKind::kUnwind:
      if (r.id == 0 && r.function.empty()) {
        ++s.unattributedExits;
      } else {
        ++s.calls[r.id].exits;
      }
      break;
    case RecordKind::kHeapAlloc: ++s.allocs; s.allocBytes += r.value; break;
    case RecordKind::kHeapRealloc: ++s.reallocs; s.reallocBytes += r.value; break;
    case RecordKind::kHeapFree: ++s.frees; s.freeBytes += r.value; break;
    case RecordKind::kThreadCreate: ++s.created; break;
    case RecordKind::kThreadJoin: ++s.joined; break;
    case RecordKind::kThreadName:
    case RecordKind::kThreadNameNull: ++s.named; break;
    case RecordKind::kVla: ++s.vlas; break;
    case RecordKind::kLocalAccess: ++s.accesses[0]; break;
    case RecordKind::kGlobalAccess: ++s.accesses[1]; break;
    case RecordKind::kOuterAccess: ++s.accesses[2]; break;
    case RecordKind::kHeapAccess: ++s.accesses[3]; break;
    case RecordKind::kRemoteAccess: ++s.accesses[4]; break;
    default: break;
  }
}

unsigned long long ull(uint64_t v) { return static_cast<unsigned long long>(v); }

}  // namespace

int statsCommand(int argc, const char* const* argv, const Io& io) {
  const Args args = parseArgs(argc, argv, {"--convention"});
  if (args.help) {
    std::fputs(kHelp, io.out);
    return kExitOk;
  }
  tracereader::Convention convention = tracereader::Convention::kDecodable;
  std::string bad = args.bad;
  for (const auto& [name, value] : args.options) {
    if (value == "decodable" || value == "hand") {
      convention = value == "hand" ? tracereader::Convention::kHandInstrumented : tracereader::Convention::kDecodable;
    } else if (bad.empty()) {
      bad = name + "=" + value;
    }
  }
  if (!bad.empty() || args.positional.size() != 1) {
    if (!bad.empty()) std::fprintf(io.err, "proftrace stats: unusable option '%s'\n", bad.c_str());
    std::fputs(kHelp, io.err);
    return kExitUsage;
  }
  const std::string& dir = args.positional[0];
  const tracereader::RunDirectory run = tracereader::readRunDirectory(dir);
  if (!run.isRunDirectory) {
    std::fprintf(io.err, "proftrace: %s: not a run directory (no manifest files, no thread traces)\n", dir.c_str());
    return kExitFinding;
  }
  const tracereader::NameIndex names(run);
  if (convention == tracereader::Convention::kDecodable && !names.hasFunctionNames()) {
    std::fprintf(io.out, "no labels: %s\n", kNoNameLines);
    std::fprintf(io.err, "proftrace: %s: cannot label: %s\n", dir.c_str(), kNoNameLines);
    return kExitFinding;
  }
  bool allDecoded = !run.traces.empty();
  if (run.traces.empty()) std::fprintf(io.err, "proftrace: %s: %s\n", dir.c_str(), kNoTraces);
  RunEnds ends(run, names, convention);
  for (const auto& t : run.traces) {
    tracereader::TraceStream stream;
    std::fprintf(io.out, "thread %u (%s):\n", t.thread, printable(t.path).c_str());
    if (!stream.openFile(t.path)) {
      std::fprintf(io.out, "  not read: %s\n", stream.detail().c_str());
      std::fprintf(io.err, "proftrace: %s: %s\n", t.path.c_str(), stream.detail().c_str());
      allDecoded = false;
      continue;
    }
    tracereader::DecoderOptions options;
    options.convention = convention;
    options.names = &names;
    tracereader::RecordDecoder decoder(stream, options);
    Progress progress(io.err, t.path, stream);
    ThreadStats s;
    EndTracker tracker;
    tracereader::Record r;
    while (decoder.next(&r)) {
      count(s, r);
      tracker.see(r);
      progress.tick();
    }
    progress.finish();
    EndFacts frames = tracker.finish(decoder, stream);
    ends.classify(t.thread, &frames);
    const auto& status = decoder.status();
    const bool cutByTheCrash = frames.end == TraceEnd::kCrashed && frames.cutRecord;
    if (status.state == tracereader::DecodeStatus::kStopped && !cutByTheCrash) {
      allDecoded = false;
      std::fprintf(io.out, "  NOTE: not decodable from offset %llu: %s\n  the counts below cover the %llu records before it\n",
                   ull(status.offset), status.reason.c_str(), ull(s.records));
      std::fprintf(io.err, "proftrace: %s: labels stop at offset %llu: %s\n", t.path.c_str(), ull(status.offset),
                   status.reason.c_str());
    }
    // A stream the labels stopped in was not read to its end: whether it
    // is complete is check's question, not a note here.
    if (stream.state() != tracereader::StreamState::kComplete && stream.state() != tracereader::StreamState::kReading) {
      allDecoded = false;
      std::fprintf(io.out, "  NOTE: the trace is %s (%s); counts stop at offset %llu\n",
                   tracereader::stateName(stream.state()), stream.detail().c_str(), ull(stream.offset()));
      if (frames.crashTrace) std::fprintf(io.out, "  NOTE: %s\n", frames.describeCrashOutcome().c_str());
    }
    if (frames.finding()) {
      allDecoded = false;
      std::fprintf(io.out, "  NOTE: %s\n", frames.describe().c_str());
      std::fprintf(io.err, "proftrace: %s: %s\n", t.path.c_str(), frames.describe().c_str());
    } else if (frames.end == TraceEnd::kEndedProcess || frames.end == TraceEnd::kRunningAtExit ||
               frames.end == TraceEnd::kCrashed) {
      std::fprintf(io.out, "  end: %s\n", frames.describe().c_str());
    }
    std::fprintf(io.out, "  %llu records\n", ull(s.records));
    // Counts first, in fixed columns, and the name last, so that no name
    // (a demangled template can take hundreds of characters) moves them.
    if (!s.calls.empty()) std::fprintf(io.out, "  %12s %12s  %s\n", "entries", "exits", "function");
    bool shared = false;
    for (const auto& [id, c] : s.calls) {
      std::string name(names.functionName(id));
      name = name.empty() ? std::string(id == 0 ? "(unregistered)" : "?") : printable(name);
      for (std::string_view other : names.sameAddressNames(id)) {
        name += " = " + printable(other);
        shared = true;
      }
      std::fprintf(io.out, "  %12llu %12llu  %s [%llu]\n", ull(c.entries), ull(c.exits), name.c_str(), ull(id));
    }
    if (shared)
      std::fprintf(io.out, "  (names joined by '=' were registered at one address, so the trace cannot tell their calls apart)\n");
    if (s.unattributedExits != 0) std::fprintf(io.out, "  exits not attributed to a function: %llu\n", ull(s.unattributedExits));
    std::fprintf(io.out, "  heap: %llu allocations (%llu bytes), %llu reallocations (to %llu bytes), %llu frees (%llu bytes)\n",
                 ull(s.allocs), ull(s.allocBytes), ull(s.reallocs), ull(s.reallocBytes), ull(s.frees), ull(s.freeBytes));
    std::fprintf(io.out, "  accesses: %llu local, %llu global, %llu outer-frame, %llu heap, %llu other-thread\n",
                 ull(s.accesses[0]), ull(s.accesses[1]), ull(s.accesses[2]), ull(s.accesses[3]), ull(s.accesses[4]));
    std::fprintf(io.out, "  threads: %llu created, %llu joined, %llu named; %llu variable-length arrays\n", ull(s.created),
                 ull(s.joined), ull(s.named), ull(s.vlas));
  }
  return allDecoded ? kExitOk : kExitFinding;
}

}  // namespace proftrace
