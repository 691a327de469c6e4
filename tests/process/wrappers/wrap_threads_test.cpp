// Runs the thread scenarios of wrap_threads_prog: creation and join records
// in the creator's trace, one trace per created thread under its creation
// number, naming values, suspended callers, and the refusal of fork.
#include <gtest/gtest.h>

#include <string>

#include "process_support.h"
#include "trace_expect.h"

using expect::Scenario;
using expect::Trace;

namespace {

constexpr char kProgram[] = "wrap_threads_prog";

Scenario run(const std::string& scenario) {
  Scenario s = expect::runScenario(kProgram, scenario);
  EXPECT_EQ(s.result.exitCode, 0) << s.result.err;
  EXPECT_EQ(s.result.err, "");
  return s;
}

Trace mainStarted() {
  Trace t;
  t.entry(200, 0);
  return t;
}

// worker(arg): its entry, an access to global 2, its argument, its return.
Trace workerTrace(uint64_t arg) {
  Trace t;
  t.entry(201, 0).global(2, 0).u({arg}).exit();
  return t;
}

// The 8-byte report of handle slot k of global 1.
void handleSlot(Trace& t, uint64_t k) { t.global(1, 8 * k).size(8); }

}  // namespace

TEST(ThreadWrappers, CreationsAreNumberedInOrderAndJoinsRecorded) {
  Scenario s = run("create-join");
  EXPECT_EQ(s.result.out, "create 0\ncreate 0\njoin 0 10\njoin 0 11\n");
  Trace t = mainStarted();
  handleSlot(t, 0);
  t.created(1);
  handleSlot(t, 1);
  t.created(2).joined(1).joined(2).exit();
  expect::expectTrace(s.runDir, 0, t);
  expect::expectTrace(s.runDir, 1, workerTrace(10));
  expect::expectTrace(s.runDir, 2, workerTrace(11));
  EXPECT_FALSE(proctest::exists(expect::traceFile(s.runDir, 3)));
}

// A refused creation spends its number and records nothing but the slot
// report that precedes it; a refused join records nothing.
TEST(ThreadWrappers, FailedCreationSpendsItsNumberAndFailedJoinIsSilent) {
  Scenario s = run("failed");
  EXPECT_TRUE(expect::hasLine(s.result.out, "huge stack refused")) << s.result.out;
  EXPECT_TRUE(expect::hasLine(s.result.out, "join self EDEADLK")) << s.result.out;
  Trace t = mainStarted();
  handleSlot(t, 0);
  handleSlot(t, 1);
  t.created(2).joined(2).exit();
  expect::expectTrace(s.runDir, 0, t);
  EXPECT_FALSE(proctest::exists(expect::traceFile(s.runDir, 1)));
  expect::expectTrace(s.runDir, 2, workerTrace(11));
}

// Names are written into the caller's trace as thread number, length and
// bytes; a null name as the invalid thread number alone, and it is refused
// instead of being handed to the thread library.
TEST(ThreadWrappers, NamesAreRecordedAndNullNameRefused) {
  Scenario s = run("names");
  EXPECT_EQ(s.result.out,
            "name rc 0\nname 'stage'\nempty rc 0\nname ''\nnull rc EINVAL\nself rc 0\njoin 0 10\n");
  Trace t = mainStarted();
  handleSlot(t, 0);
  t.created(1).name(1, "stage").name(1, "").u({0xFFFFFFFFu}).name(0, "main").joined(1).exit();
  expect::expectTrace(s.runDir, 0, t);
  expect::expectTrace(s.runDir, 1, workerTrace(10));
}

// While the caller is suspended the wrappers only forward. A thread made
// then numbers itself at its first profiled call; one that never makes a
// call (it allocates only while suspended) is numbered by the first join
// that is traced, and has no trace.
TEST(ThreadWrappers, SuspendedCallerOnlyForwards) {
  Scenario s = run("suspended");
  EXPECT_EQ(s.result.out, "join 0 10\njoin 0 11\njoin 0 12\n");
  Trace t = mainStarted();
  t.joined(2);
  handleSlot(t, 2);
  t.created(3).joined(3).exit();
  expect::expectTrace(s.runDir, 0, t);
  expect::expectTrace(s.runDir, 1, workerTrace(10));
  EXPECT_FALSE(proctest::exists(expect::traceFile(s.runDir, 2)));
  expect::expectTrace(s.runDir, 3, workerTrace(12));
}

// fork is refused with its message and status 1; the exit handlers finish
// the trace of every thread, also of one that is still running.
TEST(ProcessWrappers, ForkIsRefusedAndEveryTraceFinished) {
  Scenario s = expect::runScenario(kProgram, "fork");
  EXPECT_EQ(s.result.exitCode, 1);
  EXPECT_EQ(s.result.err, "nuq:0:0: error: fork()/vfork() are not supported by NUQ, exiting.\n");
  EXPECT_EQ(s.result.err.size(), 66u);
  EXPECT_EQ(s.result.out.find("fork returned"), std::string::npos);
  Trace t = mainStarted();
  t.alloc(1, 16, s.at["block"]);
  handleSlot(t, 0);
  t.created(1);
  expect::expectTrace(s.runDir, 0, t);
  Trace blocked;
  blocked.entry(202, 0).u({5});
  expect::expectTrace(s.runDir, 1, blocked);
}
