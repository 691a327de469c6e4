// One streaming pass over every trace of a run: a frame stack per thread
// attributes each access to the function on top (exclusive) and to every
// function on the stack (inclusive), and each variable keeps bounded state:
// its counts by function and thread, bitmaps of the offsets touched (up to
// kMaxTrackedBytes), a histogram whose buckets double when it would exceed
// kMaxBuckets, and the few most frequent steps between consecutive accesses
// of one thread, from which the pattern is read.
#include <algorithm>
#include <bit>
#include <fstream>
#include <numeric>
#include <sstream>

#include "report.h"

namespace report {

namespace {

using tracereader::Record;
using tracereader::RecordKind;

constexpr uint64_t kMaxTrackedBytes = uint64_t{1} << 24;  // offsets beyond: bytes touched unknown
constexpr size_t kMaxBuckets = 64;
constexpr size_t kMaxSteps = 16;  // distinct steps kept per variable; the rest count as "other"
constexpr uint64_t kMaxAccessWidth = 8;  // the widest scalar load or store

struct VarKey {
  VariableKind kind;
  uint32_t function;
  uint64_t id;
  uint32_t owner = 0;  // locals: the thread whose frame holds the instance
  auto operator<=>(const VarKey&) const = default;
};

void setBit(std::vector<uint64_t>& bits, uint64_t at) {
  if (bits.size() <= at / 64) bits.resize(at / 64 + 1, 0);
  bits[at / 64] |= uint64_t{1} << (at % 64);
}

uint64_t popcount(const std::vector<uint64_t>& bits) {
  uint64_t n = 0;
  for (uint64_t w : bits) n += static_cast<uint64_t>(std::popcount(w));
  return n;
}

struct VarState {
  VariableSummary s;
  std::vector<uint64_t> starts;   // offsets where an access began
  std::vector<uint64_t> covered;  // bytes inside reported blocks
  bool untracked = false;         // an offset beyond kMaxTrackedBytes
  std::vector<std::pair<uint32_t, uint64_t>> lastOffset;  // per thread
  std::vector<std::pair<int64_t, uint64_t>> steps;        // step -> times
  uint64_t otherSteps = 0;
  uint64_t nonZeroSteps = 0;

  void histogram(uint64_t offset) {
    Histogram& h = s.histogram;
    while (offset / h.bucketBytes >= kMaxBuckets) {
      std::vector<uint64_t> merged((h.counts.size() + 1) / 2, 0);
      for (size_t i = 0; i < h.counts.size(); ++i) merged[i / 2] += h.counts[i];
      h.counts = std::move(merged);
      h.bucketBytes *= 2;
    }
    const size_t bucket = offset / h.bucketBytes;
    if (h.counts.size() <= bucket) h.counts.resize(bucket + 1, 0);
    ++h.counts[bucket];
  }

  void step(uint32_t thread, uint64_t offset) {
    auto last = std::find_if(lastOffset.begin(), lastOffset.end(), [thread](const auto& p) { return p.first == thread; });
    if (last == lastOffset.end()) {
      lastOffset.emplace_back(thread, offset);
      return;
    }
    const int64_t delta = static_cast<int64_t>(offset - last->second);
    last->second = offset;
    if (delta == 0) return;  // the same element again (a read, then its write)
    ++nonZeroSteps;
    auto known = std::find_if(steps.begin(), steps.end(), [delta](const auto& p) { return p.first == delta; });
    if (known != steps.end())
      ++known->second;
    else if (steps.size() < kMaxSteps)
      steps.emplace_back(delta, 1);
    else
      ++otherSteps;
  }

  void access(uint32_t thread, uint32_t function, uint64_t offset, bool block, uint64_t length) {
    ++s.accesses;
    ++s.byFunction[function];
    ++s.byThread[thread];
    histogram(offset);
    step(thread, offset);
    if (offset >= kMaxTrackedBytes || (block && length > kMaxTrackedBytes - offset)) {
      untracked = true;
      return;
    }
    setBit(starts, offset);
    if (block)
      for (uint64_t b = offset; b < offset + length; ++b) setBit(covered, b);
  }

  // Bytes touched, access width and pattern, from the state gathered.
  void finish() {
    s.distinctOffsets = popcount(starts);
    uint64_t gcd = 0;
    for (size_t w = 0; w < starts.size(); ++w)
      for (uint64_t bits = starts[w]; bits != 0; bits &= bits - 1)
        gcd = std::gcd(gcd, w * 64 + static_cast<uint64_t>(std::countr_zero(bits)));
    uint64_t width = gcd == 0 ? (s.size == 0 ? 1 : s.size) : gcd;
    width = std::min(width, kMaxAccessWidth);
    if (s.size != 0) width = std::min(width, s.size);
    s.accessWidth = width;
    // Buckets at least one access wide, so that an array shows one per element.
    while (s.histogram.bucketBytes < width && s.histogram.counts.size() > 1) {
      std::vector<uint64_t> merged((s.histogram.counts.size() + 1) / 2, 0);
      for (size_t i = 0; i < s.histogram.counts.size(); ++i) merged[i / 2] += s.histogram.counts[i];
      s.histogram.counts = std::move(merged);
      s.histogram.bucketBytes *= 2;
    }
    if (!untracked) {
      std::vector<uint64_t> touched = covered;
      for (size_t w = 0; w < starts.size(); ++w)
        for (uint64_t bits = starts[w]; bits != 0; bits &= bits - 1) {
          const uint64_t at = w * 64 + static_cast<uint64_t>(std::countr_zero(bits));
          for (uint64_t b = at; b < at + width; ++b) setBit(touched, b);
        }
      s.bytesTouched = popcount(touched);
    }
    if (s.accesses == 0) {
      s.pattern = {PatternKind::kNone, 0};
    } else if (nonZeroSteps == 0) {
      s.pattern = {PatternKind::kSingle, 0};
    } else {
      const auto top = std::max_element(steps.begin(), steps.end(), [](const auto& a, const auto& b) {
        return a.second < b.second || (a.second == b.second && std::abs(a.first) > std::abs(b.first));
      });
      // Steps against the main direction are a loop starting over (or the
      // next row); the direction's own steps decide.
      uint64_t sameDirection = otherSteps;
      for (const auto& [delta, times] : steps)
        if ((delta > 0) == (top->first > 0)) sameDirection += times;
      if (top->second * 4 >= sameDirection * 3) {
        const uint64_t magnitude = static_cast<uint64_t>(top->first < 0 ? -top->first : top->first);
        s.pattern = {magnitude == width ? PatternKind::kSequential : PatternKind::kStrided, top->first};
      } else {
        s.pattern = {PatternKind::kRandom, 0};
      }
    }
    starts = {};
    covered = {};
  }
};

struct Frame {
  uint32_t function;
  FunctionSummary* summary;  // the function's entry (map nodes stay put)
  uint64_t inclusive;        // accesses made in this frame and the frames it called
};

struct NameTables {
  std::map<uint32_t, std::string> functions;  // linked id -> name
  std::map<uint32_t, const tracereader::VariableName*> globals;
  std::map<std::pair<uint32_t, uint32_t>, const tracereader::LocalName*> locals;  // (linked, variable)
  std::map<uint32_t, bool> hasLocals;  // linked id -> has local lines
};

NameTables nameTables(const tracereader::RunDirectory& run, const tracereader::NameIndex& index) {
  NameTables t;
  std::map<std::pair<std::string, uint32_t>, uint32_t> linkedOf;  // (binary, static) -> linked
  for (const tracereader::FunctionMapping& f : run.functionMapping) {
    linkedOf.emplace(std::make_pair(f.binary, f.staticId), f.linkedId);
    t.functions.emplace(f.linkedId, std::string(index.functionName(f.linkedId)));
  }
  for (const tracereader::VariableName& v : run.names.variables) t.globals.emplace(v.id, &v);
  for (const tracereader::LocalName& l : run.names.locals) {
    const auto linked = linkedOf.find(std::make_pair(l.binary, l.functionStaticId));
    if (linked == linkedOf.end()) continue;
    t.locals.emplace(std::make_pair(linked->second, l.id), &l);
    t.hasLocals[linked->second] = true;
  }
  return t;
}

struct ThreadExtras {
  std::string name;
  std::optional<uint32_t> createdBy;
};

class Analysis {
 public:
  Analysis(const tracereader::RunDirectory& run, const AnalysisHooks& hooks)
      : run_(run), hooks_(hooks), index_(run), names_(nameTables(run, index_)) {}

  Report run() {
    report_.directory = run_.path;
    if (!run_.arguments.empty()) report_.program = run_.arguments[0];
    for (const std::string& p : run_.problems) note(p);
    if (run_.traces.empty()) note("the run directory holds no thread traces");
    for (const tracereader::ThreadTrace& t : run_.traces) readTrace(t);
    readStreams();
    finish();
    return std::move(report_);
  }

 private:
  void note(std::string text) {
    report_.complete = false;
    report_.notes.push_back(std::move(text));
  }

  FunctionSummary& function(uint32_t id) {
    auto [it, added] = functions_.try_emplace(id);
    if (added) it->second.id = id;
    return it->second;
  }

  tracereader::BracketRole roleOf(uint32_t id) {
    auto [it, added] = roles_.try_emplace(id, tracereader::BracketRole::kNone);
    if (added) {
      const auto name = names_.functions.find(id);
      if (name != names_.functions.end()) it->second = tracereader::bracketRole(name->second);
    }
    return it->second;
  }

  VarState& variable(const VarKey& key) {
    // Accesses come in runs on one variable (a loop over an array).
    if (last_ != nullptr && lastKey_ == key) return *last_;
    auto [it, added] = variables_.try_emplace(key);
    if (added) {
      VariableSummary& s = it->second.s;
      s.kind = key.kind;
      s.id = key.id;
      s.function = key.function;
      if (key.kind == VariableKind::kLocal) s.owner = key.owner;
    }
    lastKey_ = key;
    last_ = &it->second;
    return it->second;
  }

  uint32_t top() const { return stack_.empty() ? 0 : stack_.back().function; }

  void pop() {
    if (stack_.empty()) return;
    const Frame f = stack_.back();
    stack_.pop_back();
    if (--active_[f.function] == 0) f.summary->accessesInclusive += f.inclusive;
    if (!stack_.empty()) stack_.back().inclusive += f.inclusive;
  }

  void access(uint32_t thread, const Record& r, ThreadSummary& summary) {
    VarKey key{VariableKind::kUnknown, 0, 0};
    switch (r.kind) {
      case RecordKind::kLocalAccess: key = {VariableKind::kLocal, top(), r.id, thread}; break;
      case RecordKind::kOuterAccess: {
        const uint64_t frame = r.frame;  // depth from 1; the decoder checked it is open
        key = {VariableKind::kLocal, frame >= 1 && frame <= stack_.size() ? stack_[frame - 1].function : top(), r.id,
               thread};
        break;
      }
      case RecordKind::kRemoteAccess:
        key = {VariableKind::kLocal, static_cast<uint32_t>(r.frame), r.id, static_cast<uint32_t>(r.thread)};
        break;
      case RecordKind::kHeapAccess: key = {VariableKind::kHeap, 0, r.id}; break;
      default: {
        if (r.id != 0) {
          const auto g = names_.globals.find(static_cast<uint32_t>(r.id));
          const bool threadLocal = g != names_.globals.end() && g->second->threadLocal;
          key = {threadLocal ? VariableKind::kThreadLocal : VariableKind::kGlobal, 0, r.id};
        }
        break;
      }
    }
    variable(key).access(thread, top(), r.value, r.hasBlockSize, r.blockSize);
    ++summary.accesses;
    ++report_.totalAccesses;
    if (!stack_.empty()) {
      ++stack_.back().inclusive;
      ++stack_.back().summary->accessesExclusive;
    }
  }

  // The function that asked for a heap block: below the allocation
  // function's bracket when there is one.
  uint32_t allocationSite() {
    if (stack_.size() >= 2 && roleOf(top()) == tracereader::BracketRole::kAllocation)
      return stack_[stack_.size() - 2].function;
    return top();
  }

  void record(uint32_t thread, const Record& r, ThreadSummary& summary) {
    ++summary.records;
    switch (r.kind) {
      case RecordKind::kEntry: {
        const uint32_t callee = static_cast<uint32_t>(r.id);
        ++edges_[{top(), callee}];
        FunctionSummary& f = function(callee);
        ++f.entries;
        ++f.entriesByThread[thread];
        if (summary.startFunction == 0 && stack_.empty()) summary.startFunction = callee;
        ++summary.calls;
        ++report_.totalCalls;
        stack_.push_back({callee, &f, 0});
        ++active_[callee];
        break;
      }
      case RecordKind::kExit:
      case RecordKind::kExitWithValue:
      case RecordKind::kUnwind: pop(); break;
      case RecordKind::kHeapAlloc: {
        VarState& v = variable({VariableKind::kHeap, 0, r.id});
        v.s.size = r.value;
        v.s.function = allocationSite();
        v.s.allocatedBy = thread;
        break;
      }
      case RecordKind::kHeapRealloc: variable({VariableKind::kHeap, 0, r.id}).s.size = r.value; break;
      case RecordKind::kHeapFree: variable({VariableKind::kHeap, 0, r.id}).s.freed = true; break;
      case RecordKind::kThreadCreate: extras_[static_cast<uint32_t>(r.id)].createdBy = thread; break;
      case RecordKind::kThreadName: extras_[static_cast<uint32_t>(r.id)].name = r.text; break;
      case RecordKind::kLocalAccess:
      case RecordKind::kGlobalAccess:
      case RecordKind::kOuterAccess:
      case RecordKind::kHeapAccess:
      case RecordKind::kRemoteAccess: access(thread, r, summary); break;
      default: break;
    }
  }

  void readTrace(const tracereader::ThreadTrace& t) {
    ThreadSummary summary;
    summary.thread = t.thread;
    tracereader::TraceStream stream;
    if (!stream.openFile(t.path)) {
      summary.problem = "not read: " + stream.detail();
      note(t.path + ": " + summary.problem);
      report_.threads.push_back(std::move(summary));
      return;
    }
    if (hooks_.traceStarted) hooks_.traceStarted(t.path, stream);
    tracereader::DecoderOptions options;
    options.names = &index_;
    tracereader::RecordDecoder decoder(stream, options);
    stack_.clear();
    active_.clear();
    Record r;
    while (decoder.next(&r)) {
      record(t.thread, r, summary);
      if (hooks_.record) hooks_.record(t.thread, r);
      if (hooks_.recordRead) hooks_.recordRead();
    }
    while (!stack_.empty()) pop();  // a cut-off trace: its open frames still count
    const tracereader::DecodeStatus& status = decoder.status();
    if (status.state == tracereader::DecodeStatus::kStopped) {
      summary.problem = "labels stop at offset " + std::to_string(status.offset) + ": " + status.reason;
    } else if (stream.state() != tracereader::StreamState::kComplete) {
      summary.problem = std::string("the trace is ") + tracereader::stateName(stream.state()) +
                        (stream.detail().empty() ? "" : " (" + stream.detail() + ")") + " at offset " +
                        std::to_string(stream.offset());
    }
    summary.complete = summary.problem.empty();
    if (!summary.complete)
      note("thread " + std::to_string(t.thread) + ": " + summary.problem + "; its counts cover the records before");
    report_.threads.push_back(std::move(summary));
  }

  void readStreams() {
    const std::string path = run_.path + "/streams";
    std::ifstream in(path, std::ios::binary);
    if (!in) return;
    report_.hasStreamFile = true;
    std::ostringstream text;
    text << in.rdbuf();
    std::vector<std::string> problems;
    for (StreamLine& line : parseStreamLines(text.str(), &problems)) {
      StreamSummary s;
      for (const StreamThreadTraffic& t : line.threads) {
        if (t.writes != 0) s.producers.push_back(t.thread);
        if (t.reads != 0) s.consumers.push_back(t.thread);
      }
      s.line = std::move(line);
      report_.streams.push_back(std::move(s));
    }
    for (std::string& p : problems) note(std::move(p));
  }

  std::string variableName(const VarKey& key, const VariableSummary& s, bool severalInstances) const {
    switch (key.kind) {
      case VariableKind::kGlobal:
      case VariableKind::kThreadLocal: {
        const auto g = names_.globals.find(static_cast<uint32_t>(key.id));
        return g != names_.globals.end() ? g->second->name : "variable " + std::to_string(key.id);
      }
      case VariableKind::kLocal: {
        const auto l = names_.locals.find({key.function, static_cast<uint32_t>(key.id)});
        return report_.functionName(key.function) + "::" +
               (l != names_.locals.end() ? l->second->name : "local " + std::to_string(key.id)) +
               (severalInstances ? " [thread " + std::to_string(key.owner) + "]" : "");
      }
      case VariableKind::kHeap: return "heap#" + std::to_string(key.id) + " (" + report_.functionName(s.function) + ")";
      case VariableKind::kUnknown: break;
    }
    return "(addresses no registry knows)";
  }

  void finish() {
    // Names first: the formatters and the variables' names need them.
    report_.functionNames = names_.functions;

    for (auto& [id, f] : functions_) {
      f.name = report_.functionName(id);
      report_.functions.push_back(std::move(f));
    }
    for (const auto& [edge, calls] : edges_) report_.callGraph.push_back({edge.first, edge.second, calls});
    for (const auto& [id, name] : names_.functions) {
      if (functions_.count(id) != 0 || name.empty()) continue;
      const bool body = names_.hasLocals.count(id) != 0;
      report_.neverEntered.push_back(
          {id, name,
           body ? "not called in this run (its body is in the binary; a call the optimiser inlined is not entered "
                  "either)"
                : "not called in this run"});
    }
    std::map<uint32_t, HeapSite> sites;
    std::map<std::pair<uint32_t, uint64_t>, int> instances;  // locals: (function, id) -> owner threads
    for (const auto& [key, v] : variables_)
      if (key.kind == VariableKind::kLocal) ++instances[{key.function, key.id}];
    for (auto& [key, v] : variables_) {
      if (key.kind == VariableKind::kGlobal || key.kind == VariableKind::kThreadLocal) {
        const auto g = names_.globals.find(static_cast<uint32_t>(key.id));
        if (g != names_.globals.end()) v.s.size = g->second->size;
      } else if (key.kind == VariableKind::kLocal) {
        const auto l = names_.locals.find({key.function, static_cast<uint32_t>(key.id)});
        if (l != names_.locals.end()) v.s.size = l->second->size;
      }
      v.finish();
      v.s.name = variableName(key, v.s,
                              key.kind == VariableKind::kLocal && instances[{key.function, key.id}] > 1);
      v.s.shared = key.kind != VariableKind::kThreadLocal && v.s.byThread.size() > 1;
      if (key.kind == VariableKind::kHeap) {
        HeapSite& site = sites[v.s.function];
        site.function = v.s.function;
        ++site.blocks;
        site.bytes += v.s.size;
        site.accesses += v.s.accesses;
        site.freed += v.s.freed ? 1 : 0;
        site.blockIds.push_back(key.id);
      }
      report_.variables.push_back(std::move(v.s));
    }
    // Locals of one function may share a name (two loops' counters): the
    // variable id tells them apart.
    std::map<std::string, int> uses;
    for (const VariableSummary& v : report_.variables) ++uses[v.name];
    for (VariableSummary& v : report_.variables)
      if (uses[v.name] > 1) v.name += " #" + std::to_string(v.id);
    for (auto& [id, site] : sites) {
      site.name = report_.functionName(id);
      report_.heapSites.push_back(std::move(site));
    }
    for (ThreadSummary& t : report_.threads) {
      const auto e = extras_.find(t.thread);
      if (e == extras_.end()) continue;
      t.name = e->second.name;
      t.createdBy = e->second.createdBy;
    }
  }

  const tracereader::RunDirectory& run_;
  const AnalysisHooks& hooks_;
  tracereader::NameIndex index_;
  NameTables names_;
  Report report_;
  std::map<uint32_t, FunctionSummary> functions_;
  std::map<std::pair<uint32_t, uint32_t>, uint64_t> edges_;
  std::map<VarKey, VarState> variables_;
  VarKey lastKey_{VariableKind::kUnknown, 0, 0};
  VarState* last_ = nullptr;
  std::map<uint32_t, ThreadExtras> extras_;
  std::map<uint32_t, tracereader::BracketRole> roles_;
  std::vector<Frame> stack_;
  std::map<uint32_t, uint32_t> active_;
};

}  // namespace

const char* variableKindName(VariableKind kind) {
  switch (kind) {
    case VariableKind::kGlobal: return "global";
    case VariableKind::kThreadLocal: return "threadlocal";
    case VariableKind::kLocal: return "local";
    case VariableKind::kHeap: return "heap";
    case VariableKind::kUnknown: break;
  }
  return "unknown";
}

const char* patternKindName(PatternKind kind) {
  switch (kind) {
    case PatternKind::kSingle: return "single";
    case PatternKind::kSequential: return "sequential";
    case PatternKind::kStrided: return "strided";
    case PatternKind::kRandom: return "random";
    case PatternKind::kNone: break;
  }
  return "none";
}

std::string Report::functionName(uint32_t id) const {
  if (id == kThreadStart) return "(thread start)";
  const auto it = functionNames.find(id);
  if (it != functionNames.end() && !it->second.empty()) return it->second;
  return "function " + std::to_string(id);
}

Report analyseRun(const tracereader::RunDirectory& run, const AnalysisHooks& hooks) {
  return Analysis(run, hooks).run();
}

}  // namespace report
