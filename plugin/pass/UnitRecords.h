// The unit's contribution to the binary's generated stub: one record per
// function the unit defines or calls and one per global or thread-local
// variable it defines, emitted into the sections that the registration
// library walks at start-up (layout in prof_plugin/records.h).
#pragma once

#include <string>
#include <vector>

#include "llvm/ADT/DenseMap.h"
#include "llvm/ADT/StringMap.h"
#include "llvm/IR/Constants.h"
#include "llvm/IR/Module.h"

namespace prof {

struct LocalInfo {
  std::string name;
  uint64_t size;  // 0 when only known at run time
};

class UnitRecords {
 public:
  explicit UnitRecords(llvm::Module& M);

  // Records a function of this unit; returns its two id slots (static id,
  // first local variable id), which its code reads.
  llvm::GlobalVariable* defineFunction(llvm::Function& F, std::vector<LocalInfo> locals);
  // Records a function this unit calls but does not define (once per
  // address). displayName overrides the name derived from the symbol.
  void useFunction(llvm::Function& F, llvm::StringRef displayName = {});

  // Emits the sections; call once, after every function is instrumented.
  void emit();

  // Source-level name of a symbol: demangled when it is a C++ name, with
  // the characters the name lines reserve replaced by blanks.
  static std::string sourceName(llvm::StringRef symbol);

 private:
  struct FunctionRecord {
    llvm::Function* function;
    std::string name;
    llvm::GlobalVariable* slots;  // null for library functions
    std::vector<LocalInfo> locals;
    uint32_t flags;
  };

  llvm::Constant* stringConstant(llvm::StringRef s);
  void collectVariables(std::vector<llvm::Constant*>& out);

  llvm::Module& M;
  std::vector<FunctionRecord> functions_;
  llvm::DenseMap<llvm::Function*, size_t> index_;
  llvm::StringMap<llvm::Constant*> strings_;
};

}  // namespace prof
