// The corpus of small designs, each built through the plugin at -O0 and at
// -O2. At -O0 the trace of every thread is compared, record for record,
// with the sequence the design's source dictates under the plugin's rules:
//  - every load and store the code performs is one access record, reported
//    before it happens; at -O0 that is every read and write of a variable,
//    including the stores of parameters into their stack slots on entry,
//    the return-value slot, and for an assignment the right-hand side's
//    reads before the target's address is computed;
//  - locals are named by their source names; compiler slots by the names
//    the compiler gives them (retval, saved_stack, agg.tmp, exn.slot;
//    ".addr" for the slot of an unnamed parameter); functions by their
//    source names, with parameter lists in C++;
//  - a local of an older frame of the same thread is an "outer" access
//    with that frame's depth (main is depth 1);
//  - every call is entered and exited, library calls included; pointers
//    handed to library functions are not reported (that is an option);
//    memcpy/memset, also those the compiler makes for initialisers, report
//    destination then source, each followed by its byte count;
//  - a C++ handler reports how many frames the unwinding abandoned.
// At -O2 the sequences legitimately differ; there the test checks what the
// optimiser cannot change (see expectSameObservableBehaviour).
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "expected_records.h"
#include "plugin_run.h"

using plugintest::Records;

namespace {

// for (int i = 0; i < bound; ++i) body(i), where the bound is a variable
// (loaded on every test) or a constant (not loaded).
template <typename Body>
void countedLoop(Records& r, const std::string& i, const std::string& bound, int trips, Body body) {
  r.local(i);
  for (int k = 0; k <= trips; ++k) {
    r.local(i);
    if (!bound.empty()) r.local(bound);
    if (k == trips) break;
    body(k);
    r.local(i).local(i);
  }
}

Records pointerArgs() {
  Records r;
  r.enter("main", "-").local("main::retval").local("main::base");
  r.enter("fill", "main").local("fill::out").local("fill::n").local("fill::base");
  countedLoop(r, "fill::i", "fill::n", 4, [&](int i) {
    r.local("fill::base").outer("main::base", 1).local("fill::i");
    r.local("fill::out").local("fill::i").outer("main::values", 1, 4 * i);
  });
  r.exit();
  r.local("main::values", 0).local("main::values", 12).call("printf", "main");
  return r.exit();
}

Records globalsAndThreadLocals() {
  Records r;
  auto next = [&] { r.enter("next()", "main").global("next()::calls").global("next()::calls").global("next()::calls").exit(); };
  r.enter("main", "-").local("main::retval");
  countedLoop(r, "main::i", "", 3, [&](int i) {
    next();
    r.local("main::i").global("gTable", 4 * i);
    r.global("tCount").global("tCount");
  });
  r.global("gTable", 8).global("tCount");
  next();
  return r.call("printf", "main").exit();
}

Records heapBlocks() {
  Records r;
  r.enter("main", "-").local("main::retval");
  r.enter("malloc", "main").alloc(1, 8).exit().local("main::a");
  r.local("main::a").heap(1, 0).local("main::a").heap(1, 4);
  r.local("main::a").enter("realloc", "main").realloc(1, 16).exit().local("main::a");
  r.local("main::a").heap(1, 12);
  r.enter("calloc", "main").alloc(2, 24).exit().local("main::z");
  r.local("main::a").heap(1, 0).local("main::a").heap(1, 12).local("main::z").heap(2, 16);
  r.local("main::z").heap(2, 16).call("printf", "main");
  r.local("main::z").enter("free", "main").free(2, 24).exit();
  r.local("main::a").enter("free", "main").free(1, 16).exit();
  return r.exit();
}

// depthSum(above, level) at depth 2 + (3 - level); each level reads
// above[0], the array of the frame below it.
void depthSum(Records& r, int level) {
  const int depth = 2 + (3 - level);
  r.enter("depthSum", depth == 2 ? "main" : "depthSum");
  r.local("depthSum::above").local("depthSum::level");
  r.local("depthSum::level").local("depthSum::mine", 0);
  r.local("depthSum::above").outer(depth == 2 ? "main::start" : "depthSum::mine", depth - 1, 0);
  r.local("depthSum::level").local("depthSum::mine", 4);
  r.local("depthSum::level");
  if (level == 0) {
    r.local("depthSum::mine", 4);
  } else {
    r.local("depthSum::level");
    depthSum(r, level - 1);
  }
  r.local("depthSum::retval").local("depthSum::retval").exit();
}

Records recursion() {
  Records r;
  r.enter("main", "-").local("main::retval");
  // The initialiser of start is copied from a constant the program does
  // not name: an unknown address.
  r.enter("memcpy", "main").outer("main::start", 1).size(4).unknown().size(4).exit();
  depthSum(r, 3);
  return r.call("printf", "main").exit();
}

Records functionPointers() {
  Records r;
  r.enter("main", "-").local("main::retval").local("main::r");
  countedLoop(r, "main::k", "", 2, [&](int k) {
    r.local("main::k").global("gOps", 8 * k).local("main::r");
    if (k == 0) r.enter("twice", "main").local("twice::x").local("twice::x").exit();
    if (k == 1) r.enter("square", "main").local("square::x").local("square::x").local("square::x").exit();
    r.local("main::r");
  });
  return r.local("main::r").call("printf", "main").exit();
}

// va_arg reads the register save area, which is no variable of the
// program: an unknown address.
Records variadic() {
  Records r;
  r.enter("main", "-").local("main::retval");
  r.enter("sum", "main").local("sum::count").local("sum::total");
  countedLoop(r, "sum::i", "sum::count", 3, [&](int) {
    r.local("sum::args", 0).local("sum::args", 16).local("sum::args", 0).unknown();
    r.local("sum::total").local("sum::total");
  });
  r.local("sum::total").exit();
  return r.call("printf", "main").exit();
}

// biggest<T>(values, n) over main's array; newBest[k]: element k+1 beats
// the best so far.
void biggest(Records& r, const std::string& function, const std::string& array, int elementSize,
             std::initializer_list<bool> newBest) {
  const std::string f = function + "::";
  const int n = static_cast<int>(newBest.size()) + 1;
  r.enter(function, "main").local(f + "values").local(f + "n");
  r.local(f + "values").outer(array, 1, 0).local(f + "best");
  auto taken = newBest.begin();
  countedLoop(r, f + "i", f + "n", n - 1, [&](int k) {
    const int i = k + 1;
    r.local(f + "values").local(f + "i").outer(array, 1, elementSize * i).local(f + "best");
    if (*taken++) r.local(f + "values").local(f + "i").outer(array, 1, elementSize * i).local(f + "best");
  });
  r.local(f + "best").exit();
}

Records inlineTemplateLambda() {
  const std::string lambda = "main::$_0::operator()(int) const";
  auto add = [&](Records& r) {
    r.enter(lambda, "main").local(lambda + "::this").local(lambda + "::v");
    r.local(lambda + "::this").local(lambda + "::v").outer("main::add", 1).outer("main::total", 1).outer("main::total", 1);
    r.exit();
  };
  Records r;
  r.enter("main", "-").local("main::retval");
  r.enter("memcpy", "main").outer("main::ints", 1).size(12).unknown().size(12).exit();
  r.enter("memcpy", "main").outer("main::reals", 1).size(16).unknown().size(16).exit();
  r.local("main::total").local("main::add");
  biggest(r, "int biggest<int>(int const*, int)", "main::ints", 4, {true, false});
  r.enter("addOne(int)", "main").local("addOne(int)::x").local("addOne(int)::x").exit();
  add(r);
  biggest(r, "double biggest<double>(double const*, int)", "main::reals", 8, {false});
  add(r);
  return r.local("main::total").call("printf", "main").exit();
}

// Each pass saves the stack pointer (saved_stack), sets up row (n ints) and
// restores the stack pointer at the end of the pass.
Records vlaLoop() {
  Records r;
  r.enter("main", "-").local("main::retval").local("main::total").local("main::n");
  for (int n = 1; n <= 4; ++n) {
    r.local("main::n");
    if (n == 4) break;
    r.local("main::n").local("main::saved_stack").vla(4 * n).local("main::__vla_expr0");
    countedLoop(r, "main::i", "main::n", n, [&](int i) {
      r.local("main::i").local("main::n").local("main::i").local("main::row", 4 * i);
    });
    r.local("main::n").local("main::row", 4 * (n - 1)).local("main::total").local("main::total");
    r.local("main::saved_stack").local("main::n").local("main::n");
  }
  return r.local("main::total").call("printf", "main").exit();
}

// The argument is a copy of a, made by the caller (agg.tmp) and passed by
// value; the result is copied into b through the hidden result pointer.
Records structByValue() {
  const std::string scaled = "scaled(Big, long)";
  Records r;
  r.enter("main", "-").local("main::retval");
  r.enter("memset", "main").outer("main::a", 1).size(48).exit();
  for (int i = 0; i < 6; ++i) r.local("main::a", 8 * i);
  r.enter("memcpy", "main").outer("main::agg.tmp", 1).size(48).outer("main::a", 1).size(48).exit();
  r.enter(scaled, "main").local(scaled + "::factor");
  countedLoop(r, scaled + "::i", "", 6, [&](int i) {
    r.local(scaled + "::factor").local(scaled + "::i").local(scaled + "::in", 8 * i).local(scaled + "::in", 8 * i);
  });
  r.enter("memcpy", scaled).outer("main::b", 1).size(48).outer(scaled + "::in", 2).size(48).exit();
  r.exit();
  return r.local("main::a", 40).local("main::b", 40).call("printf", "main").exit();
}

void levels(Records& r, bool throws) {
  const char* names[] = {"level1(int)", "level2(int)", "level3(int)"};
  for (int l = 0; l < 3; ++l) {
    const std::string f = names[l];
    r.enter(f, l == 0 ? "main" : names[l - 1]).local(f + "::x").global("gDepth").local(f + "::x");
  }
  if (throws) {
    r.call("__cxa_allocate_exception", "level3(int)");
    r.call("std::runtime_error::runtime_error(char const*)", "level3(int)");
    r.enter("__cxa_throw", "level3(int)");
    return;
  }
  r.exit().exit().exit();
}

// The handler in main finds four frames above its own: level1 to level3
// and the library's throw.
Records exceptions() {
  Records r;
  r.enter("main", "-").local("main::retval");
  levels(r, true);
  r.unwind(4, 1);
  r.local("main::exn.slot").local("main::ehselector.slot").local("main::ehselector.slot").local("main::exn.slot");
  r.call("__cxa_begin_catch", "main").local("main::e").local("main::e");
  // what() is reached through the exception's virtual table: a function
  // that no unit names, entered as the catch-all function.
  r.unknown().unknown().call("<unregistered>", "main");
  r.global("gDepth").call("printf", "main").call("__cxa_end_catch", "main");
  levels(r, false);
  return r.global("gDepth").call("printf", "main").exit();
}

const std::string kStream = "(anonymous namespace)::gStream";

Records threadsMain() {
  Records r;
  r.enter("main", "-").local("main::retval");
  r.call("nuq_hls_stream_create", "main").global(kStream);
  for (uint32_t t = 1; t <= 2; ++t)
    r.enter("pthread_create", "main").outer("main::threads", 1, 8 * (t - 1)).size(8).created(t).exit();
  for (uint32_t t = 1; t <= 2; ++t) r.local("main::threads", 8 * (t - 1)).enter("pthread_join", "main").joined(t).exit();
  r.global(kStream).call("nuq_hls_stream_delete", "main");
  return r.global("(anonymous namespace)::gSum").call("printf", "main").exit();
}

// A stream write reports the value, then the handle twice; a read the
// handle, the value, the handle.
Records producer() {
  const std::string f = "produce(void*)";
  Records r;
  r.enter(f, "-").local(f + "::.addr").local(f + "::i");
  for (int i = 1; i <= 5; ++i) {
    r.local(f + "::i");
    if (i == 5) break;
    r.call("pthread_mutex_lock", f);
    r.enter("nuq_hls_stream_blocking_write", f).outer(f + "::i", 1).size(4).global(kStream).size(1).global(kStream).size(1).exit();
    r.call("pthread_cond_signal", f).call("pthread_mutex_unlock", f);
    r.local(f + "::i").local(f + "::i");
  }
  return r.exit();
}

Records consumer() {
  const std::string f = "consume(void*)";
  Records wait;
  wait.call("pthread_cond_wait", f).global(kStream).call("nuq_hls_stream_empty", f);
  Records r;
  r.enter(f, "-").local(f + "::.addr");
  countedLoop(r, f + "::k", "", 4, [&](int) {
    r.call("pthread_mutex_lock", f).global(kStream).call("nuq_hls_stream_empty", f).repeated(wait);
    r.enter("nuq_hls_stream_blocking_read", f).global(kStream).size(1).outer(f + "::v", 1).size(4).global(kStream).size(1).exit();
    r.call("pthread_mutex_unlock", f);
    r.local(f + "::v").global("(anonymous namespace)::gSum").global("(anonymous namespace)::gSum");
  });
  return r.exit();
}

struct Design {
  const char* name;
  const char* console;
  std::vector<Records> threads;
  std::set<std::string> observableCalls;
};

std::vector<Design> corpus() {
  const std::set<std::string> print = {"printf"};
  return {
      {"pointer_args", "10 13\n", {pointerArgs()}, print},
      {"globals_tls", "3 3 4\n", {globalsAndThreadLocals()}, print},
      {"heap_blocks", "5\n", {heapBlocks()}, print},
      {"recursion", "1\n", {recursion()}, print},
      {"function_pointers", "36\n", {functionPointers()}, print},
      {"variadic", "15\n", {variadic()}, print},
      {"inline_template_lambda", "11\n", {inlineTemplateLambda()}, print},
      {"vla_loop", "9\n", {vlaLoop()}, print},
      {"struct_by_value", "6 18\n", {structByValue()}, print},
      {"exceptions", "caught deep at 3\nreturned at 3\n", {exceptions()},
       {"printf", "__cxa_throw", "__cxa_begin_catch", "__cxa_end_catch"}},
      {"threads_stream", "10\n", {threadsMain(), producer(), consumer()},
       {"printf", "pthread_create", "pthread_join", "nuq_hls_stream_create", "nuq_hls_stream_delete",
        "nuq_hls_stream_blocking_write", "nuq_hls_stream_blocking_read"}},
  };
}

// Test names, not bytes, in gtest's messages.
void PrintTo(const Design& d, std::ostream* os) { *os << d.name; }

class Corpus : public testing::TestWithParam<Design> {};

TEST_P(Corpus, UnoptimisedTraceIsExactlyWhatTheSourceSays) {
  const Design& d = GetParam();
  const plugintest::PluginRun run = plugintest::runProgram(std::string("corpus_") + d.name + "_O0");
  ASSERT_EQ(run.result.exitCode, 0) << run.result.err;
  EXPECT_EQ(run.result.out, d.console);
  EXPECT_EQ(run.result.err, "");
  plugintest::expectWellFormed(run);
  ASSERT_EQ(run.threads.size(), d.threads.size());
  if (!plugintest::kExactSequences) GTEST_SKIP() << "sanitizer build: the generated code differs";
  for (size_t t = 0; t < d.threads.size(); ++t)
    EXPECT_EQ(plugintest::match(run.threads[t].records, d.threads[t]), "") << "thread " << t;
}

TEST_P(Corpus, OptimisedBuildKeepsWhatTheOptimiserCannotChange) {
  const Design& d = GetParam();
  const plugintest::PluginRun o0 = plugintest::runProgram(std::string("corpus_") + d.name + "_O0");
  const plugintest::PluginRun o2 = plugintest::runProgram(std::string("corpus_") + d.name + "_O2");
  ASSERT_EQ(o2.result.exitCode, 0) << o2.result.err;
  EXPECT_EQ(o2.result.out, d.console);
  plugintest::expectWellFormed(o2);
  plugintest::expectSameObservableBehaviour(o0, o2, d.observableCalls);
}

INSTANTIATE_TEST_SUITE_P(Designs, Corpus, testing::ValuesIn(corpus()),
                         [](const testing::TestParamInfo<Design>& info) { return std::string(info.param.name); });

}  // namespace
