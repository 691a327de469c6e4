// A test bench left uninstrumented (EXCLUDE main and bench*) where the
// design's exceptions are caught and its long jumps land. Each such landing
// pops the frames of the instrumented calls in between, down to the frame
// the bench function runs in (none, below main), with the records an
// instrumented catcher writes; the bench functions leave nothing of their
// own, and what the design does next is attributed at the right depth.
#include <gtest/gtest.h>

#include <string>

#include "expected_records.h"
#include "plugin_run.h"

using plugintest::PluginRun;
using plugintest::Records;

namespace {

// level1(x) -> level2(x) -> level3(x), which throws when x > 0.
void levels(Records& r, const std::string& caller, bool throws) {
  const char* names[] = {"level1(int)", "level2(int)", "level3(int)"};
  for (int l = 0; l < 3; ++l) {
    const std::string f = names[l];
    r.enter(f, l == 0 ? caller : names[l - 1]).local(f + "::x").global("gDepth").local(f + "::x");
  }
  if (throws) {
    r.call("__cxa_allocate_exception", "level3(int)");
    r.call("std::runtime_error::runtime_error(char const*)", "level3(int)");
    r.enter("__cxa_throw", "level3(int)");
    return;
  }
  r.exit().exit().exit();
}

// Called from bench code, level1 enters itself (caller "-"); each throw
// leaves four frames: the three levels and the library's throw. main's
// first handler, for its own throw, runs before the thread has a trace and
// leaves none.
Records caught() {
  Records r;
  levels(r, "-", true);
  r.unwind(4, 2);  // main's second handler: the stack is empty again
  levels(r, "-", false);
  r.enter("design()", "-").enter("benchOuter()", "design()");
  levels(r, "-", true);
  r.unwind(4, 1);  // benchInner's handler, down to the frame of benchOuter that design announced
  r.exit().local("design()::caught");
  r.enter("benchRethrow()", "design()");
  levels(r, "-", true);
  r.unwind(4, 1);  // its handler
  r.unwind(0, 2);  // its clean-up around the rethrow: nothing left to pop
  r.unwind(1, 1);  // design's handler: benchRethrow's frame, popped once
  r.local("design()::exn.slot").local("design()::ehselector.slot").local("design()::exn.slot");
  r.call("__cxa_begin_catch", "design()").local("design()::caught").local("design()::caught");
  r.call("__cxa_end_catch", "design()");
  levels(r, "design()", false);
  return r.local("design()::caught").exit();
}

// middle(x) -> leaf(x), which jumps back to benchJump when x > 0.
void middle(Records& r, const std::string& caller, bool jumps) {
  r.enter("middle", caller).local("middle::x").global("gDepth").local("middle::x");
  r.enter("leaf", "middle").local("leaf::x").global("gDepth").local("leaf::x");
  if (jumps) {
    r.local("leaf::x").enter("longjmp", "leaf");
    return;
  }
  r.exit().exit();
}

// glibc's siglongjmp is longjmp under another name: one address, one
// function record.
Records jumped() {
  Records r;
  middle(r, "-", true);
  r.unwind(3, 1);  // benchJump called from main: down to the empty stack
  middle(r, "-", false);
  r.enter("design", "-").enter("benchJump", "design");
  middle(r, "-", true);
  r.unwind(3, 1);  // down to benchJump's frame
  r.exit().local("design::jumps");
  middle(r, "design", false);
  r.local("design::jumps").exit();
  r.enter("sigLeaf", "-").global("gDepth").enter("longjmp", "sigLeaf");
  return r.unwind(2, 1);
}

void expectTrace(const char* program, const char* console, const Records& expected) {
  const PluginRun run = plugintest::runProgram(program);
  ASSERT_EQ(run.result.exitCode, 0) << run.result.err;
  EXPECT_EQ(run.result.out, console);
  EXPECT_EQ(run.result.err, "");
  plugintest::expectWellFormed(run);  // no frame left open
  ASSERT_EQ(run.threads.size(), 1u);
  if (!plugintest::kExactSequences) GTEST_SKIP() << "sanitizer build: the generated code differs";
  EXPECT_EQ(plugintest::match(run.threads[0].records, expected), "");
}

TEST(ExcludedBench, CatchingAnExceptionPopsTheFramesItAbandoned) {
  expectTrace("excluded_catch", "caught 3 at 3\n", caught());
}

TEST(ExcludedBench, ALongJumpBackPopsTheFramesItAbandoned) {
  expectTrace("excluded_jump", "jumps 3 at 4\n", jumped());
}

}  // namespace
