// The instrumenting pass and its registration with clang's pass pipeline.
// It runs once per unit, last in the optimisation pipeline (after inlining
// and after every optimisation that removes loads, stores or calls), and at
// -O0 as well, so that what it reports is what the generated code does.
#include "FunctionInstrumenter.h"
#include "Hooks.h"
#include "Options.h"
#include "UnitRecords.h"
#include "llvm/IR/DebugInfoMetadata.h"
#include "llvm/IR/PassManager.h"
#include "llvm/Passes/PassBuilder.h"
#include "llvm/Passes/PassPlugin.h"
#include "llvm/Support/GlobPattern.h"
#include "llvm/Support/Path.h"
#include "llvm/Transforms/Utils/ModuleUtils.h"

using namespace llvm;

namespace prof {

namespace {

constexpr const char* kInstrumentedFlag = "prof.instrumented";

class Exclusions {
 public:
  explicit Exclusions(const std::vector<std::string>& patterns) {
    for (const std::string& p : patterns) {
      if (p.empty()) continue;
      if (Expected<GlobPattern> g = GlobPattern::create(p))
        patterns_.push_back(std::move(*g));
      else
        consumeError(g.takeError());
    }
  }

  // A pattern names a function (its symbol, its source name with or
  // without parameter list) or a source file (its path or its last
  // component).
  bool excludes(const Function& F) const {
    if (patterns_.empty()) return false;
    SmallVector<std::string, 6> names;
    names.push_back(F.getName().str());
    std::string source = UnitRecords::sourceName(F.getName());
    names.push_back(source);
    names.push_back(source.substr(0, source.find('(')));
    std::string file = F.getParent()->getSourceFileName();
    if (const DISubprogram* SP = F.getSubprogram()) {
      file = SP->getFilename().str();
      if (!file.empty() && file.front() != '/' && !SP->getDirectory().empty())
        file = (SP->getDirectory() + "/" + file).str();
    }
    names.push_back(file);
    names.push_back(sys::path::filename(file).str());
    for (const GlobPattern& p : patterns_)
      for (const std::string& n : names)
        if (p.match(n)) return true;
    return false;
  }

 private:
  std::vector<GlobPattern> patterns_;
};

// The runtime writes the access mode 2 (stores carry the store tag) when
// the binary defines this byte. Every unit defines it weakly, so the linker
// keeps one; compiler-used, so that no pass drops it for being unread.
void defineAccessKindsMarker(Module& M) {
  const char* name = "__PROF_AccessKinds";
  if (M.getNamedValue(name) != nullptr) return;
  auto* marker = new GlobalVariable(M, Type::getInt8Ty(M.getContext()), true, GlobalValue::WeakAnyLinkage,
                                    ConstantInt::get(Type::getInt8Ty(M.getContext()), 1), name);
  appendToCompilerUsed(M, {marker});
}

struct InstrumentPass : PassInfoMixin<InstrumentPass> {
  PreservedAnalyses run(Module& M, ModuleAnalysisManager&) {
    if (M.getModuleFlag(kInstrumentedFlag) != nullptr) return PreservedAnalyses::all();
    M.addModuleFlag(Module::Warning, kInstrumentedFlag, 1);
    const PluginOptions& options = pluginOptions();
    const Exclusions exclusions(options.exclude);
    Hooks hooks(M);
    UnitRecords records(M);
    SmallVector<Function*, 32> functions;
    for (Function& F : M)
      if (instrumentable(F)) functions.push_back(&F);
    for (Function* F : functions) instrumentFunction(*F, hooks, records, options, exclusions.excludes(*F));
    records.emit();
    if (options.accessKinds && options.traceMemory) defineAccessKindsMarker(M);
    return PreservedAnalyses::none();
  }
  static bool isRequired() { return true; }
};

}  // namespace

}  // namespace prof

extern "C" LLVM_ATTRIBUTE_WEAK PassPluginLibraryInfo llvmGetPassPluginInfo() {
  return {LLVM_PLUGIN_API_VERSION, "ProfInstrument", LLVM_VERSION_STRING, [](PassBuilder& PB) {
            PB.registerOptimizerLastEPCallback(
                [](ModulePassManager& MPM, OptimizationLevel) { MPM.addPass(prof::InstrumentPass()); });
            // For "opt -passes=prof-instrument" in the plugin's own tests.
            PB.registerPipelineParsingCallback(
                [](StringRef name, ModulePassManager& MPM, ArrayRef<PassBuilder::PipelineElement>) {
                  if (name != "prof-instrument") return false;
                  MPM.addPass(prof::InstrumentPass());
                  return true;
                });
          }};
}
