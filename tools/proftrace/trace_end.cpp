// Classification of a trace's end from its labelled records.
#include "trace_end.h"

#include <array>

#include "output.h"

namespace proftrace {

namespace {
constexpr std::array<std::string_view, 5> kProcessEnders = {"exit", "_Exit", "_exit", "abort", "quick_exit"};
}  // namespace

bool endsProcess(std::string_view name) {
  for (std::string_view e : kProcessEnders)
    if (e == name) return true;
  return false;
}

const char* traceEndName(TraceEnd end) {
  switch (end) {
    case TraceEnd::kUnlabelled: return "unlabelled";
    case TraceEnd::kUnfinished: return "unfinished";
    case TraceEnd::kNotFollowed: return "not-followed";
    case TraceEnd::kClosed: return "closed";
    case TraceEnd::kEndedProcess: return "ended-process";
    case TraceEnd::kRunningAtExit: return "running-at-exit";
    case TraceEnd::kLeftOpen: return "left-open";
    case TraceEnd::kCrashed: return "crashed";
  }
  return "?";
}

std::string EndFacts::describe() const {
  const std::string frames = std::to_string(openFrames) + (openFrames == 1 ? " frame" : " frames");
  const std::string inner = innermost.empty() ? std::string("an unnamed function") : printable(innermost);
  switch (end) {
    case TraceEnd::kUnlabelled:
    case TraceEnd::kUnfinished:
    case TraceEnd::kClosed: return "";
    case TraceEnd::kNotFollowed: return "frames not followed: labels stop " + stop;
    case TraceEnd::kEndedProcess: return "ended the process in " + inner + " with " + frames + " open";
    case TraceEnd::kRunningAtExit:
      return "still running in " + inner + " (" + frames + " open) when thread " + std::to_string(endedBy.value_or(0)) +
             " ended the process";
    case TraceEnd::kLeftOpen:
      return frames + " left open (innermost " + inner + ") though no thread ended the process";
    case TraceEnd::kCrashed: {
      std::string text;
      if (receivedSignal) {
        text = "ended at the crash: stopped by " + crashSignal +
               (openFrames == 0 ? " with no frame open" : " in " + inner + " with " + frames + " open");
      } else {
        text = "ended at the crash: " +
               (openFrames == 0 ? std::string("between calls") : "running in " + inner + " (" + frames + " open)") +
               " when " +
               (crashThread ? "thread " + std::to_string(*crashThread) : std::string("a thread that ran no instrumented code")) +
               " received " + crashSignal;
      }
      if (cutRecord)
        text += dataEnded ? "; the values from offset " + std::to_string(stopOffset) +
                                " on begin a record the crash cut"
                          : "; its last values begin a record the crash cut";
      return text;
    }
  }
  return "";
}

std::string EndFacts::describeCrashOutcome() const {
  if (!crashTrace) return "";
  switch (*crashTrace) {
    case tracereader::CrashTrace::kFinished: return "finished at the crash (" + crashSignal + ")";
    case tracereader::CrashTrace::kFinishedCutRecord:
      return "finished at the crash (" + crashSignal + "); its last values begin a record the crash cut";
    case tracereader::CrashTrace::kClosed: return "";
    case tracereader::CrashTrace::kUnfinished:
      return "unfinished at the crash (" + crashSignal +
             "): its thread was stopped inside the compressor or held its trace for more than two seconds, so the "
             "crash handler could not finish it; it holds what was written before";
  }
  return "";
}

void EndTracker::see(const tracereader::Record& r) {
  using K = tracereader::RecordKind;
  if ((r.kind == K::kExit || r.kind == K::kExitWithValue) && r.depth == 0 && r.function == "main") mainReturned_ = true;
}

EndFacts EndTracker::finish(const tracereader::RecordDecoder& decoder, const tracereader::TraceStream& stream) const {
  EndFacts f;
  f.mainReturned = mainReturned_;
  const auto& status = decoder.status();
  // A damaged stream says more than where the labels stopped in it.
  const bool readToItsEnd = stream.state() != tracereader::StreamState::kReading;
  if (readToItsEnd && stream.state() != tracereader::StreamState::kComplete) {
    f.end = TraceEnd::kUnfinished;
    return f;
  }
  if (status.state == tracereader::DecodeStatus::kStopped) {
    f.end = TraceEnd::kNotFollowed;
    f.stop = "at offset " + std::to_string(status.offset) + ": " + status.reason;
    f.dataEnded = status.dataEnded;
    f.stopOffset = status.recordOffset;
    // The frames as they stood before the record the labels stopped in.
    f.stopDepth = decoder.depth();
    f.stopInnermost = std::string(decoder.innermostName());
    return f;
  }
  if (stream.state() != tracereader::StreamState::kComplete) {
    f.end = TraceEnd::kUnfinished;
    return f;
  }
  f.openFrames = decoder.depth();
  f.innermost = std::string(decoder.innermostName());
  if (f.openFrames == 0) {
    f.end = TraceEnd::kClosed;
  } else {
    f.end = endsProcess(f.innermost) ? TraceEnd::kEndedProcess : TraceEnd::kLeftOpen;
  }
  return f;
}

EndFacts labelEnd(const std::string& path, const tracereader::NameIndex& names, tracereader::Convention convention) {
  tracereader::TraceStream stream;
  if (!stream.openFile(path)) {
    EndFacts unreadable;
    unreadable.end = TraceEnd::kUnfinished;
    return unreadable;
  }
  tracereader::DecoderOptions options;
  options.convention = convention;
  options.names = &names;
  tracereader::RecordDecoder decoder(stream, options);
  EndTracker tracker;
  tracereader::Record r;
  while (decoder.next(&r)) tracker.see(r);
  return tracker.finish(decoder, stream);
}

void RunEnds::classify(uint32_t thread, EndFacts* facts) {
  if (run_.crash && run_.crash->signal != 0) {
    const tracereader::CrashRecord& crash = *run_.crash;
    const tracereader::CrashThread* listed = crash.find(thread);
    facts->crashSignal = crash.signalName.empty() || crash.signalName == "?" ? "signal " + std::to_string(crash.signal)
                                                                              : crash.signalName;
    facts->crashThread = crash.thread;
    facts->receivedSignal = crash.thread == thread;
    if (listed != nullptr) facts->crashTrace = listed->trace;
    using tracereader::CrashTrace;
    const bool finishedByHandler =
        listed != nullptr && (listed->trace == CrashTrace::kFinished || listed->trace == CrashTrace::kFinishedCutRecord);
    // A file cut short lists only the first threads; the others that were
    // still running were finished all the same.
    const bool beyondTheCut = listed == nullptr && crash.cut &&
                              (crash.threads.empty() || thread > crash.threads.back().thread);
    const bool cut = finishedByHandler && listed->trace == CrashTrace::kFinishedCutRecord;
    const bool framesKnown = facts->end == TraceEnd::kClosed || facts->end == TraceEnd::kEndedProcess ||
                             facts->end == TraceEnd::kLeftOpen || (cut && facts->end == TraceEnd::kNotFollowed &&
                                                                   facts->dataEnded);
    if ((finishedByHandler || (beyondTheCut && facts->end != TraceEnd::kClosed)) && framesKnown) {
      if (facts->end == TraceEnd::kNotFollowed) {
        facts->openFrames = facts->stopDepth;
        facts->innermost = facts->stopInnermost;
      }
      facts->end = TraceEnd::kCrashed;
      facts->cutRecord = cut;
      return;
    }
  }
  if (facts->end != TraceEnd::kLeftOpen) return;
  for (const auto& t : run_.traces) {
    if (t.thread == thread) continue;
    auto it = ended_.find(t.thread);
    if (it == ended_.end()) it = ended_.emplace(t.thread, labelEnd(t.path, names_, convention_).endedTheProcess()).first;
    if (it->second) {
      facts->end = TraceEnd::kRunningAtExit;
      facts->endedBy = t.thread;
      return;
    }
  }
}

}  // namespace proftrace
