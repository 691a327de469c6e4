// A single-threaded program, hand-instrumented like the test bench, whose
// first argument picks one sequence of function events:
//   unwind     an exception thrown five frames deep and caught two frames
//              deep, then an unwind to the frame that is already on top;
//   missing    an unwind to a frame that is not on the stack (fatal);
//   unbalanced exit and return hooks beyond the bottom of the stack;
//   records    return values, basic blocks, printed values, an unknown
//              callee and callbacks entered from uninstrumented code.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "instrumented.h"

using instrumented::addressOf;
using instrumented::enter;
using instrumented::leave;
using instrumented::returning;
using instrumented::start;

int main(int argc, char** argv);

namespace {

constexpr uint32_t kMain = 200;
constexpr uint32_t kUnwindScenario = 201;
constexpr uint32_t kMissingScenario = 202;
constexpr uint32_t kUnbalancedScenario = 203;
constexpr uint32_t kRecordsScenario = 204;
constexpr uint32_t kNest = 205;

struct Unwound {};

uint32_t mainStartResult = 0;
uint32_t mainFrameId = 0;

// Descends `levels` more instrumented frames and runs atBottom (plain,
// uninstrumented code) in the deepest one.
void nest(int levels, void (*atBottom)()) {
  uint32_t frame = 0;
  start(&nest, &frame);
  if (levels == 0) {
    atBottom();
  } else {
    enter(&nest, kNest);
    nest(levels - 1, atBottom);
    leave();
  }
  returning();
}

void unwindScenario() {
  uint32_t frame = 0;
  start(&unwindScenario, &frame);
  try {
    enter(&nest, kUnwindScenario);
    nest(2, [] { throw Unwound{}; });
    leave();
  } catch (const Unwound&) {
    // The landing pad: the three nest frames were abandoned.
    __PROF_FNProcessFunctionUnwind(frame, 7);
  }
  __PROF_FNProcessFunctionUnwind(frame, 9);
  returning();
}

void missingScenario() {
  uint32_t frame = 0;
  start(&missingScenario, &frame);
  enter(&nest, kMissingScenario);
  nest(1, [] { __PROF_FNProcessFunctionUnwind(99, 1); });
  leave();
  returning();
}

void unbalancedScenario() {
  uint32_t frame = 0;
  start(&unbalancedScenario, &frame);
  leave();  // pops this frame
  leave();  // pops main's frame
  leave();  // nothing left: no effect
  __PROF_FNProcessFunctionExitWithReturnValue(5);
  returning();
  // The stack still works after the excess exits.
  enter(&nest, kUnbalancedScenario);
  leave();
  returning();
}

void callback() {
  uint32_t frame = 0;
  start(&callback, &frame);
  __PROF_TRPrintU64(frame);
  returning();
}

// Stands for a library function that calls back into instrumented code.
__attribute__((noinline)) void applyTwice(void (*f)()) {
  f();
  f();
}

void recordsScenario() {
  uint32_t frame = 0;
  const uint32_t result = start(&recordsScenario, &frame);
  __PROF_TRPrintU64(mainStartResult);
  __PROF_TRPrintU64(mainFrameId);
  __PROF_TRPrintU64(result);
  __PROF_TRPrintU64(frame);
  __PROF_TRPrintU64(__PROF_getCalleeUID());

  enter(&nest, kRecordsScenario);
  nest(0, [] {});
  __PROF_FNProcessFunctionExitWithReturnValue(300);

  __PROF_TRBasicBlockEntry(0);
  __PROF_TRBasicBlockEntry(5);
  __PROF_TRBasicBlockEntry(64);
  __PROF_TRBasicBlockEntry(UINT32_MAX);
  __PROF_TRPrintString(reinterpret_cast<const U8*>("ab"));
  __PROF_TRPrintString(reinterpret_cast<const U8*>(""));
  __PROF_TRPrintU64(0);
  __PROF_TRPrintU64(UINT64_MAX);

  enter(&puts, kRecordsScenario);  // no binary registered puts
  puts("records");
  leave();

  enter(&applyTwice, kRecordsScenario, false);
  applyTwice(&callback);
  leave();
  returning();
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t frame = 0;
  mainStartResult = start(&main, &frame);
  mainFrameId = frame;
  const char* scenario = argc > 1 ? argv[1] : "";
  if (strcmp(scenario, "unwind") == 0) {
    enter(&unwindScenario, kMain);
    unwindScenario();
    leave();
  } else if (strcmp(scenario, "missing") == 0) {
    enter(&missingScenario, kMain);
    missingScenario();
    leave();
  } else if (strcmp(scenario, "unbalanced") == 0) {
    enter(&unbalancedScenario, kMain);
    unbalancedScenario();
    leave();
  } else if (strcmp(scenario, "records") == 0) {
    enter(&recordsScenario, kMain);
    recordsScenario();
    leave();
  }
  returning();
  return 0;
}

// The binary's generated registration routines: static ids from 200 in
// this order, so the linked ids equal the static ids.
extern "C" void __PROF_FNsInitializeFuncStruct(void) {
  __PROF_FNInitializeFuncStruct(200, addressOf(&main), "app_0");
  __PROF_FNInitializeFuncStruct(201, addressOf(&unwindScenario), "app_0");
  __PROF_FNInitializeFuncStruct(202, addressOf(&missingScenario), "app_0");
  __PROF_FNInitializeFuncStruct(203, addressOf(&unbalancedScenario), "app_0");
  __PROF_FNInitializeFuncStruct(204, addressOf(&recordsScenario), "app_0");
  __PROF_FNInitializeFuncStruct(205, addressOf(&nest), "app_0");
  __PROF_FNInitializeFuncStruct(206, addressOf(&callback), "app_0");
}

extern "C" void __PROF_LSInitGlobalInfos(FILE*, const char*) {}

extern "C" void __PROF_LSInitTLSs(FILE*, const char*) {}
