// proftrace dump: every value of a trace with its offset and both
// readings, or, with --labels, the records a convention makes of them.
#include <memory>
#include <string>
#include <vector>

#include "output.h"
#include "record_fields.h"
#include "proftrace.h"
#include "trace_end.h"
#include "trace_scan.h"
#include "tracereader/records.h"
#include "tracereader/run_directory.h"

namespace proftrace {

namespace {

using tracereader::Record;
using tracereader::RecordKind;

constexpr const char* kHelp =
    "Usage: proftrace dump TRACE [--json] [--labels] [--convention=decodable|hand]\n"
    "Prints the header of a trace decoded, then every LEB128 value after it: its\n"
    "plain-byte offset, its unsigned and its signed reading. The end line says whether\n"
    "the stream is complete and how far it decodes. --json prints one JSON document.\n"
    "\n"
    "--labels prints records instead of values, with function and variable names from\n"
    "the run directory that holds TRACE. A trace can only be split into records by\n"
    "assuming how the program was instrumented; the labels can be trusted exactly when\n"
    "the program kept to that convention:\n"
    "  decodable (default): the program was built under the decodable-trace convention\n"
    "    (no basic-block records, no bare offsets or printed values, an entry record for\n"
    "    every call, every wrapped library call bracketed by the entry and exit of the\n"
    "    function it replaces, name lines for every function in globalVariableMapping).\n"
    "    Runs without name lines are refused.\n"
    "  hand: a hand-instrumented program that writes no basic-block records, no bare\n"
    "    values (offsets, printed values, strings), no block accesses (block hook,\n"
    "    stream, fread/fwrite and pthread_create wrappers) and no thread names; calls\n"
    "    may leave no entry record, so exits are not attributed to functions. A 6 is an\n"
    "    allocation when the header turns accesses off and an access when it turns\n"
    "    allocations off; with both on it cannot be placed.\n"
    "The labeller stops with the offset and a reason at the first value it cannot\n"
    "place. A program that breaks the convention is caught only where its values\n"
    "become impossible: records before such a stop may be mislabelled. The shipped\n"
    "hand-instrumented designs write bare offsets, basic blocks or block accesses, so\n"
    "their traces cannot be labelled without the program.\n"
    "A complete trace may end with frames open: under a call of exit, _Exit, _exit,\n"
    "abort or quick_exit (the thread ended the process), or in a thread still running\n"
    "when another thread of the run ended the process (by such a call or by returning\n"
    "from main). The end line says which; frames left open otherwise are a finding.\n"
    "In a run ended by a signal (its run directory holds a crash file) the traces the\n"
    "crash handler finished end at the crash, with frames open: the end line says so,\n"
    "and a record the crash cut short is where the labels stop, not a finding.\n"
    "--json: the document's fields are described in docs/proftrace.md.\n"
    "Exit status: 0 when the trace is complete (and, with --labels, every value was\n"
    "placed and no frame was left open otherwise), 1 otherwise, 2 on a usage error.\n";

struct EndState {
  tracereader::StreamState state;
  std::string detail;
  uint64_t offset;
  uint64_t count;
  std::string stop;  // why decoding stopped early, "" when it did not
  const EndFacts* frames = nullptr;  // labels: how the frames end
};

void printEnd(const Io& io, bool json, const EndState& e, const char* counted) {
  const bool complete = e.state == tracereader::StreamState::kComplete;
  if (json) {
    std::fprintf(io.out, "],\"end\":{\"stream\":\"%s\",\"offset\":%llu,\"%s\":%llu", tracereader::stateName(e.state),
                 static_cast<unsigned long long>(e.offset), counted, static_cast<unsigned long long>(e.count));
    if (!complete) std::fprintf(io.out, ",\"detail\":%s", jsonString(e.detail).c_str());
    if (!e.stop.empty()) std::fprintf(io.out, ",\"stopped\":%s", jsonString(e.stop).c_str());
    if (e.frames != nullptr) {
      const EndFacts& f = *e.frames;
      std::fprintf(io.out, ",\"frames\":\"%s\",\"openFrames\":%llu", traceEndName(f.end),
                   static_cast<unsigned long long>(f.openFrames));
      if (f.openFrames != 0) std::fprintf(io.out, ",\"innermost\":%s", jsonString(f.innermost).c_str());
      if (f.endedBy) std::fprintf(io.out, ",\"endedBy\":%u", *f.endedBy);
      if (f.crashTrace) {
        std::fprintf(io.out, ",\"crash\":{\"signal\":%s,\"receivedBy\":", jsonString(f.crashSignal).c_str());
        if (f.crashThread) {
          std::fprintf(io.out, "%u", *f.crashThread);
        } else {
          std::fputs("null", io.out);
        }
        std::fprintf(io.out, ",\"trace\":\"%s\"}", tracereader::crashTraceName(*f.crashTrace));
      }
    }
    std::fprintf(io.out, "}}\n");
  } else {
    const std::string stream = e.state == tracereader::StreamState::kReading
                                   ? std::string("stream not read to its end")
                                   : std::string(tracereader::stateName(e.state)) + " stream" +
                                         (complete || e.detail.empty() ? "" : " (" + e.detail + ")");
    const bool normalOpen = e.frames != nullptr &&
                            (e.frames->end == TraceEnd::kEndedProcess || e.frames->end == TraceEnd::kRunningAtExit ||
                             e.frames->end == TraceEnd::kCrashed);
    // A trace the crash left unfinished says so where its frames are unknown.
    const std::string frames = normalOpen          ? e.frames->describe()
                               : e.frames != nullptr ? e.frames->describeCrashOutcome()
                                                     : std::string();
    std::fprintf(io.out, "# end: %s, %llu %s, offset %llu%s%s%s%s\n", stream.c_str(),
                 static_cast<unsigned long long>(e.count), counted, static_cast<unsigned long long>(e.offset),
                 e.stop.empty() ? "" : "; stopped ", e.stop.c_str(), frames.empty() ? "" : "; ", frames.c_str());
  }
}

int dumpValues(const std::string& path, bool json, const Io& io) {
  auto opened = std::make_unique<tracereader::TraceStream>();
  if (!opened->openFile(path)) {
    std::fprintf(io.err, "proftrace: %s: %s\n", path.c_str(), opened->detail().c_str());
    return kExitFinding;
  }
  const Header header = readHeader(*opened);
  if (!header.valid) {  // show every value from the start
    opened = std::make_unique<tracereader::TraceStream>();
    if (!opened->openFile(path)) {
      std::fprintf(io.err, "proftrace: %s: %s\n", path.c_str(), opened->detail().c_str());
      return kExitFinding;
    }
  }
  tracereader::TraceStream& stream = *opened;
  Progress progress(io.err, path, stream);
  if (json) {
    std::fprintf(io.out, "{\"trace\":%s,\"header\":", jsonString(path).c_str());
    if (header.valid) {
      std::fprintf(io.out, "{\"version\":5,\"accesses\":%s,\"allocations\":%s}", header.traceAccesses ? "true" : "false",
                   header.traceAllocations ? "true" : "false");
    } else {
      std::fprintf(io.out, "null,\"headerProblem\":%s", jsonString(header.problem).c_str());
    }
    std::fprintf(io.out, ",\"values\":[");
  } else {
    std::fprintf(io.out, "# trace %s\n", printable(path).c_str());
    if (header.valid) {
      std::fprintf(io.out, "# header: version 5, memory accesses %s, allocations %s\n",
                   header.traceAccesses ? "on" : "off", header.traceAllocations ? "on" : "off");
    } else {
      std::fprintf(io.out, "# no valid header: %s\n", header.problem.c_str());
    }
    std::fprintf(io.out, "# %8s %20s %20s\n", "offset", "unsigned", "signed");
  }
  uint64_t count = 0;
  std::string stop;
  for (;;) {
    const uint64_t at = stream.offset();
    tracereader::Leb128 v;
    const auto r = stream.next(&v);
    if (r == tracereader::ReadResult::kEnd) break;
    if (r == tracereader::ReadResult::kError) {
      stop = stream.errorText();
      break;
    }
    if (json) {
      std::fprintf(io.out, "%s{\"offset\":%llu,\"unsigned\":%llu,\"signed\":%lld}", count == 0 ? "" : ",",
                   static_cast<unsigned long long>(at), static_cast<unsigned long long>(v.value),
                   static_cast<long long>(v.signedValue));
    } else {
      std::fprintf(io.out, "  %8llu %20llu %20lld\n", static_cast<unsigned long long>(at),
                   static_cast<unsigned long long>(v.value), static_cast<long long>(v.signedValue));
    }
    ++count;
    progress.tick();
  }
  progress.finish();
  if (!json) std::fprintf(io.out, "# %llu values after the header\n", static_cast<unsigned long long>(count));
  printEnd(io, json, {stream.state(), stream.detail(), stream.offset(), count, stop}, "values");
  const bool sound = stream.state() == tracereader::StreamState::kComplete && stop.empty() && header.valid &&
                     stream.trailingBytes() == 0;
  if (!sound) {
    std::fprintf(io.err, "proftrace: %s: ", path.c_str());
    if (!header.valid) std::fprintf(io.err, "no valid header (%s); ", header.problem.c_str());
    std::fprintf(io.err, "%s%s%s at offset %llu\n", tracereader::stateName(stream.state()),
                 stream.detail().empty() ? "" : ": ", stream.detail().c_str(),
                 static_cast<unsigned long long>(stream.offset()));
  }
  return sound ? kExitOk : kExitFinding;
}

int dumpRecords(const std::string& path, bool json, tracereader::Convention convention, const Io& io) {
  const std::string dir = directoryOf(path);
  const tracereader::RunDirectory run = tracereader::readRunDirectory(dir);
  const tracereader::NameIndex names(run);
  tracereader::TraceStream stream;
  if (!stream.openFile(path)) {
    std::fprintf(io.err, "proftrace: %s: %s\n", path.c_str(), stream.detail().c_str());
    return kExitFinding;
  }
  tracereader::DecoderOptions options;
  options.convention = convention;
  options.names = run.functionMapping.empty() && convention == tracereader::Convention::kHandInstrumented ? nullptr : &names;
  tracereader::RecordDecoder decoder(stream, options);
  Progress progress(io.err, path, stream);
  const char* conventionName = convention == tracereader::Convention::kDecodable ? "decodable" : "hand";
  if (json) {
    std::fprintf(io.out, "{\"trace\":%s,\"convention\":\"%s\",\"records\":[", jsonString(path).c_str(), conventionName);
  } else {
    std::fprintf(io.out, "# trace %s, labelled under the %s convention, names from %s\n", printable(path).c_str(),
                 conventionName, printable(dir).c_str());
    std::fprintf(io.out, "# %8s %5s record\n", "offset", "depth");
  }
  Record r;
  uint64_t count = 0;
  EndTracker tracker;
  while (decoder.next(&r)) {
    tracker.see(r);
    if (json) {
      if (count != 0) std::fputc(',', io.out);
      printRecordJson(io.out, r);
    } else {
      printRecordText(io.out, r, "  ");
    }
    ++count;
    progress.tick();
  }
  progress.finish();
  const auto& status = decoder.status();
  EndFacts frames = tracker.finish(decoder, stream);
  RunEnds ends(run, names, convention);
  const auto thread = tracereader::traceFileThread(path.substr(path.find_last_of('/') + 1));
  if (thread) ends.classify(*thread, &frames);
  std::string stop;
  if (status.state == tracereader::DecodeStatus::kStopped) {
    stop = "at offset " + std::to_string(status.offset) + ": " + status.reason;
  } else if (frames.finding()) {
    stop = frames.describe();
  }
  const bool complete = stream.state() == tracereader::StreamState::kComplete && stream.trailingBytes() == 0;
  // Labels that ran into the record the crash cut stop where the trace ends.
  if (frames.end == TraceEnd::kCrashed && frames.cutRecord) {
    printEnd(io, json, {stream.state(), stream.detail(), stream.offset(), count, "", &frames}, "records");
    return complete ? kExitOk : kExitFinding;
  }
  printEnd(io, json, {stream.state(), stream.detail(), stream.offset(), count, stop, &frames}, "records");
  if (!stop.empty()) std::fprintf(io.err, "proftrace: %s: labels stop %s\n", path.c_str(), stop.c_str());
  if (!complete && stream.state() != tracereader::StreamState::kReading)
    std::fprintf(io.err, "proftrace: %s: %s%s%s\n", path.c_str(), tracereader::stateName(stream.state()),
                 stream.detail().empty() ? "" : ": ", stream.detail().c_str());
  return complete && stop.empty() ? kExitOk : kExitFinding;
}

}  // namespace

int dumpCommand(int argc, const char* const* argv, const Io& io) {
  const Args args = parseArgs(argc, argv, {"--json", "--labels", "--convention"});
  if (args.help) {
    std::fputs(kHelp, io.out);
    return kExitOk;
  }
  bool json = false, labels = false;
  tracereader::Convention convention = tracereader::Convention::kDecodable;
  std::string bad = args.bad;
  for (const auto& [name, value] : args.options) {
    if (name == "--json" && value.empty()) {
      json = true;
    } else if (name == "--labels" && value.empty()) {
      labels = true;
    } else if (name == "--convention" && (value == "decodable" || value == "hand")) {
      labels = true;
      convention = value == "hand" ? tracereader::Convention::kHandInstrumented : tracereader::Convention::kDecodable;
    } else if (bad.empty()) {
      bad = name + (value.empty() ? "" : "=" + value);
    }
  }
  if (!bad.empty() || args.positional.size() != 1) {
    if (!bad.empty()) std::fprintf(io.err, "proftrace dump: unusable option '%s'\n", bad.c_str());
    std::fputs(kHelp, io.err);
    return kExitUsage;
  }
  return labels ? dumpRecords(args.positional[0], json, convention, io) : dumpValues(args.positional[0], json, io);
}

}  // namespace proftrace
