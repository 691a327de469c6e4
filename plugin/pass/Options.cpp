#include "Options.h"

#include "llvm/Support/CommandLine.h"

using namespace llvm;

namespace {

cl::opt<bool> TraceMemory("prof-trace-mem", cl::init(true),
                          cl::desc("Report every load, store and memory intrinsic"));
cl::opt<bool> TraceAllocs("prof-trace-allocs", cl::init(true),
                          cl::desc("Redirect allocation and release functions to their wrappers"));
cl::opt<bool> ReturnValues("prof-return-values", cl::init(false),
                           cl::desc("Close calls with the exit hook that records the return value"));
cl::opt<bool> BasicBlocks("prof-basic-blocks", cl::init(false),
                          cl::desc("Emit basic-block records (traces are then not decodable alone)"));
cl::opt<bool> SkipStackSlots("prof-skip-stack", cl::init(false),
                             cl::desc("Do not report accesses to stack slots whose address never escapes"));
cl::opt<bool> LibPointerArgs("prof-lib-pointer-args", cl::init(false),
                             cl::desc("Report each pointer argument handed to a library function"));
cl::opt<bool> AccessKinds("prof-access-kinds", cl::init(false),
                          cl::desc("Report stores through their own hook, so that traces tell loads from stores"));
cl::list<std::string> Exclude("prof-exclude", cl::CommaSeparated,
                              cl::desc("Functions or source files (glob patterns) not to instrument"));

}  // namespace

namespace prof {

const PluginOptions& pluginOptions() {
  static const PluginOptions options = [] {
    PluginOptions o;
    o.traceMemory = TraceMemory;
    o.traceAllocs = TraceAllocs;
    o.returnValues = ReturnValues;
    o.basicBlocks = BasicBlocks;
    o.skipStackSlots = SkipStackSlots;
    o.libPointerArgs = LibPointerArgs;
    o.accessKinds = AccessKinds;
    o.exclude.assign(Exclude.begin(), Exclude.end());
    return o;
  }();
  return options;
}

}  // namespace prof
