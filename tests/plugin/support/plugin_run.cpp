#include "plugin_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace plugintest {

namespace {

bool startsWith(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

bool isObservable(const std::string& r, const std::set<std::string>& calls);

std::vector<std::string> filtered(const Decoded& thread, bool (*keep)(const std::string&, const std::set<std::string>&),
                                  const std::set<std::string>& calls) {
  std::vector<std::string> out;
  for (const std::string& r : thread.records)
    if (keep(r, calls)) out.push_back(r);
  return out;
}

// Inlining changes who calls and how landing pads are numbered, not what
// is called or that a handler was reached.
std::string withoutPlace(const std::string& r) {
  if (startsWith(r, "enter ")) return r.substr(0, r.find(" from "));
  if (startsWith(r, "unwind-stop")) return "unwind-stop";
  return r;
}

std::vector<std::string> observable(const Decoded& thread, const std::set<std::string>& calls) {
  std::vector<std::string> out = filtered(thread, isObservable, calls);
  for (std::string& r : out) r = withoutPlace(r);
  return out;
}

bool isObservable(const std::string& r, const std::set<std::string>& calls) {
  if (startsWith(r, "create ") || startsWith(r, "join ") || startsWith(r, "name ") || startsWith(r, "unwind-stop"))
    return true;
  if (!startsWith(r, "enter ")) return false;
  const std::string function = r.substr(6, r.find(" from ") - 6);
  return calls.count(function) != 0;
}

bool isHeapEvent(const std::string& r, const std::set<std::string>&) {
  return startsWith(r, "alloc ") || startsWith(r, "realloc ") || startsWith(r, "free ");
}

bool isGlobalAccess(const std::string& r, const std::set<std::string>&) { return startsWith(r, "global "); }

// The heap event without its block number: numbers shift when an earlier
// allocation was optimised away.
std::string withoutUid(const std::string& r) {
  const size_t hash = r.find('#');
  const size_t space = r.find(' ', hash);
  return r.substr(0, hash) + r.substr(space);
}

}  // namespace

std::string programPath(const std::string& program) { return std::string(PLUGIN_PROGRAMS_DIR) + "/" + program; }
std::string profileDir(const std::string& program) { return std::string(PLUGIN_PROFILES_DIR) + "/" + program; }

PluginRun runProgram(const std::string& program, const std::vector<std::string>& args) {
  PluginRun run;
  const std::string profile = profileDir(program);
  proctest::removeAll(profile);
  run.cwd = proctest::scratchDir("plugin-" + program);
  run.result = proctest::run(programPath(program), args, run.cwd);
  run.runDir = proctest::latestRunDir(profile);
  run.names = readRunNames(run.runDir);
  run.threads = decodeRun(run.runDir, run.names);
  return run;
}

void expectWellFormed(const PluginRun& run) {
  EXPECT_TRUE(run.names.problems.empty()) << run.names.problems.front();
  EXPECT_FALSE(run.threads.empty()) << "no trace in " << run.runDir;
  for (size_t t = 0; t < run.threads.size(); ++t) {
    const Decoded& d = run.threads[t];
    EXPECT_TRUE(d.complete) << "thread " << t;
    EXPECT_EQ(d.error, "") << "thread " << t;
    EXPECT_EQ(d.openFrames, 0u) << "thread " << t;
    for (const std::string& r : d.records) {
      EXPECT_EQ(r.find('?'), std::string::npos) << "thread " << t << ": an id without a name: " << r;
      if (r.find('?') != std::string::npos) break;
    }
  }
}

void expectSameObservableBehaviour(const PluginRun& o0, const PluginRun& o2, const std::set<std::string>& calls) {
  EXPECT_EQ(o2.result.exitCode, o0.result.exitCode);
  EXPECT_EQ(o2.result.out, o0.result.out);
  ASSERT_EQ(o2.threads.size(), o0.threads.size());
  for (size_t t = 0; t < o0.threads.size(); ++t) {
    SCOPED_TRACE("thread " + std::to_string(t));
    EXPECT_EQ(firstDifference(observable(o2.threads[t], calls), observable(o0.threads[t], calls)), "");

    const std::vector<std::string> heap0 = filtered(o0.threads[t], isHeapEvent, calls);
    const std::vector<std::string> heap2 = filtered(o2.threads[t], isHeapEvent, calls);
    size_t k = 0;
    for (const std::string& e : heap2) {
      while (k < heap0.size() && withoutUid(heap0[k]) != withoutUid(e)) ++k;
      EXPECT_LT(k, heap0.size()) << "heap event not in the unoptimised run, or out of order: " << e;
      ++k;
    }
    // A block is freed at most once, with the size it last had.
    std::map<std::string, std::string> live;
    for (const std::string& e : heap2) {
      const std::string uid = e.substr(e.find('#'), e.find(' ', e.find('#')) - e.find('#'));
      const std::string size = e.substr(e.rfind(' ') + 1);
      if (startsWith(e, "free ")) {
        EXPECT_EQ(live.count(uid), 1u) << e;
        if (live.count(uid) != 0) {
          EXPECT_EQ(live[uid], size) << e;
        }
        live.erase(uid);
      } else {
        live[uid] = size;
      }
    }

    const std::vector<std::string> globals0 = filtered(o0.threads[t], isGlobalAccess, calls);
    for (const std::string& g : filtered(o2.threads[t], isGlobalAccess, calls))
      EXPECT_NE(std::find(globals0.begin(), globals0.end(), g), globals0.end()) << g;
  }
}

}  // namespace plugintest
