// The run report as one JSON document (schema in docs/report.md). Every
// object has a fixed set of keys; maps keyed by numbers are written as
// arrays of objects so that readers need no string-to-number keys.
#include <string>

#include "output.h"
#include "report_output.h"

namespace proftrace {

namespace {

using report::Report;

// A minimal writer: it places the commas, the caller the structure.
class Json {
 public:
  explicit Json(std::FILE* out) : out_(out) {}
  Json& open(char bracket) {
    comma();
    std::fputc(bracket, out_);
    first_ = true;
    return *this;
  }
  Json& close(char bracket) {
    std::fputc(bracket, out_);
    first_ = false;
    return *this;
  }
  Json& key(const char* name) {
    comma();
    std::fprintf(out_, "\"%s\":", name);
    first_ = true;  // the value follows without a comma
    return *this;
  }
  Json& str(std::string_view s) { return raw(jsonString(s)); }
  Json& num(uint64_t v) { return raw(std::to_string(v)); }
  Json& snum(int64_t v) { return raw(std::to_string(v)); }
  Json& boolean(bool b) { return raw(b ? "true" : "false"); }
  Json& null() { return raw("null"); }
  template <typename T>
  Json& field(const char* name, const T& value) {
    key(name);
    if constexpr (std::is_same_v<T, bool>)
      return boolean(value);
    else if constexpr (std::is_convertible_v<T, std::string_view>)
      return str(value);
    else if constexpr (std::is_signed_v<T>)
      return snum(value);
    else
      return num(value);
  }

 private:
  Json& raw(const std::string& text) {
    comma();
    std::fputs(text.c_str(), out_);
    return *this;
  }
  void comma() {
    if (!first_) std::fputc(',', out_);
    first_ = false;
  }
  std::FILE* out_;
  bool first_ = true;
};

// [{"<idName>": key, "<countName>": count}, ...]
template <typename Map>
void countArray(Json& j, const char* name, const Map& counts, const char* idName, const char* countName) {
  j.key(name).open('[');
  for (const auto& [id, count] : counts) j.open('{').field(idName, id).field(countName, count).close('}');
  j.close(']');
}

void threadArray(Json& j, const char* name, const std::vector<uint32_t>& threads) {
  j.key(name).open('[');
  for (uint32_t t : threads) t == report::kUnknownThread ? j.null() : j.num(t);
  j.close(']');
}

}  // namespace

void writeReportJson(const Report& r, std::FILE* out) {
  Json j(out);
  j.open('{');
  j.field("format", "proftrace-report").field("version", uint64_t{1});
  j.field("directory", r.directory).field("program", r.program).field("complete", r.complete);
  j.field("workMeasure", "calls and memory accesses: the traces carry no time");
  j.key("notes").open('[');
  for (const std::string& n : r.notes) j.str(n);
  j.close(']');
  j.key("totals").open('{').field("threads", uint64_t{r.threads.size()}).field("calls", r.totalCalls)
      .field("accesses", r.totalAccesses).close('}');

  j.key("threads").open('[');
  for (const report::ThreadSummary& t : r.threads) {
    j.open('{').field("thread", t.thread).field("name", t.name).field("startFunction", t.startFunction);
    j.field("startFunctionName", t.startFunction == 0 ? std::string() : r.functionName(t.startFunction));
    j.key("createdBy");
    t.createdBy ? j.num(*t.createdBy) : j.null();
    j.field("records", t.records).field("calls", t.calls).field("accesses", t.accesses).field("complete", t.complete);
    j.field("problem", t.problem).close('}');
  }
  j.close(']');

  j.key("functions").open('[');
  for (const report::FunctionSummary& f : r.functions) {
    j.open('{').field("id", f.id).field("name", f.name).field("calls", f.entries);
    countArray(j, "callsByThread", f.entriesByThread, "thread", "calls");
    j.field("accessesExclusive", f.accessesExclusive).field("accessesInclusive", f.accessesInclusive).close('}');
  }
  j.close(']');

  j.key("callGraph").open('[');
  for (const report::CallEdge& e : r.callGraph)
    j.open('{').field("caller", e.caller).field("callerName", r.functionName(e.caller)).field("callee", e.callee)
        .field("calleeName", r.functionName(e.callee)).field("calls", e.calls).close('}');
  j.close(']');

  j.key("neverEntered").open('[');
  for (const report::NeverEntered& n : r.neverEntered)
    j.open('{').field("id", n.id).field("name", n.name).field("reason", n.reason).close('}');
  j.close(']');

  j.key("variables").open('[');
  for (const report::VariableSummary& v : r.variables) {
    j.open('{').field("kind", report::variableKindName(v.kind)).field("id", v.id).field("name", v.name);
    j.key("function");
    v.kind == report::VariableKind::kLocal || v.kind == report::VariableKind::kHeap ? j.num(v.function) : j.null();
    j.key("ownerThread");
    v.owner ? j.num(*v.owner) : j.null();
    j.field("size", v.size).field("accesses", v.accesses);
    countArray(j, "byFunction", v.byFunction, "function", "accesses");
    countArray(j, "byThread", v.byThread, "thread", "accesses");
    j.field("distinctOffsets", v.distinctOffsets).key("bytesTouched");
    v.bytesTouched ? j.num(*v.bytesTouched) : j.null();
    j.field("accessWidth", v.accessWidth);
    j.key("histogram").open('{').field("bucketBytes", v.histogram.bucketBytes).key("counts").open('[');
    for (uint64_t c : v.histogram.counts) j.num(c);
    j.close(']').close('}');
    j.key("pattern").open('{').field("kind", report::patternKindName(v.pattern.kind)).field("stride", v.pattern.stride)
        .close('}');
    j.field("shared", v.shared);
    if (v.kind == report::VariableKind::kHeap) j.field("allocatedBy", v.allocatedBy).field("freed", v.freed);
    j.close('}');
  }
  j.close(']');

  j.key("heapSites").open('[');
  for (const report::HeapSite& s : r.heapSites) {
    j.open('{').field("function", s.function).field("name", s.name).field("blocks", s.blocks).field("bytes", s.bytes)
        .field("accesses", s.accesses).field("freed", s.freed).key("blockIds").open('[');
    for (uint64_t id : s.blockIds) j.num(id);
    j.close(']').close('}');
  }
  j.close(']');

  j.key("streams");
  if (!r.hasStreamFile) {
    j.null();
  } else {
    j.open('[');
    for (const report::StreamSummary& s : r.streams) {
      const report::StreamLine& l = s.line;
      j.open('{').field("serial", l.serial).field("name", l.name).field("elementSize", l.elementSize);
      j.field("writes", l.writes).field("reads", l.reads).field("emptyReads", l.emptyReads).field("left", l.left);
      j.field("highWater", l.highWater);
      threadArray(j, "producers", s.producers);
      threadArray(j, "consumers", s.consumers);
      j.key("byThread").open('[');
      for (const report::StreamThreadTraffic& t : l.threads) {
        j.open('{').key("thread");
        t.thread == report::kUnknownThread ? j.null() : j.num(t.thread);
        j.field("writes", t.writes).field("reads", t.reads).close('}');
      }
      j.close(']').close('}');
    }
    j.close(']');
  }
  j.close('}');
  std::fputc('\n', out);
}

}  // namespace proftrace
