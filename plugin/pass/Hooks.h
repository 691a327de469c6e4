// Declarations of the runtime's hooks in the unit being instrumented. None
// of them unwinds, so calls of them never need a landing pad.
#pragma once

#include "llvm/IR/Module.h"

namespace prof {

struct Hooks {
  explicit Hooks(llvm::Module& M);

  llvm::Type* i8;
  llvm::Type* i32;
  llvm::Type* i64;
  llvm::Type* i8p;
  llvm::FunctionCallee start;         // i32 (i64 fn, i64 frame, i32* frameId)
  llvm::FunctionCallee entry;         // void (i8 record, i64 callee, i32 caller)
  llvm::FunctionCallee exit;          // void ()
  llvm::FunctionCallee exitWithValue; // void (i64)
  llvm::FunctionCallee unwind;        // void (i32 frameId, i32 location)
  llvm::FunctionCallee currentFrame;  // i32 ()
  llvm::FunctionCallee ret;           // void ()
  llvm::FunctionCallee initLocal;     // void (i32 count, i32 index, i32 uid, i64 adr, i64 size)
  llvm::FunctionCallee stackSave;     // void ()
  llvm::FunctionCallee stackRestore;  // void ()
  llvm::FunctionCallee initVla;       // void (i32 uid, i64 adr, i64 size)
  llvm::FunctionCallee byvalScope;    // void ()
  llvm::FunctionCallee byval;         // void (i32 uid, i64 adr, i64 size)
  llvm::FunctionCallee block;         // void (i8* adr, i64 size)
  llvm::FunctionCallee variable;      // void (i8* adr)
  llvm::FunctionCallee store;         // void (i8* adr), under the access-kinds option
  llvm::FunctionCallee basicBlock;    // void (i32 id)
};

}  // namespace prof
