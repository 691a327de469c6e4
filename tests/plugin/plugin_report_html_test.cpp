// proftrace report --html on the plain dataflow design, rendered by headless
// Chromium: the page's script builds every table from the embedded
// document, sorts on request, and the pictures drawn by Graphviz are in the
// rendered page; without Graphviz the command says what is missing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "plugin_run.h"
#include "strict_json.h"

using strictjson::JsonValue;

namespace {

proctest::RunResult proftrace(const std::vector<std::string>& args, const std::function<void()>& setup = {}) {
  return proctest::run(PROFTRACE_PATH, args, "", setup);
}

std::string chromiumPath() {
  for (const char* candidate : {"/usr/bin/chromium", "/usr/bin/chromium-browser"})
    if (proctest::exists(candidate)) return candidate;
  return "";
}

// The DOM after the page's script ran.
std::string renderedDom(const std::string& url, const std::string& scratch) {
  const proctest::RunResult r = proctest::run(
      chromiumPath(), {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                       "--disable-background-networking", "--disable-component-update", "--disable-sync",
                       "--user-data-dir=" + scratch + "/profile", "--dump-dom", url});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return r.out;
}

std::string unescaped(std::string s) {
  const std::pair<const char*, const char*> entities[] = {{"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&amp;", "&"}};
  for (const auto& [entity, text] : entities)
    for (size_t at; (at = s.find(entity)) != std::string::npos;) s.replace(at, std::string(entity).size(), text);
  return s;
}

// Text of the elements named `tag` between `from` and `to` in `html`.
std::vector<std::string> elements(const std::string& html, const std::string& tag, size_t from, size_t to) {
  std::vector<std::string> out;
  for (size_t at = html.find("<" + tag, from); at < to; at = html.find("<" + tag, at + 1)) {
    const char after = html[at + 1 + tag.size()];
    if (after != '>' && after != ' ') continue;  // <thead> is no <th>
    const size_t open = html.find('>', at) + 1;
    const size_t close = html.find("</" + tag + ">", open);
    if (close > to) break;
    out.push_back(unescaped(html.substr(open, close - open)));
  }
  return out;
}

struct Table {
  std::vector<std::string> head;
  std::vector<std::vector<std::string>> rows;
  std::string headHtml;
};

Table table(const std::string& dom, const std::string& id) {
  Table t;
  const size_t start = dom.find("<table id=\"" + id + "\"");
  if (start == std::string::npos) return t;
  const size_t end = dom.find("</table>", start);
  const size_t body = dom.find("<tbody>", start);
  t.headHtml = dom.substr(start, body - start);
  t.head = elements(dom, "th", start, body);
  for (const std::string& row : elements(dom, "tr", body, end)) t.rows.push_back(elements(row, "td", 0, row.size()));
  return t;
}

class ReportPage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    run_ = new plugintest::PluginRun(plugintest::runProgram("plain_dataflow_O0"));
    page_ = run_->cwd + "/page";
  }
  static void TearDownTestSuite() { delete run_; }
  static plugintest::PluginRun* run_;
  static std::string page_;
};
plugintest::PluginRun* ReportPage::run_ = nullptr;
std::string ReportPage::page_;

TEST_F(ReportPage, ChromiumShowsTheTablesSortedOnRequestAndThePictures) {
  ASSERT_EQ(run_->result.exitCode, 0) << run_->result.err;
  ASSERT_FALSE(chromiumPath().empty()) << "install the Debian packages chromium and chromium-driver";
  const proctest::RunResult made = proftrace({"report", run_->runDir, "--html", page_});
  ASSERT_EQ(made.exitCode, 0) << made.err;
  EXPECT_EQ(made.out, page_ + "/report.html\n");
  const proctest::RunResult json = proftrace({"report", run_->runDir, "--json"});
  const JsonValue report = strictjson::parse(json.out);

  const std::string dom = renderedDom("file://" + page_ + "/report.html#sort=variables:3:desc", run_->cwd);
  ASSERT_NE(dom.find("data-built=\"yes\""), std::string::npos) << "the page's script did not finish";

  // Both pictures, with the streams between the stages and every thread.
  const size_t dataflow = dom.find("<figure id=\"dataflow\">");
  const size_t callGraph = dom.find("<figure id=\"callgraph\">");
  ASSERT_NE(dataflow, std::string::npos);
  ASSERT_NE(callGraph, std::string::npos);
  const std::vector<std::string> labels = elements(dom, "text", dataflow, callGraph);
  for (const char* label : {"in_fifo", "out_fifo", "thread 0", "thread 1", "thread 2 (fir-stage)", "thread 3"})
    EXPECT_NE(std::find(labels.begin(), labels.end(), label), labels.end()) << label;
  EXPECT_NE(dom.find("<svg", callGraph), std::string::npos);

  // One row per entry of the report, built by the script.
  EXPECT_EQ(table(dom, "threads").rows.size(), report["threads"].array.size());
  EXPECT_EQ(table(dom, "functions").rows.size(), report["functions"].array.size());
  EXPECT_EQ(table(dom, "calls").rows.size(), report["callGraph"].array.size());

  // Variables sorted by accesses, most first, as the address asked.
  const Table variables = table(dom, "variables");
  ASSERT_EQ(variables.rows.size(), report["variables"].array.size());
  ASSERT_GE(variables.head.size(), 4u);
  EXPECT_EQ(variables.head[3], "accesses");
  EXPECT_NE(variables.headHtml.find("class=\"desc\">accesses"), std::string::npos);
  uint64_t most = 0;
  for (const JsonValue& v : report["variables"].array) most = std::max(most, v["accesses"].u());
  EXPECT_EQ(std::stoull(variables.rows.front()[3]), most);
  for (size_t i = 1; i < variables.rows.size(); ++i)
    EXPECT_GE(std::stoull(variables.rows[i - 1][3]), std::stoull(variables.rows[i][3]));

  // Each stream carried the 16 samples from its producer to its consumer.
  const Table streams = table(dom, "streams");
  ASSERT_EQ(streams.rows.size(), 2u);
  for (const std::vector<std::string>& row : streams.rows) {
    ASSERT_GE(row.size(), 9u);
    EXPECT_EQ(row[2], "16");
    EXPECT_EQ(row[3], "16");
  }
  EXPECT_EQ(streams.rows[0][0] == "in_fifo" ? streams.rows[0][7] : streams.rows[1][7], "1 (producer(void*))");
}

TEST_F(ReportPage, WithoutGraphvizTheCommandNamesThePackage) {
  ASSERT_EQ(run_->result.exitCode, 0) << run_->result.err;
  const std::string dir = run_->cwd + "/nodot";
  const proctest::RunResult r = proftrace({"report", run_->runDir, "--html", dir}, [] { setenv("PATH", "/nonexistent", 1); });
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("the Graphviz program 'dot' was not found; install the Debian package graphviz"), std::string::npos)
      << r.err;
  EXPECT_FALSE(proctest::exists(dir + "/report.html"));
}

}  // namespace
