// The run report as one self-contained HTML page: the report's JSON
// document embedded as data, a script that builds the sortable tables from
// it, and the two pictures inlined as SVG. No network, no external file.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "output.h"
#include "report_output.h"

namespace proftrace {

namespace {

// Style and script of the page. The script reads the embedded document,
// builds one table per section, sorts a table when a column heading is
// clicked (again: the other way) and applies "#sort=<table>:<column>:<asc|
// desc>" from the address at load, so that a sorted view can be linked.
constexpr const char* kStyle = R"(
body { font-family: Helvetica, Arial, sans-serif; margin: 1.5em; color: #202124; }
h1 { font-size: 1.4em; } h2 { font-size: 1.15em; margin-top: 1.6em; }
p.note { color: #c5221f; }
figure { margin: 1em 0; border: 1px solid #dadce0; padding: 0.5em; max-height: 40em; overflow: auto; }
figcaption { font-size: 0.9em; color: #5f6368; }
table { border-collapse: collapse; font-size: 0.88em; }
th, td { border: 1px solid #dadce0; padding: 0.2em 0.5em; }
th { background: #f1f3f4; cursor: pointer; user-select: none; white-space: nowrap; }
th.asc::after { content: " \25B2"; } th.desc::after { content: " \25BC"; }
td.n { text-align: right; font-variant-numeric: tabular-nums; }
tr:nth-child(even) td { background: #fafafa; }
)";

constexpr const char* kScript = R"(
(function () {
  const r = JSON.parse(document.getElementById('report-data').textContent);
  const rw = r.accessKinds;
  const threadName = t => {
    if (t === null) return '- (no profile)';
    const th = r.threads.find(x => x.thread === t);
    if (!th) return String(t);
    return t + ' (' + (th.name || th.startFunctionName || '-') + ')';
  };
  const fnName = id => { const f = r.functions.find(x => x.id === id); return f ? f.name : 'function ' + id; };
  const num = (title, get) => ({ title, get, numeric: true });
  const txt = (title, get) => ({ title, get, numeric: false });
  const split = (prefix, get) => rw ? [num(prefix + 'reads', x => get(x)[0]), num(prefix + 'writes', x => get(x)[1])] : [];
  const sections = [
    { id: 'threads', title: 'Threads', rows: r.threads, columns: [
      num('thread', x => x.thread), txt('name', x => x.name), txt('started in', x => x.startFunctionName),
      txt('created by', x => x.createdBy === null ? '-' : String(x.createdBy)), num('calls', x => x.calls),
      num('accesses', x => x.accesses), ...split('', x => [x.reads, x.writes]),
      txt('trace', x => x.complete ? 'complete' : 'INCOMPLETE: ' + x.problem)] },
    { id: 'functions', title: 'Functions (exclusive: accesses made while on top of the stack; inclusive: while anywhere on it)',
      rows: r.functions, columns: [
      txt('function', x => x.name), num('calls', x => x.calls),
      txt('calls by thread', x => x.callsByThread.map(c => c.thread + ':' + c.calls).join(' ')),
      num('exclusive', x => x.accessesExclusive), ...split('exclusive ', x => [x.readsExclusive, x.writesExclusive]),
      num('inclusive', x => x.accessesInclusive), ...split('inclusive ', x => [x.readsInclusive, x.writesInclusive])] },
    { id: 'calls', title: 'Call graph', rows: r.callGraph, columns: [
      txt('caller', x => x.callerName), txt('callee', x => x.calleeName), num('calls', x => x.calls)] },
    { id: 'never', title: 'Registered functions never entered', rows: r.neverEntered, columns: [
      txt('function', x => x.name), txt('likely reason', x => x.reason)] },
    { id: 'variables', title: 'Variables (touched: bytes touched of the size)', rows: r.variables, columns: [
      txt('variable', x => x.name), txt('kind', x => x.kind), num('size', x => x.size),
      num('accesses', x => x.accesses), ...split('', x => [x.reads, x.writes]),
      num('touched', x => x.bytesTouched === null ? -1 : x.bytesTouched),
      txt('pattern', x => x.pattern.kind + (x.pattern.stride ? ' ' + (x.pattern.stride > 0 ? '+' : '') + x.pattern.stride : '')),
      txt('by function', x => x.byFunction.map(f => fnName(f.function) + ' ' + f.accesses).join(', ')),
      txt('by thread', x => x.byThread.map(t => threadName(t.thread) + ' ' + t.accesses).join(', ')),
      txt('shared', x => x.shared ? 'yes' : '')] },
    { id: 'heap', title: 'Heap blocks by allocation site', rows: r.heapSites, columns: [
      txt('allocated in', x => x.name), num('blocks', x => x.blocks), num('bytes', x => x.bytes),
      num('accesses', x => x.accesses), ...split('', x => [x.reads, x.writes]), num('freed', x => x.freed)] },
    { id: 'streams', title: 'Streams (high water: the FIFO depth this run needed)', rows: r.streams || [], columns: [
      txt('stream', x => x.name), num('element bytes', x => x.elementSize), num('writes', x => x.writes),
      num('reads', x => x.reads), num('empty reads', x => x.emptyReads), num('left', x => x.left),
      num('high water', x => x.highWater), txt('producers', x => x.producers.map(threadName).join(', ')),
      txt('consumers', x => x.consumers.map(threadName).join(', '))] },
  ];
  const main = document.getElementById('tables');
  const tables = {};
  for (const s of sections) {
    const h = document.createElement('h2');
    h.textContent = s.title;
    main.appendChild(h);
    if (s.rows.length === 0) {
      const p = document.createElement('p');
      p.textContent = 'none';
      main.appendChild(p);
      continue;
    }
    const table = document.createElement('table');
    table.id = s.id;
    const head = table.createTHead().insertRow();
    s.columns.forEach((c, i) => {
      const th = document.createElement('th');
      th.textContent = c.title;
      th.addEventListener('click', () => sortTable(s, i, th.classList.contains('desc') ? 'asc' : 'desc'));
      head.appendChild(th);
    });
    s.body = table.createTBody();
    s.table = table;
    s.order = s.rows.slice();
    fill(s);
    main.appendChild(table);
    tables[s.id] = s;
  }
  function fill(s) {
    s.body.textContent = '';
    for (const row of s.order) {
      const tr = s.body.insertRow();
      for (const c of s.columns) {
        const td = tr.insertCell();
        const v = c.get(row);
        td.textContent = v === null || v === undefined ? '' : (c.numeric && v < 0 ? '?' : String(v));
        if (c.numeric) td.className = 'n';
      }
    }
  }
  function sortTable(s, column, direction) {
    const c = s.columns[column];
    const sign = direction === 'asc' ? 1 : -1;
    s.order = s.rows.slice().sort((a, b) => {
      const x = c.get(a), y = c.get(b);
      return sign * (c.numeric ? x - y : String(x).localeCompare(String(y)));
    });
    s.table.querySelectorAll('th').forEach((th, i) => th.className = i === column ? direction : '');
    fill(s);
  }
  const m = /^#sort=([a-z]+):(\d+):(asc|desc)$/.exec(location.hash);
  if (m && tables[m[1]] && Number(m[2]) < tables[m[1]].columns.length) sortTable(tables[m[1]], Number(m[2]), m[3]);
  document.body.dataset.built = 'yes';
})();
)";

// The SVG element of dot's output, without the XML prolog and doctype that
// may not stand inside HTML.
std::string svgElement(const std::string& svg) {
  const size_t at = svg.find("<svg");
  return at == std::string::npos ? std::string() : svg.substr(at);
}

std::string htmlText(std::string_view text) {
  std::string out;
  for (char c : printable(text)) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

// The report's JSON document, safe inside a script element: every '<'
// (only ever inside strings) becomes \u003c, so no "</script>" can appear.
std::string embeddedJson(const report::Report& r) {
  char* buffer = nullptr;
  size_t size = 0;
  std::FILE* memory = open_memstream(&buffer, &size);
  if (memory == nullptr) throw std::bad_alloc();
  writeReportJson(r, memory);
  std::fclose(memory);
  std::string out;
  out.reserve(size);
  for (size_t i = 0; i < size; ++i) {
    if (buffer[i] == '<')
      out += "\\u003c";
    else
      out += buffer[i];
  }
  std::free(buffer);
  return out;
}

}  // namespace

void writeReportHtml(const report::Report& r, const std::string& dataflowSvg, const std::string& callGraphSvg,
                     std::FILE* out) {
  std::fprintf(out, "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n");
  std::fprintf(out, "<title>Run report: %s</title>\n<style>%s</style>\n</head>\n<body>\n",
               htmlText(r.program.empty() ? r.directory : r.program).c_str(), kStyle);
  std::fprintf(out, "<h1>Run report of %s</h1>\n", htmlText(r.directory).c_str());
  if (!r.program.empty()) std::fprintf(out, "<p>Program: %s</p>\n", htmlText(r.program).c_str());
  std::fprintf(out,
               "<p>The traces carry no time: calls (function entries) and memory accesses are the measure of "
               "work. Click a column heading to sort a table.</p>\n<p id=\"totals\">Totals: threads %zu, calls %llu, "
               "accesses %llu",
               r.threads.size(), static_cast<unsigned long long>(r.totalCalls),
               static_cast<unsigned long long>(r.totalAccesses));
  if (r.accessKinds)
    std::fprintf(out, " (%llu reads, %llu writes)", static_cast<unsigned long long>(r.totalAccesses - r.totalWrites),
                 static_cast<unsigned long long>(r.totalWrites));
  std::fprintf(out, ".</p>\n");
  for (const std::string& n : r.notes) std::fprintf(out, "<p class=\"note\">Note: %s</p>\n", htmlText(n).c_str());
  std::fprintf(out,
               "<h2>Dataflow</h2>\n<figure id=\"dataflow\">%s<figcaption>Threads, the streams between them (solid: "
               "elements written and read, high-water mark) and the variables they share (dashed: accesses per "
               "thread).</figcaption></figure>\n",
               svgElement(dataflowSvg).c_str());
  std::fprintf(out,
               "<h2>Call graph</h2>\n<figure id=\"callgraph\">%s<figcaption>Functions entered with their calls; "
               "edges with the calls from caller to callee.</figcaption></figure>\n",
               svgElement(callGraphSvg).c_str());
  std::fprintf(out, "<div id=\"tables\"></div>\n<script type=\"application/json\" id=\"report-data\">%s</script>\n",
               embeddedJson(r).c_str());
  std::fprintf(out, "<script>%s</script>\n</body>\n</html>\n", kScript);
}

}  // namespace proftrace
