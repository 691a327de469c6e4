#include "FunctionInstrumenter.h"

#include "Interposition.h"
#include "llvm/ADT/SmallPtrSet.h"
#include "llvm/Analysis/CaptureTracking.h"
#include "llvm/Analysis/ValueTracking.h"
#include "llvm/IR/DebugInfo.h"
#include "llvm/IR/DebugInfoMetadata.h"
#include "llvm/IR/IRBuilder.h"
#include "llvm/IR/InlineAsm.h"
#include "llvm/IR/InstIterator.h"
#include "llvm/IR/IntrinsicInst.h"
#include "llvm/Transforms/Utils/BasicBlockUtils.h"

using namespace llvm;

namespace prof {

namespace {

// Callees that are not calls of the program: the runtime itself, the
// compiler's thread-local accessors, and the checks a sanitizer build adds.
bool isRuntimeFunction(const Function* F) {
  if (F == nullptr) return false;
  const StringRef name = F->getName();
  for (const char* prefix : {"__PROF_", "__prof_", "__ubsan_", "__asan_", "__tsan_", "__sanitizer_"})
    if (name.startswith(prefix)) return true;
  return isImplementationFunction(*F);
}

// Memory attributes that the hooks inserted into a body make untrue.
void dropMemoryAttributes(Function& F) {
  for (Attribute::AttrKind kind : {Attribute::ReadNone, Attribute::ReadOnly, Attribute::WriteOnly,
                                   Attribute::ArgMemOnly, Attribute::InaccessibleMemOnly,
                                   Attribute::InaccessibleMemOrArgMemOnly, Attribute::NoFree, Attribute::NoSync,
                                   Attribute::Speculatable})
    F.removeFnAttr(kind);
}

// Name of a stack variable: the source name from debug information, else
// the IR name (kept by -fno-discard-value-names), else a positional name.
std::string variableName(Value* V, const char* fallback, size_t index) {
  for (DbgVariableIntrinsic* D : FindDbgAddrUses(V))
    if (DILocalVariable* var = D->getVariable(); var != nullptr && !var->getName().empty())
      return UnitRecords::sourceName(var->getName());
  if (V->hasName()) return UnitRecords::sourceName(V->getName());
  return std::string(fallback) + std::to_string(index);
}

class Instrumenter {
 public:
  Instrumenter(Function& F, Hooks& H, UnitRecords& R, const PluginOptions& O)
      : F(F), H(H), R(R), O(O), DL(F.getParent()->getDataLayout()), C(F.getContext()) {}

  void run(bool excluded);

 private:
  void collect(bool excluded);
  void bracketCall(CallBase* CB);
  void bracketMemIntrinsic(MemIntrinsic* MI);
  Instruction* afterCall(CallBase* CB);
  void closeCall(CallBase* CB, Instruction* at);
  Value* i64Of(IRBuilder<>& B, Value* V) { return B.CreatePtrToInt(V, H.i64); }
  Value* bytesOf(IRBuilder<>& B, Value* V) { return B.CreatePointerBitCastOrAddrSpaceCast(V, H.i8p); }
  void unwindAtLandings();
  void unwindAt(Instruction* at, Value* condition, uint32_t location);

  Function& F;
  Hooks& H;
  UnitRecords& R;
  const PluginOptions& O;
  const DataLayout& DL;
  LLVMContext& C;

  SmallVector<AllocaInst*, 8> staticAllocas;
  SmallVector<AllocaInst*, 8> dynamicAllocas;
  SmallVector<Argument*, 2> byvalArgs;
  SmallVector<Instruction*, 32> accesses;
  SmallVector<CallBase*, 16> calls;
  SmallVector<MemIntrinsic*, 4> memIntrinsics;
  SmallVector<CallBase*, 2> returnsTwice;
  SmallVector<IntrinsicInst*, 4> stackSaves;
  SmallVector<IntrinsicInst*, 4> stackRestores;
  SmallVector<IntrinsicInst*, 8> lifetimes;
  SmallVector<Instruction*, 4> returns;  // ret, or the musttail call before it
  SmallVector<LandingPadInst*, 2> pads;
  SmallVector<BasicBlock*, 16> blocks;
  SmallPtrSet<const AllocaInst*, 8> privateSlots;  // stack slots whose address never escapes

  AllocaInst* frameIdSlot = nullptr;      // instrumented: the start hook's frame id
  Value* excludedFrameId = nullptr;       // excluded: the top frame's id at entry
  Value* callerId = nullptr;
};

void Instrumenter::collect(bool excluded) {
  for (BasicBlock& BB : F) {
    blocks.push_back(&BB);
    for (Instruction& I : BB) {
      if (auto* AI = dyn_cast<AllocaInst>(&I)) {
        (AI->isStaticAlloca() ? staticAllocas : dynamicAllocas).push_back(AI);
        if (O.skipStackSlots && !PointerMayBeCaptured(AI, true, true)) privateSlots.insert(AI);
      } else if (isa<LoadInst>(I) || isa<StoreInst>(I) || isa<AtomicRMWInst>(I) || isa<AtomicCmpXchgInst>(I)) {
        accesses.push_back(&I);
      } else if (auto* RI = dyn_cast<ReturnInst>(&I)) {
        CallInst* tail = BB.getTerminatingMustTailCall();
        returns.push_back(tail != nullptr ? static_cast<Instruction*>(tail) : RI);
      } else if (auto* LP = dyn_cast<LandingPadInst>(&I)) {
        pads.push_back(LP);
      } else if (auto* MI = dyn_cast<MemIntrinsic>(&I)) {
        memIntrinsics.push_back(MI);
      } else if (auto* II = dyn_cast<IntrinsicInst>(&I)) {
        switch (II->getIntrinsicID()) {
          case Intrinsic::stacksave: stackSaves.push_back(II); break;
          case Intrinsic::stackrestore: stackRestores.push_back(II); break;
          case Intrinsic::lifetime_start:
          case Intrinsic::lifetime_end: lifetimes.push_back(II); break;
          default: break;  // other intrinsics are not calls of the program
        }
      } else if (auto* CB = dyn_cast<CallBase>(&I)) {
        if (CB->isInlineAsm()) continue;
        Function* callee = dyn_cast<Function>(CB->getCalledOperand()->stripPointerCasts());
        if (isRuntimeFunction(callee)) continue;
        if (callee != nullptr && callee->isIntrinsic()) continue;
        const bool wrapped = callee != nullptr && callee->isDeclaration() && findWrapped(callee->getName());
        if (auto* CI = dyn_cast<CallInst>(CB); CI != nullptr && CI->isMustTailCall()) continue;
        // Kept in excluded functions too: a long jump back to one abandons
        // the frames of the instrumented calls in between.
        if (!wrapped && CB->hasFnAttr(Attribute::ReturnsTwice)) {
          returnsTwice.push_back(CB);
          continue;
        }
        if (excluded && !wrapped) continue;
        calls.push_back(CB);
      }
    }
  }
  for (Argument& A : F.args())
    if (A.hasByValAttr()) byvalArgs.push_back(&A);
}

// Every place where a non-local exit lands in this function pops the
// frames the exit abandoned: each landing pad (numbered from 1), then the
// second return of each call that returns twice (numbered on).
void Instrumenter::unwindAtLandings() {
  uint32_t location = 0;
  for (LandingPadInst* LP : pads) unwindAt(LP->getNextNode(), nullptr, ++location);
  for (CallBase* CB : returnsTwice) {
    // A second return (after a long jump) abandoned the frames above this one.
    Instruction* at = afterCall(CB);
    IRBuilder<> A(at);
    Value* again = CB->getType()->isIntegerTy() ? A.CreateICmpNE(CB, ConstantInt::get(CB->getType(), 0))
                                                : nullptr;
    unwindAt(at, again, ++location);
  }
}

// The unwind hook at `at`, when `condition` (null: always) holds.
void Instrumenter::unwindAt(Instruction* at, Value* condition, uint32_t location) {
  IRBuilder<> B(at);
  Value* frameId = excludedFrameId;
  if (frameId == nullptr) {
    // Frame id 0: the start hook ran while tracing was suspended, and the
    // virtual stack holds no frame of this activation to return to.
    frameId = B.CreateLoad(H.i32, frameIdSlot);
    Value* framed = B.CreateICmpNE(frameId, ConstantInt::get(H.i32, 0));
    condition = condition != nullptr ? B.CreateAnd(framed, condition) : framed;
  }
  if (condition == nullptr) {
    B.CreateCall(H.unwind, {frameId, ConstantInt::get(H.i32, location)});
    return;
  }
  Instruction* then = SplitBlockAndInsertIfThen(condition, at, false);
  IRBuilder<> T(then);
  T.CreateCall(H.unwind, {frameId, ConstantInt::get(H.i32, location)});
}

// The first instruction that runs after CB returned normally. The normal
// edge of an invoke gets a block of its own when its target has other
// predecessors.
Instruction* Instrumenter::afterCall(CallBase* CB) {
  if (auto* CI = dyn_cast<CallInst>(CB)) return CI->getNextNode();
  auto* II = cast<InvokeInst>(CB);
  BasicBlock* normal = II->getNormalDest();
  if (normal->getSinglePredecessor() == II->getParent()) return &*normal->getFirstInsertionPt();
  BasicBlock* edge = BasicBlock::Create(C, "prof.ret", &F, normal);
  BranchInst::Create(normal, edge);
  for (PHINode& phi : normal->phis()) phi.replaceIncomingBlockWith(II->getParent(), edge);
  II->setNormalDest(edge);
  return edge->getTerminator();
}

void Instrumenter::closeCall(CallBase* CB, Instruction* at) {
  IRBuilder<> B(at);
  Type* type = CB->getType();
  if (O.returnValues && type->isIntegerTy() && type->getIntegerBitWidth() <= 64) {
    B.CreateCall(H.exitWithValue, {B.CreateZExt(CB, H.i64)});
  } else if (O.returnValues && type->isPointerTy()) {
    B.CreateCall(H.exitWithValue, {B.CreatePtrToInt(CB, H.i64)});
  } else {
    B.CreateCall(H.exit, {});
  }
}

void Instrumenter::bracketCall(CallBase* CB) {
  Function* callee = dyn_cast<Function>(CB->getCalledOperand()->stripPointerCasts());
  IRBuilder<> B(CB);
  Value* address;
  if (callee != nullptr) {
    const WrappedFunction* wrapped = callee->isDeclaration() ? findWrapped(callee->getName()) : nullptr;
    if (wrapped != nullptr && wrapped->allocation && !O.traceAllocs) wrapped = nullptr;
    if (!instrumentable(*callee)) R.useFunction(*callee, wrapped != nullptr ? wrapped->displayName : StringRef());
    // The bracket names the replaced library function: its address is the
    // one registered under its name.
    address = ConstantExpr::getPtrToInt(callee, H.i64);
    if (wrapped != nullptr) {
      Module& M = *F.getParent();
      if (wrapped->keptArguments < CB->arg_size()) {
        SmallVector<Value*, 2> args(CB->args().begin(), CB->args().begin() + wrapped->keptArguments);
        SmallVector<Type*, 2> types;
        for (Value* a : args) types.push_back(a->getType());
        FunctionCallee replacement =
            M.getOrInsertFunction(wrapped->wrapper, FunctionType::get(CB->getType(), types, false));
        CallBase* call;
        if (auto* II = dyn_cast<InvokeInst>(CB))
          call = B.CreateInvoke(replacement, II->getNormalDest(), II->getUnwindDest(), args);
        else
          call = B.CreateCall(replacement, args);
        call->setDebugLoc(CB->getDebugLoc());
        CB->replaceAllUsesWith(call);
        CB->eraseFromParent();
        CB = call;
        B.SetInsertPoint(CB);
      } else {
        FunctionCallee replacement = M.getOrInsertFunction(wrapped->wrapper, CB->getFunctionType());
        CB->setCalledFunction(replacement);
        CB->removeFnAttr(Attribute::Builtin);
      }
    } else if (O.libPointerArgs && callee->isDeclaration()) {
      for (Value* arg : CB->args())
        if (arg->getType()->isPointerTy()) B.CreateCall(H.variable, {bytesOf(B, arg)});
    }
  } else {
    address = i64Of(B, CB->getCalledOperand());
  }
  B.CreateCall(H.entry, {ConstantInt::get(H.i8, 1), address, callerId});
  closeCall(CB, afterCall(CB));
}

void Instrumenter::bracketMemIntrinsic(MemIntrinsic* MI) {
  Module& M = *F.getParent();
  const char* name = isa<MemSetInst>(MI) ? "memset" : isa<MemMoveInst>(MI) ? "memmove" : "memcpy";
  FunctionType* type = isa<MemSetInst>(MI) ? FunctionType::get(H.i8p, {H.i8p, H.i32, H.i64}, false)
                                           : FunctionType::get(H.i8p, {H.i8p, H.i8p, H.i64}, false);
  auto* library = dyn_cast<Function>(M.getOrInsertFunction(name, type).getCallee()->stripPointerCasts());
  if (library == nullptr) return;
  R.useFunction(*library);
  IRBuilder<> B(MI);
  B.CreateCall(H.entry, {ConstantInt::get(H.i8, 1), ConstantExpr::getPtrToInt(library, H.i64), callerId});
  B.SetInsertPoint(MI->getNextNode());
  Value* length = B.CreateZExtOrTrunc(MI->getLength(), H.i64);
  if (O.traceMemory) {
    B.CreateCall(H.block, {bytesOf(B, MI->getRawDest()), length});
    if (auto* transfer = dyn_cast<MemTransferInst>(MI)) B.CreateCall(H.block, {bytesOf(B, transfer->getRawSource()), length});
  }
  B.CreateCall(H.exit, {});
}

void Instrumenter::run(bool excluded) {
  collect(excluded);
  BasicBlock& entry = F.getEntryBlock();

  // Fixed-size stack slots first, in their order, so that the start hook
  // can pass the first one's address and register all of them.
  Instruction* body = &*entry.getFirstInsertionPt();
  while (auto* AI = dyn_cast<AllocaInst>(body)) {
    if (!AI->isStaticAlloca()) break;
    body = body->getNextNode();
  }
  for (AllocaInst* AI : staticAllocas)
    if (AI->getParent() == &entry) AI->moveBefore(body);

  std::vector<LocalInfo> locals;
  for (size_t i = 0; i < staticAllocas.size(); ++i) {
    AllocaInst* AI = staticAllocas[i];
    const uint64_t count = cast<ConstantInt>(AI->getArraySize())->getZExtValue();
    locals.push_back({variableName(AI, "local", i + 1), DL.getTypeAllocSize(AI->getAllocatedType()) * count});
  }
  for (size_t i = 0; i < dynamicAllocas.size(); ++i) locals.push_back({variableName(dynamicAllocas[i], "vla", i + 1), 0});
  for (size_t i = 0; i < byvalArgs.size(); ++i)
    locals.push_back({variableName(byvalArgs[i], "byval", i + 1), DL.getTypeAllocSize(byvalArgs[i]->getParamByValType())});
  if (excluded) locals.clear();
  GlobalVariable* slots = R.defineFunction(F, locals);

  IRBuilder<> B(body);
  callerId = B.CreateLoad(H.i32, B.CreateConstInBoundsGEP2_32(slots->getValueType(), slots, 0, 0), "prof.caller");
  if (excluded) {
    for (CallBase* CB : calls) bracketCall(CB);
    if (!pads.empty() || !returnsTwice.empty()) {
      // The function leaves no record of its own, but an exception it
      // catches or a long jump back to it abandons the frames of the
      // instrumented calls it made: they are popped down to the frame it
      // runs in, the top of the stack at its entry (0, the empty stack, for
      // an excluded main).
      excludedFrameId = B.CreateCall(H.currentFrame, {}, "prof.frame");
      unwindAtLandings();
    }
    return;
  }

  dropMemoryAttributes(F);

  // Stack coloring may give slots with disjoint lifetimes the same bytes;
  // the layout registers every slot for the whole activation, so slots
  // must not share bytes.
  for (IntrinsicInst* II : lifetimes) II->eraseFromParent();

  frameIdSlot = new AllocaInst(H.i32, DL.getAllocaAddrSpace(), "prof.frame", &*entry.getFirstInsertionPt());
  B.SetInsertPoint(cast<Instruction>(callerId));
  B.CreateStore(ConstantInt::get(H.i32, 0), frameIdSlot);
  Value* frameAddress = staticAllocas.empty() ? ConstantInt::get(H.i64, 0) : i64Of(B, staticAllocas.front());
  Value* fresh = B.CreateCall(H.start, {ConstantExpr::getPtrToInt(&F, H.i64), frameAddress, frameIdSlot});
  auto localId = [&](IRBuilder<>& At, size_t index) -> Value* {
    Value* base = At.CreateLoad(H.i32, At.CreateConstInBoundsGEP2_32(slots->getValueType(), slots, 0, 1));
    return At.CreateAdd(base, ConstantInt::get(H.i32, index));
  };
  if (!staticAllocas.empty()) {
    Instruction* then = SplitBlockAndInsertIfThen(B.CreateICmpNE(fresh, ConstantInt::get(H.i32, 0)),
                                                  cast<Instruction>(callerId), false);
    IRBuilder<> T(then);
    const uint32_t n = staticAllocas.size();
    for (uint32_t i = 0; i < n; ++i) {
      AllocaInst* AI = staticAllocas[i];
      T.CreateCall(H.initLocal, {ConstantInt::get(H.i32, n), ConstantInt::get(H.i32, i + 1), localId(T, i),
                                 i64Of(T, AI), ConstantInt::get(H.i64, locals[i].size)});
    }
  }
  B.SetInsertPoint(cast<Instruction>(callerId));
  if (!byvalArgs.empty()) {
    B.CreateCall(H.byvalScope, {});
    for (size_t i = 0; i < byvalArgs.size(); ++i) {
      const size_t index = staticAllocas.size() + dynamicAllocas.size() + i;
      B.CreateCall(H.byval, {localId(B, index), i64Of(B, byvalArgs[i]), ConstantInt::get(H.i64, locals[index].size)});
    }
  } else if (!dynamicAllocas.empty()) {
    // A scope for the whole activation holds arrays that no stack save
    // encloses (alloca() in C); the frame's pop closes it.
    B.CreateCall(H.stackSave, {});
  }

  if (O.traceMemory) {
    for (Instruction* I : accesses) {
      Value* pointer = getLoadStorePointerOperand(I);
      if (pointer == nullptr) pointer = isa<AtomicRMWInst>(I) ? cast<AtomicRMWInst>(I)->getPointerOperand()
                                                             : cast<AtomicCmpXchgInst>(I)->getPointerOperand();
      if (!privateSlots.empty()) {
        auto* AI = dyn_cast<AllocaInst>(getUnderlyingObject(pointer));
        if (AI != nullptr && privateSlots.count(AI) != 0) continue;
      }
      // A read-modify-write changes memory: it counts as a store.
      const bool store = O.accessKinds && !isa<LoadInst>(I);
      IRBuilder<> A(I);
      A.CreateCall(store ? H.store : H.variable, {bytesOf(A, pointer)});
    }
  }

  for (CallBase* CB : calls) bracketCall(CB);
  for (MemIntrinsic* MI : memIntrinsics) bracketMemIntrinsic(MI);

  unwindAtLandings();

  for (IntrinsicInst* II : stackSaves) IRBuilder<>(II->getNextNode()).CreateCall(H.stackSave, {});
  for (IntrinsicInst* II : stackRestores) IRBuilder<>(II->getNextNode()).CreateCall(H.stackRestore, {});
  for (size_t i = 0; i < dynamicAllocas.size(); ++i) {
    AllocaInst* AI = dynamicAllocas[i];
    IRBuilder<> A(AI->getNextNode());
    Value* count = A.CreateZExtOrTrunc(AI->getArraySize(), H.i64);
    Value* size = A.CreateMul(count, ConstantInt::get(H.i64, DL.getTypeAllocSize(AI->getAllocatedType())));
    A.CreateCall(H.initVla, {localId(A, staticAllocas.size() + i), i64Of(A, AI), size});
  }

  for (Instruction* I : returns) IRBuilder<>(I).CreateCall(H.ret, {});

  if (O.basicBlocks) {
    uint32_t id = 0;
    for (BasicBlock* BB : blocks) {
      Instruction* at = BB == &entry ? cast<Instruction>(callerId)->getNextNode() : &*BB->getFirstInsertionPt();
      IRBuilder<>(at).CreateCall(H.basicBlock, {ConstantInt::get(H.i32, ++id)});
    }
  }
}

}  // namespace

bool isImplementationFunction(const Function& F) {
  return F.getName().startswith("_ZTW") || F.getName().startswith("_ZTH");
}

bool instrumentable(const Function& F) {
  if (F.isDeclaration() || F.getName().startswith("__PROF_") || F.getName().startswith("__prof_")) return false;
  return !isImplementationFunction(F) && !F.hasFnAttribute(Attribute::Naked);
}

void instrumentFunction(Function& F, Hooks& hooks, UnitRecords& records, const PluginOptions& options,
                        bool excluded) {
  Instrumenter(F, hooks, records, options).run(excluded);
}

}  // namespace prof
