// Runs the signal scenarios of wrap_signals_prog: the previous handlers
// the wrappers report, handlers that run with tracing suspended, and the
// signal number beyond the tables that goes straight to the C library.
#include <gtest/gtest.h>

#include <string>

#include "process_support.h"
#include "trace_expect.h"

using expect::Scenario;
using expect::Trace;

namespace {

constexpr char kProgram[] = "wrap_signals_prog";

Scenario run(const std::string& scenario) {
  Scenario s = expect::runScenario(kProgram, scenario);
  EXPECT_EQ(s.result.exitCode, 0) << s.result.err;
  EXPECT_EQ(s.result.signal, 0);
  EXPECT_EQ(s.result.err, "");
  return s;
}

}  // namespace

// The caller sees its own handlers as previous ones, never a trampoline;
// a three-argument action with an ignore disposition really ignores the
// signal and is reported as ignored afterwards; a handler installed
// outside the wrappers is reported as installed.
TEST(SignalWrappers, ReportTheUsersPreviousHandlers) {
  Scenario s = run("previous");
  EXPECT_EQ(s.result.out,
            "signal h: SIG_DFL\n"
            "signal h2: h\n"
            "signal SIG_DFL: h2\n"
            "sigaction f: SIG_DFL\n"
            "signal h after f: f\n"
            "query after h: h\n"
            "sysv h2: h\n"
            "ignore after f: f\n"
            "query ignored: SIG_IGN\n"
            "outside: h2\n"
            "runs 0\n");
  Trace t;
  t.entry(200, 0).exit();
  expect::expectTrace(s.runDir, 0, t);
}

// Everything the handlers' instrumented code does is dropped, block ids
// included, and tracing runs again once they return.
TEST(SignalWrappers, HandlersRunWithTracingSuspended) {
  Scenario s = run("suspended");
  EXPECT_EQ(s.result.out.substr(s.result.out.find("handler")),
            "handler suspended 1\ninfo handler suspended 1\nafter=" + s.result.out.substr(s.result.out.find("after=") + 6));
  EXPECT_TRUE(expect::hasLine(s.result.out, "runs 2")) << s.result.out;
  Trace t;
  t.entry(200, 0).alloc(1, 8, s.at["before"]);
  t.exit();  // raise(SIGUSR1): only the call's own exit
  t.exit();  // raise(SIGUSR2)
  t.alloc(2, 8, s.at["after"]).u({2}).free(1, 8).free(2, 8).exit();
  expect::expectTrace(s.runDir, 0, t);
}

// SIGRTMAX lies beyond the tables: signal and sigaction go to the C library
// unchanged, its handlers run without trampoline and are traced.
TEST(SignalWrappers, RealtimeMaximumGoesStraightToTheLibrary) {
  Scenario s = run("rtmax");
  EXPECT_EQ(s.result.out,
            "signal rtmax: SIG_DFL\n"
            "handler suspended 0\n"
            "query rtmax: rtHandler\n"
            "sigaction rtmax: rtHandler\n"
            "query rtmax: rtInfoHandler\n"
            "runs 2\n");
  Trace t;
  t.entry(200, 0);
  t.global(1, 0).u({0x63}).exit();  // rtHandler's records, then raise returns
  t.global(1, 0).u({0x64}).exit();  // rtInfoHandler's
  t.exit();
  expect::expectTrace(s.runDir, 0, t);
}
