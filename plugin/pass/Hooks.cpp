#include "Hooks.h"

#include "llvm/IR/DerivedTypes.h"

using namespace llvm;

namespace prof {

namespace {

FunctionCallee declare(Module& M, StringRef name, Type* result, ArrayRef<Type*> params) {
  FunctionCallee callee = M.getOrInsertFunction(name, FunctionType::get(result, params, false));
  if (auto* F = dyn_cast<Function>(callee.getCallee())) F->addFnAttr(Attribute::NoUnwind);
  return callee;
}

}  // namespace

Hooks::Hooks(Module& M) {
  LLVMContext& C = M.getContext();
  i8 = Type::getInt8Ty(C);
  i32 = Type::getInt32Ty(C);
  i64 = Type::getInt64Ty(C);
  i8p = Type::getInt8PtrTy(C);
  Type* v = Type::getVoidTy(C);
  start = declare(M, "__PROF_FNProcessFunctionStart", i32, {i64, i64, PointerType::getUnqual(i32)});
  entry = declare(M, "__PROF_FNProcessFunctionEntry", v, {i8, i64, i32});
  exit = declare(M, "__PROF_FNProcessFunctionExit", v, {});
  exitWithValue = declare(M, "__PROF_FNProcessFunctionExitWithReturnValue", v, {i64});
  unwind = declare(M, "__PROF_FNProcessFunctionUnwind", v, {i32, i32});
  currentFrame = declare(M, "__PROF_FNCurrentFrameId", i32, {});
  ret = declare(M, "__PROF_UpdateRetBBCount", v, {});
  initLocal = declare(M, "__PROF_LSInitLocalInfo", v, {i32, i32, i32, i64, i64});
  stackSave = declare(M, "__PROF_LSStackSave", v, {});
  stackRestore = declare(M, "__PROF_LSStackRestore", v, {});
  initVla = declare(M, "__PROF_LSInitVla", v, {i32, i64, i64});
  byvalScope = declare(M, "__PROF_LSInitByvalScope", v, {});
  byval = declare(M, "__PROF_LSInitByval", v, {i32, i64, i64});
  block = declare(M, "__PROF_LSBlock", v, {i8p, i64});
  variable = declare(M, "__PROF_LSVariable", v, {i8p});
  store = declare(M, "__PROF_LSStore", v, {i8p});
  basicBlock = declare(M, "__PROF_TRBasicBlockEntry", v, {i32});
}

}  // namespace prof
