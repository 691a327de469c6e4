// DOT text of the report's pictures. Every name is quoted and escaped, so
// any function or stream name gives a valid graph; node ids are generated
// ("t<thread>", "f<id>", "s<serial>", "v<index>"), never names.
#include "report_graphs.h"

#include <map>
#include <set>

namespace report {

namespace {

// A DOT string literal: quotes and backslashes escaped, line ends as the
// centred line break \n, other control bytes dropped.
std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (static_cast<unsigned char>(c) >= 0x20) {
      out += c;
    }
  }
  return out + '"';
}

std::string threadNode(uint32_t thread) {
  return thread == kUnknownThread ? std::string("tunknown") : "t" + std::to_string(thread);
}

std::string threadLabel(const Report& r, uint32_t thread) {
  if (thread == kUnknownThread) return "thread without a profile";
  for (const ThreadSummary& t : r.threads) {
    if (t.thread != thread) continue;
    std::string label = "thread " + std::to_string(thread);
    if (!t.name.empty()) label += " (" + t.name + ")";
    if (t.startFunction != 0) label += "\n" + r.functionName(t.startFunction);
    return label;
  }
  return "thread " + std::to_string(thread);
}

// "1 call", "2 calls".
std::string counted(uint64_t n, const char* one, const char* many) { return std::to_string(n) + " " + (n == 1 ? one : many); }

std::string accessText(const Report& r, uint64_t accesses, uint64_t writes) {
  if (!r.accessKinds) return counted(accesses, "access", "accesses");
  return counted(accesses - writes, "read", "reads") + ", " + counted(writes, "write", "writes");
}

const char* kHead =
    "  graph [fontname=\"Helvetica\", fontsize=11, rankdir=LR];\n"
    "  node [fontname=\"Helvetica\", fontsize=11];\n"
    "  edge [fontname=\"Helvetica\", fontsize=10];\n";

}  // namespace

std::string dataflowDot(const Report& r) {
  std::string dot = "digraph dataflow {\n";
  dot += kHead;
  std::set<uint32_t> threads;
  for (const ThreadSummary& t : r.threads) threads.insert(t.thread);
  for (const StreamSummary& s : r.streams) {
    threads.insert(s.producers.begin(), s.producers.end());
    threads.insert(s.consumers.begin(), s.consumers.end());
  }
  for (uint32_t t : threads)
    dot += "  " + threadNode(t) + " [shape=box, style=\"rounded,filled\", fillcolor=\"#e8f0fe\", label=" +
           quoted(threadLabel(r, t)) + "];\n";

  for (const StreamSummary& s : r.streams) {
    const StreamLine& l = s.line;
    const std::string label = l.name + "\n" + std::to_string(l.writes) + " written, " + std::to_string(l.reads) +
                              " read\nhigh water " + std::to_string(l.highWater);
    const std::string attributes = ", color=\"#1a73e8\", penwidth=2, fontcolor=\"#1a73e8\"";
    if (!s.producers.empty() && !s.consumers.empty()) {
      for (uint32_t p : s.producers)
        for (uint32_t c : s.consumers)
          dot += "  " + threadNode(p) + " -> " + threadNode(c) + " [label=" + quoted(label) + attributes + "];\n";
      continue;
    }
    // Written or read by one side only (or not at all): the stream itself
    // is the other end.
    const std::string node = "s" + std::to_string(l.serial);
    dot += "  " + node + " [shape=cds, color=\"#1a73e8\", label=" + quoted(l.name) + "];\n";
    for (uint32_t p : s.producers) dot += "  " + threadNode(p) + " -> " + node + " [label=" + quoted(label) + attributes + "];\n";
    for (uint32_t c : s.consumers) dot += "  " + node + " -> " + threadNode(c) + " [label=" + quoted(label) + attributes + "];\n";
  }

  size_t index = 0;
  for (const VariableSummary& v : r.variables) {
    ++index;
    if (!v.shared) continue;
    const auto perThread = [&](uint32_t thread, uint64_t accesses) {
      const auto w = v.writesByThread.find(thread);
      return accessText(r, accesses, w == v.writesByThread.end() ? 0 : w->second);
    };
    const std::string attributes = ", style=dashed, color=\"#c5221f\", fontcolor=\"#c5221f\"";
    if (v.byThread.size() == 2) {
      const auto a = v.byThread.begin();
      const auto b = std::next(a);
      const std::string label = v.name + "\n" + std::to_string(a->first) + ": " + perThread(a->first, a->second) +
                                "\n" + std::to_string(b->first) + ": " + perThread(b->first, b->second);
      dot += "  " + threadNode(a->first) + " -> " + threadNode(b->first) + " [dir=none, label=" + quoted(label) +
             attributes + "];\n";
      continue;
    }
    const std::string node = "v" + std::to_string(index);
    dot += "  " + node + " [shape=box, style=dashed, color=\"#c5221f\", label=" + quoted(v.name) + "];\n";
    for (const auto& [thread, accesses] : v.byThread)
      dot += "  " + threadNode(thread) + " -> " + node + " [dir=none, label=" + quoted(perThread(thread, accesses)) +
             attributes + "];\n";
  }
  return dot + "}\n";
}

std::string callGraphDot(const Report& r) {
  std::string dot = "digraph calls {\n";
  dot += kHead;
  std::map<uint32_t, uint64_t> calls;
  for (const FunctionSummary& f : r.functions) calls[f.id] = f.entries;
  std::set<uint32_t> nodes;
  for (const CallEdge& e : r.callGraph) {
    nodes.insert(e.caller);
    nodes.insert(e.callee);
  }
  for (uint32_t id : nodes) {
    if (id == kThreadStart) {
      dot += "  f0 [shape=circle, label=\"thread\\nstart\", style=filled, fillcolor=\"#eeeeee\"];\n";
      continue;
    }
    const auto c = calls.find(id);
    dot += "  f" + std::to_string(id) + " [shape=box, style=rounded, label=" +
           quoted(r.functionName(id) + "\n" + counted(c == calls.end() ? 0 : c->second, "call", "calls")) + "];\n";
  }
  for (const CallEdge& e : r.callGraph)
    dot += "  f" + std::to_string(e.caller) + " -> f" + std::to_string(e.callee) + " [label=" +
           quoted(std::to_string(e.calls)) + "];\n";
  return dot + "}\n";
}

}  // namespace report
