#include "UnitRecords.h"

#include "llvm/Demangle/Demangle.h"
#include "llvm/IR/DebugInfoMetadata.h"
#include "llvm/IR/IRBuilder.h"
#include "llvm/Transforms/Utils/ModuleUtils.h"

using namespace llvm;

namespace prof {

namespace {

// Must match prof_plugin/records.h.
constexpr const char* kFunctionSection = "prof_function_records";
constexpr const char* kVariableSection = "prof_variable_records";
constexpr uint32_t kFunctionDefined = 1;
constexpr uint32_t kFunctionLibrary = 2;
constexpr uint32_t kVariableGlobal = 1;
constexpr uint32_t kVariableThreadLocal = 2;
// Defined by the start-up stub of every profiled executable.
constexpr const char* kStartUpEntry = "__PROF_sharedLibraryInit";

// Symbols of the C++ runtime's own objects (vtables, type information,
// guard variables, thread-local helpers) and of the profiler: not user
// variables.
bool isImplementationSymbol(StringRef name) {
  return name.startswith("llvm.") || name.startswith("__PROF") || name.startswith("__prof") ||
         name.startswith("_ZTV") || name.startswith("_ZTI") || name.startswith("_ZTS") || name.startswith("_ZTT") ||
         name.startswith("_ZGV") || name.startswith("_ZTH") || name.startswith("_ZTW") || name.startswith(".");
}

}  // namespace

UnitRecords::UnitRecords(Module& M) : M(M) {}

std::string UnitRecords::sourceName(StringRef symbol) {
  std::string name = symbol.startswith("_Z") ? demangle(symbol.str()) : symbol.str();
  for (char& c : name)
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  return name;
}

GlobalVariable* UnitRecords::defineFunction(Function& F, std::vector<LocalInfo> locals) {
  auto* slotsType = ArrayType::get(Type::getInt32Ty(M.getContext()), 2);
  auto* slots = new GlobalVariable(M, slotsType, false, GlobalValue::InternalLinkage,
                                   ConstantAggregateZero::get(slotsType), "__prof_ids." + F.getName());
  index_[&F] = functions_.size();
  functions_.push_back({&F, sourceName(F.getName()), slots, std::move(locals), kFunctionDefined});
  return slots;
}

void UnitRecords::useFunction(Function& F, StringRef displayName) {
  if (index_.count(&F) != 0) return;
  index_[&F] = functions_.size();
  std::string name = displayName.empty() ? sourceName(F.getName()) : displayName.str();
  functions_.push_back({&F, std::move(name), nullptr, {}, kFunctionLibrary});
}

Constant* UnitRecords::stringConstant(StringRef s) {
  auto it = strings_.find(s);
  if (it != strings_.end()) return it->second;
  Constant* init = ConstantDataArray::getString(M.getContext(), s);
  auto* gv = new GlobalVariable(M, init->getType(), true, GlobalValue::PrivateLinkage, init, "__prof_str");
  gv->setUnnamedAddr(GlobalValue::UnnamedAddr::Global);
  gv->setAlignment(Align(1));
  Constant* ptr = ConstantExpr::getPointerCast(gv, Type::getInt8PtrTy(M.getContext()));
  strings_[s] = ptr;
  return ptr;
}

void UnitRecords::collectVariables(std::vector<Constant*>& out) {
  LLVMContext& C = M.getContext();
  const DataLayout& DL = M.getDataLayout();
  Type* i8p = Type::getInt8PtrTy(C);
  Type* i32 = Type::getInt32Ty(C);
  Type* i64 = Type::getInt64Ty(C);
  auto* recordType = StructType::get(C, {i8p, i8p, i8p, i64, i32, i32});

  std::vector<GlobalVariable*> candidates;
  for (GlobalVariable& GV : M.globals()) {
    if (GV.isDeclaration() || GV.hasPrivateLinkage() || isImplementationSymbol(GV.getName())) continue;
    if (DL.getTypeAllocSize(GV.getValueType()) == 0) continue;
    candidates.push_back(&GV);
  }
  unsigned getterCount = 0;
  for (GlobalVariable* GV : candidates) {
    std::string name = sourceName(GV->getName());
    std::string file;
    unsigned line = 0;
    SmallVector<DIGlobalVariableExpression*, 1> infos;
    GV->getDebugInfo(infos);
    if (!infos.empty()) {
      DIGlobalVariable* var = infos.front()->getVariable();
      if (!GV->getName().startswith("_Z") && !var->getName().empty()) name = sourceName(var->getName());
      file = var->getFilename().str();
      if (!file.empty() && file.front() != '/' && !var->getDirectory().empty())
        file = (var->getDirectory() + "/" + file).str();
      line = var->getLine();
    }
    for (char& c : file)
      if (c == '\t' || c == '\n' || c == '\r') c = ' ';

    Constant* address;
    uint32_t kind = kVariableGlobal;
    if (GV->isThreadLocal()) {
      // Each thread registers its own instance: the record holds a function
      // that returns the calling thread's address.
      kind = kVariableThreadLocal;
      auto* getterType = FunctionType::get(i8p, false);
      Function* getter = Function::Create(getterType, GlobalValue::InternalLinkage,
                                          "__prof_tls_address." + Twine(getterCount++), M);
      getter->addFnAttr(Attribute::NoUnwind);
      IRBuilder<> B(BasicBlock::Create(C, "", getter));
      B.CreateRet(B.CreatePointerCast(GV, i8p));
      address = ConstantExpr::getPointerCast(getter, i8p);
    } else {
      address = ConstantExpr::getPointerCast(GV, i8p);
    }
    out.push_back(ConstantStruct::get(
        recordType, {address, stringConstant(name), stringConstant(file),
                     ConstantInt::get(i64, DL.getTypeAllocSize(GV->getValueType())), ConstantInt::get(i32, line),
                     ConstantInt::get(i32, kind)}));
  }
}

void UnitRecords::emit() {
  LLVMContext& C = M.getContext();
  Type* i8p = Type::getInt8PtrTy(C);
  Type* i32 = Type::getInt32Ty(C);
  Type* i64 = Type::getInt64Ty(C);
  auto* localType = StructType::get(C, {i8p, i64});
  auto* functionType = StructType::get(C, {i8p, i8p, PointerType::getUnqual(i32), PointerType::getUnqual(localType), i32, i32});

  std::vector<GlobalValue*> keep;
  std::vector<Constant*> records;
  for (const FunctionRecord& R : functions_) {
    Constant* locals = ConstantPointerNull::get(PointerType::getUnqual(localType));
    if (!R.locals.empty()) {
      std::vector<Constant*> entries;
      for (const LocalInfo& L : R.locals)
        entries.push_back(ConstantStruct::get(localType, {stringConstant(L.name), ConstantInt::get(i64, L.size)}));
      auto* arrayType = ArrayType::get(localType, entries.size());
      auto* array = new GlobalVariable(M, arrayType, true, GlobalValue::PrivateLinkage,
                                       ConstantArray::get(arrayType, entries), "__prof_locals");
      locals = ConstantExpr::getPointerCast(array, PointerType::getUnqual(localType));
    }
    Constant* slots = R.slots != nullptr
                          ? ConstantExpr::getPointerCast(R.slots, PointerType::getUnqual(i32))
                          : ConstantPointerNull::get(PointerType::getUnqual(i32));
    records.push_back(ConstantStruct::get(
        functionType, {ConstantExpr::getPointerCast(R.function, i8p), stringConstant(R.name), slots, locals,
                       ConstantInt::get(i32, R.locals.size()), ConstantInt::get(i32, R.flags)}));
  }
  if (!records.empty()) {
    auto* arrayType = ArrayType::get(functionType, records.size());
    auto* gv = new GlobalVariable(M, arrayType, false, GlobalValue::InternalLinkage,
                                  ConstantArray::get(arrayType, records), "__prof_function_records");
    gv->setSection(kFunctionSection);
    gv->setAlignment(Align(8));
    keep.push_back(gv);
  }

  std::vector<Constant*> variables;
  collectVariables(variables);
  if (!variables.empty()) {
    auto* arrayType = ArrayType::get(variables.front()->getType(), variables.size());
    auto* gv = new GlobalVariable(M, arrayType, false, GlobalValue::InternalLinkage,
                                  ConstantArray::get(arrayType, variables), "__prof_variable_records");
    gv->setSection(kVariableSection);
    gv->setAlignment(Align(8));
    keep.push_back(gv);
  }
  // The records are read by the binary's start-up stub, which also starts
  // the runtime. A reference to its start-up entry makes a link without
  // the stub fail with that name, rather than give a program whose hooks
  // all do nothing because the runtime never started.
  if (!keep.empty()) {
    auto* entryType = FunctionType::get(Type::getVoidTy(C), {i32, PointerType::getUnqual(i8p)}, false);
    auto* entry = cast<Constant>(M.getOrInsertFunction(kStartUpEntry, entryType).getCallee());
    auto* ref = new GlobalVariable(M, i8p, true, GlobalValue::InternalLinkage, ConstantExpr::getPointerCast(entry, i8p),
                                   "__prof_start_up_entry");
    keep.push_back(ref);
  }
  if (!keep.empty()) appendToUsed(M, keep);
}

}  // namespace prof
