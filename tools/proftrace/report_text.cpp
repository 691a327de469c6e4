// The run report as plain-text tables for the terminal, at most 100
// columns wide: long names are cut with "..." so that columns stay aligned.
#include <algorithm>
#include <string>
#include <vector>

#include "output.h"
#include "report_output.h"

namespace proftrace {

namespace {

using report::Report;

unsigned long long ull(uint64_t v) { return static_cast<unsigned long long>(v); }

// Printable and at most `width` columns, cut in the middle so that both
// the scope and the end (a function's parameters, a local's thread) stay.
// Names are ASCII in practice; a multi-byte character counts one column
// per byte, which only shortens.
std::string fit(std::string_view text, size_t width) {
  std::string s = printable(text);
  if (s.size() <= width) return s;
  // Anonymous namespaces are the most common long prefix of C++ names.
  for (size_t at; (at = s.find("(anonymous namespace)")) != std::string::npos;) s.replace(at, 21, "(anon)");
  if (s.size() <= width) return s;
  const size_t head = (width - 3) / 2;
  return s.substr(0, head) + "..." + s.substr(s.size() - (width - 3 - head));
}

std::string threadList(const Report& r, const std::vector<uint32_t>& threads) {
  std::string out;
  for (uint32_t t : threads) out += (out.empty() ? "" : ", ") + threadLabel(r, t);
  return out.empty() ? "-" : out;
}

template <typename Map, typename Name>
std::string countsLine(const Map& counts, Name name) {
  std::vector<std::pair<uint64_t, std::string>> items;
  for (const auto& [key, count] : counts) items.emplace_back(count, name(key));
  std::stable_sort(items.begin(), items.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  std::string out;
  for (const auto& [count, label] : items) out += (out.empty() ? "" : ", ") + label + " " + std::to_string(count);
  return out;
}

// A labelled list over as many lines of at most 98 columns as it needs,
// broken after a comma, continued under the list's start.
void wrapped(std::FILE* out, const std::string& head, const std::string& text) {
  constexpr size_t kWidth = 98;
  std::string line = "    " + head;
  size_t start = 0;
  while (start < text.size()) {
    const size_t room = kWidth - line.size();
    size_t take = text.size() - start;
    if (take > room) {
      const size_t cut = text.rfind(", ", start + room - 1);
      take = cut != std::string::npos && cut > start ? cut + 1 - start : room;
    }
    line += printable(text.substr(start, take));
    std::fprintf(out, "%s\n", line.c_str());
    start += take;
    if (text.compare(start, 1, " ") == 0) ++start;
    line = std::string(4 + head.size(), ' ');
  }
}

// Text over lines of at most 100 columns, broken at blanks; lines after
// the first start with `indent`.
void wrappedWords(std::FILE* out, const std::string& first, const std::string& indent, std::string_view text) {
  constexpr size_t kWidth = 100;
  std::string line = first;
  std::string rest = printable(text);
  while (line.size() + rest.size() > kWidth) {
    size_t cut = rest.rfind(' ', kWidth - line.size());
    if (cut == std::string::npos || cut == 0) cut = kWidth - line.size();
    std::fprintf(out, "%s%s\n", line.c_str(), rest.substr(0, cut).c_str());
    rest.erase(0, rest[cut] == ' ' ? cut + 1 : cut);
    line = indent;
  }
  std::fprintf(out, "%s%s\n", line.c_str(), rest.c_str());
}

// The histogram as one character per bucket ('.': none, 1 to 9 scaled to
// the fullest bucket), merged to at most 32 buckets to fit the line.
std::string histogramRow(report::Histogram h) {
  while (h.counts.size() > 32) {
    std::vector<uint64_t> merged((h.counts.size() + 1) / 2, 0);
    for (size_t i = 0; i < h.counts.size(); ++i) merged[i / 2] += h.counts[i];
    h.counts = std::move(merged);
    h.bucketBytes *= 2;
  }
  uint64_t most = 0;
  for (uint64_t c : h.counts) most = std::max(most, c);
  std::string row;
  for (uint64_t c : h.counts) row += c == 0 ? '.' : static_cast<char>('0' + std::max<uint64_t>(1, (c * 9 + most - 1) / most));
  return row + "  (" + std::to_string(h.bucketBytes) + "-byte buckets from 0";
}

std::string patternText(const report::VariableSummary& v) {
  switch (v.pattern.kind) {
    case report::PatternKind::kSequential:
    case report::PatternKind::kStrided:
      return std::string(report::patternKindName(v.pattern.kind)) + " " + (v.pattern.stride > 0 ? "+" : "") +
             std::to_string(v.pattern.stride);
    default: return report::patternKindName(v.pattern.kind);
  }
}

std::string touchedText(const report::VariableSummary& v) {
  const std::string size = v.size == 0 ? "?" : std::to_string(v.size);
  return (v.bytesTouched ? std::to_string(*v.bytesTouched) : "?") + "/" + size;
}

void threads(const Report& r, std::FILE* out) {
  std::fprintf(out, "\nTHREADS\n  %-6s %-16s %-30s %7s %10s %12s  %s\n", "thread", "name", "started in", "by",
               "calls", "accesses", "trace");
  for (const report::ThreadSummary& t : r.threads) {
    std::fprintf(out, "  %-6u %-16s %-30s %7s %10llu %12llu  %s\n", t.thread, fit(t.name, 16).c_str(),
                 fit(t.startFunction == 0 ? "-" : r.functionName(t.startFunction), 30).c_str(),
                 t.createdBy ? std::to_string(*t.createdBy).c_str() : "-", ull(t.calls), ull(t.accesses),
                 t.complete ? "complete" : "INCOMPLETE");
  }
}

void functions(const Report& r, std::FILE* out) {
  std::vector<const report::FunctionSummary*> rows;
  for (const auto& f : r.functions) rows.push_back(&f);
  std::stable_sort(rows.begin(), rows.end(), [](auto* a, auto* b) { return a->accessesInclusive > b->accessesInclusive; });
  std::fprintf(out, "\nFUNCTIONS (by inclusive accesses; exclusive: made while the function was on top)\n");
  std::fprintf(out, "  %-42s %10s %12s %12s  %s\n", "function", "calls", "exclusive", "inclusive", "calls by thread");
  for (const report::FunctionSummary* f : rows) {
    std::string byThread;
    for (const auto& [t, n] : f->entriesByThread) byThread += (byThread.empty() ? "" : " ") + std::to_string(t) + ":" + std::to_string(n);
    std::fprintf(out, "  %-42s %10llu %12llu %12llu  %s\n", fit(f->name, 42).c_str(), ull(f->entries),
                 ull(f->accessesExclusive), ull(f->accessesInclusive), fit(byThread, 17).c_str());
  }
  std::fprintf(out, "\nCALL GRAPH (caller -> callee, calls)\n");
  for (const report::CallEdge& e : r.callGraph)
    std::fprintf(out, "  %-42s -> %-42s %8llu\n", fit(r.functionName(e.caller), 42).c_str(),
                 fit(r.functionName(e.callee), 42).c_str(), ull(e.calls));
  if (!r.neverEntered.empty()) {
    std::fprintf(out, "\nREGISTERED FUNCTIONS NEVER ENTERED\n");
    for (const report::NeverEntered& n : r.neverEntered)
      std::fprintf(out, "  %-40s %s\n", fit(n.name, 40).c_str(), fit(n.reason, 56).c_str());
  }
}

void variables(const Report& r, std::FILE* out) {
  std::vector<const report::VariableSummary*> rows;
  for (const auto& v : r.variables) rows.push_back(&v);
  std::stable_sort(rows.begin(), rows.end(), [](auto* a, auto* b) { return a->accesses > b->accesses; });
  std::fprintf(out, "\nVARIABLES (by accesses; touched: bytes touched/size in bytes)\n");
  std::fprintf(out, "  %-36s %-11s %8s %10s %13s %s\n", "variable", "kind", "size", "accesses", "touched", "pattern");
  const auto functionName = [&r](uint32_t id) { return r.functionName(id); };
  const auto threadName = [&r](uint32_t t) { return threadLabel(r, t); };
  for (const report::VariableSummary* v : rows) {
    std::fprintf(out, "  %-36s %-11s %8llu %10llu %13s %s\n", fit(v->name, 36).c_str(),
                 report::variableKindName(v->kind), ull(v->size), ull(v->accesses), touchedText(*v).c_str(),
                 patternText(*v).c_str());
    wrapped(out, "by function: ", countsLine(v->byFunction, functionName));
    wrapped(out, "by thread:   ", countsLine(v->byThread, threadName));
    if (v->distinctOffsets > 1)
      std::fprintf(out, "    offsets:     %s; %llu distinct offsets)\n", histogramRow(v->histogram).c_str(),
                   ull(v->distinctOffsets));
  }
  std::fprintf(out, "\nSHARED VARIABLES (touched by more than one thread: a conflict in hardware)\n");
  bool any = false;
  for (const report::VariableSummary* v : rows) {
    if (!v->shared) continue;
    any = true;
    std::fprintf(out, "  %s\n", fit(v->name, 96).c_str());
    wrapped(out, "", countsLine(v->byThread, threadName));
  }
  if (!any) std::fprintf(out, "  none\n");
}

void heapSites(const Report& r, std::FILE* out) {
  if (r.heapSites.empty()) return;
  std::fprintf(out, "\nHEAP BLOCKS BY ALLOCATION SITE (the allocating function; the trace holds no source line)\n");
  std::fprintf(out, "  %-36s %8s %12s %12s %6s  %s\n", "allocated in", "blocks", "bytes", "accesses", "freed", "ids");
  for (const report::HeapSite& s : r.heapSites) {
    std::string ids;
    for (size_t i = 0; i < s.blockIds.size() && ids.size() < 14; ++i) ids += (i == 0 ? "#" : " #") + std::to_string(s.blockIds[i]);
    if (ids.size() >= 14 && s.blockIds.size() > 1) ids = fit(ids, 14) + "...";
    std::fprintf(out, "  %-36s %8llu %12llu %12llu %6llu  %s\n", fit(s.name, 36).c_str(), ull(s.blocks), ull(s.bytes),
                 ull(s.accesses), ull(s.freed), ids.c_str());
  }
}

void streams(const Report& r, std::FILE* out) {
  std::fprintf(out, "\nSTREAMS (high water: the most elements queued at once, the FIFO depth this run needed)\n");
  if (!r.hasStreamFile) {
    std::fprintf(out, "  none (the run directory has no streams file)\n");
    return;
  }
  std::fprintf(out, "  %-26s %6s %10s %10s %8s %8s %10s\n", "stream", "bytes", "writes", "reads", "empty", "left",
               "high water");
  for (const report::StreamSummary& s : r.streams) {
    const report::StreamLine& l = s.line;
    std::fprintf(out, "  %-26s %6u %10llu %10llu %8llu %8llu %10llu\n", fit(l.name, 26).c_str(), l.elementSize,
                 ull(l.writes), ull(l.reads), ull(l.emptyReads), ull(l.left), ull(l.highWater));
    wrapped(out, "producers: ", threadList(r, s.producers));
    wrapped(out, "consumers: ", threadList(r, s.consumers));
  }
}

}  // namespace

std::string threadLabel(const Report& r, uint32_t thread) {
  if (thread == report::kUnknownThread) return "- (a thread without a profile)";
  for (const report::ThreadSummary& t : r.threads) {
    if (t.thread != thread) continue;
    if (!t.name.empty()) return std::to_string(thread) + " (" + t.name + ")";
    if (t.startFunction != 0) return std::to_string(thread) + " (" + r.functionName(t.startFunction) + ")";
  }
  return std::to_string(thread);
}

void writeReportText(const Report& r, std::FILE* out) {
  std::fprintf(out, "Report of %s\n", printable(r.directory).c_str());
  if (!r.program.empty()) std::fprintf(out, "Program: %s\n", printable(r.program).c_str());
  std::fprintf(out,
               "The traces carry no time: calls (function entries) and memory accesses are the measure of work.\n"
               "Totals: threads %zu, calls %llu, accesses %llu.\n",
               r.threads.size(), ull(r.totalCalls), ull(r.totalAccesses));
  for (const std::string& n : r.notes) wrappedWords(out, "NOTE: ", "      ", n);
  threads(r, out);
  functions(r, out);
  variables(r, out);
  heapSites(r, out);
  streams(r, out);
}

}  // namespace proftrace
