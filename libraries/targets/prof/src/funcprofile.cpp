// The function table and the function-event hooks that keep each thread's
// virtual call stack in step with the real one. These hooks run at every
// call and return of the application: a steady call pattern costs a look-up
// in a small per-thread cache of recent callees (the hash table only on a
// miss), one push, one pop and a one-byte exit record, and allocates
// nothing.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <type_traits>

#include "Function.h"
#include "commonProfInclude/TracingConstants.h"
#include "Functions.h"
#include "Locals.h"
#include "bufferedPrinter.h"
#include "globals.h"
#include "profiler_state.h"
#include "proflibAPI_internal.h"
#include "suspend.h"
#include "thread_profile_utils.h"
#include "trace.h"
#include "utils.h"

// ---- Function records and the table ----

Function* __PROF_Function_new(uint32_t Id, uint64_t Address) {
  auto* F = ProfAlloc<Function>();
  F->Id = Id;
  F->Address = Address;
  new (&F->LocalsTree) std::atomic<Locals*>(nullptr);
  return F;
}

void __PROF_Function_delete(Function* F) {
  if (Locals* L = F->LocalsTree.load()) __PROF_Locals_delete(L);
  free(F);
}

bool __PROF_Function_setLocalsTree(const Function* F, Locals* L) {
  Locals* expected = nullptr;
  // Release: readers that see the pointer see the finished tree.
  return F->LocalsTree.compare_exchange_strong(expected, L, std::memory_order_acq_rel,
                                               std::memory_order_acquire);
}

uint64_t __PROF_Functions_Key(void* data) { return static_cast<const Function*>(data)->Address; }

Functions* __PROF_Functions_new(void) {
  auto* Fns = ProfAlloc<Functions>();
  Fns->nextAvailableId = FunctionId_FirstAvailable_;
  __PROF_TableInit(&Fns->T, __PROF_Functions_Key, nullptr, true);
  __PROF_TableAdd(&Fns->T, __PROF_Function_new(FunctionId_unknown_, 0));
  return Fns;
}

const Function* __PROF_Functions_find(const Functions* Fns, uint64_t Address) {
  Function probe;
  probe.Address = Address;
  if (auto* F = static_cast<const Function*>(__PROF_TableGetElem(&Fns->T, &probe))) return F;
  probe.Address = 0;
  return static_cast<const Function*>(__PROF_TableGetElem(&Fns->T, &probe));
}

const Function* __PROF_Functions_insert(Functions* Fns, Function* Element) {
  const Function* found = __PROF_Functions_find(Fns, Element->Address);
  if (found->Address != 0) {
    __PROF_Function_delete(Element);
    return found;
  }
  __PROF_TableAdd(&Fns->T, Element);
  if (Element->Id >= Fns->nextAvailableId) Fns->nextAvailableId = Element->Id + 1;
  return Element;
}

uint32_t __PROF_RegisterFunction(FILE* FunctionMappingFd, Functions* Fns, const char* BinaryUid,
                                 uint32_t FunctionId, uint64_t Address) {
  uint32_t LinkedFunctionId = FunctionId < FunctionId_FirstAvailable_ ? FunctionId : Fns->nextAvailableId;
  if (Address != 0) {
    LinkedFunctionId = __PROF_Functions_insert(Fns, __PROF_Function_new(LinkedFunctionId, Address))->Id;
  } else if (LinkedFunctionId >= Fns->nextAvailableId) {
    Fns->nextAvailableId = LinkedFunctionId + 1;
  }
  if (FunctionMappingFd != nullptr) fprintf(FunctionMappingFd, "%u %s %u\n", FunctionId, BinaryUid, LinkedFunctionId);
  return LinkedFunctionId;
}

void __PROF_FNInitializeFuncStruct(uint32_t StaticId, uint64_t Address, const char* BinaryUid) {
  if (__PROF_FunctionTable == nullptr) __PROF_FunctionTable = __PROF_Functions_new();
  MutexGuard lock(&__PROF_FunctionMappingFdMutex);
  __PROF_RegisterFunction(__PROF_FunctionMappingFd, __PROF_FunctionTable, BinaryUid, StaticId, Address);
}

// ---- Function events ----

namespace {

// Recent callees of this thread by address, direct-mapped. Exact, not a
// guess: a registered record is never removed and never replaced for its
// address (registration keeps the first), so a cached hit stays the table's
// answer for good. Catch-all answers are not cached, because a binary loaded
// later may register that address.
struct CalleeCacheEntry {
  uint64_t address;
  const Function* function;
};
constexpr unsigned kCalleeCacheSize = 16;
thread_local constinit CalleeCacheEntry calleeCache[kCalleeCacheSize] = {};
static_assert(std::is_trivially_destructible_v<CalleeCacheEntry>);

inline CalleeCacheEntry& calleeCacheEntry(uint64_t address) {
  // Entry points are at least 2-byte apart and usually 16-byte aligned.
  return calleeCache[(address >> 4 ^ address) % kCalleeCacheSize];
}

// A function looked up before any binary registered one still needs a
// record: the catch-all of an empty table answers.
[[gnu::noinline]] const Function* findFunctionInTable(uint64_t address) {
  if (__PROF_FunctionTable == nullptr) __PROF_FunctionTable = __PROF_Functions_new();
  const Function* F = __PROF_Functions_find(__PROF_FunctionTable, address);
  if (F->Address == address && address != 0) calleeCacheEntry(address) = {address, F};
  return F;
}

inline const Function* findFunction(uint64_t address) {
  const CalleeCacheEntry& cached = calleeCacheEntry(address);
  if (cached.address == address && cached.function != nullptr) [[likely]]
    return cached.function;
  return findFunctionInTable(address);
}

void enterFunction(GProfilerState_t* state, uint8_t EmitTraceRecord, uint64_t fnAddress, uint32_t caller) {
  const Function* F = findFunction(fnAddress);
  __PROF_GProfilerState_pushFrame(state, F);
  if (EmitTraceRecord != 0 && state->TraceBuffPrinterPtr != nullptr)
    __PROF_TRFunctionEntry(state->TraceBuffPrinterPtr, caller, F->Id);
}

// Profile of a thread whose first instrumented code may run before
// start-up: such a thread is suspended and queued instead of traced.
const thread_profile_t* getOrInitializeTracing() {
  if (const thread_profile_t* profile = __PROF_get_thread_profile_or_null()) return profile;
  {
    MutexGuard lock(&__PROF_ExecutionInitializedMutex);
    if (!__PROF_ExecutionInitialized) {
      __PROF_addThreadToResumeList(__PROF_trace_suspend());
      return nullptr;
    }
  }
  return __PROF_thread_profile_GetProfileInfo();
}

}  // namespace

uint32_t __PROF_FNProcessFunctionStart(uint64_t fnAddress, uint64_t frameAddress, uint32_t* FrameId) {
  if (traceSuspendedOnThisThread()) return 0;
  if (nuq_profiler_debug != 0) fprintf(stderr, "spec:0:0: info: start function -> addr:0x%" PRIx64 "\n", fnAddress);
  const thread_profile_t* profile = getOrInitializeTracing();
  if (profile == nullptr || profile->prof_state == nullptr) return 0;
  GProfilerState_t* state = profile->prof_state;

  if (state->CurrFuncPtr == nullptr || state->CurrFuncPtr->Address != fnAddress) {
    enterFunction(state, 1, fnAddress, 0);
    state->FramePtr->isCalledFromLibrary = true;
  }
  const Locals* LocalsTree = __PROF_Function_getLocalsTree(state->CurrFuncPtr);
  if (frameAddress != 0) __PROF_GProfilerState_setCurrentFrameAddress(state, frameAddress);
  *FrameId = state->FramePtr->Id;
  return LocalsTree == nullptr ? 1 : 0;
}

void __PROF_FNProcessFunctionEntry(uint8_t EmitTraceRecord, uint64_t fnAddress, uint32_t caller) {
  if (traceSuspendedOnThisThread()) return;
  GProfilerState_t* state = __PROF_stateOfCallingThread();
  if (state == nullptr) return;
  enterFunction(state, EmitTraceRecord, fnAddress, caller);
}

// Exits on an empty virtual stack (unbalanced instrumentation) change
// nothing and write nothing.
void __PROF_FNProcessFunctionExit(void) {
  if (traceSuspendedOnThisThread()) return;
  GProfilerState_t* state = __PROF_stateOfCallingThread();
  if (state == nullptr || state->FramePtr == nullptr) return;
  __PROF_GProfilerState_popFrame(state);
  if (state->TraceBuffPrinterPtr != nullptr) __PROF_TRFunctionExit(state->TraceBuffPrinterPtr);
}

void __PROF_FNProcessFunctionExitWithReturnValue(uint64_t returnValue) {
  if (traceSuspendedOnThisThread()) return;
  GProfilerState_t* state = __PROF_stateOfCallingThread();
  if (state == nullptr || state->FramePtr == nullptr) return;
  __PROF_GProfilerState_popFrame(state);
  if (state->TraceBuffPrinterPtr != nullptr)
    __PROF_TRFunctionExitWithReturn(state->TraceBuffPrinterPtr, returnValue);
}

void __PROF_UpdateRetBBCount(void) {
  if (traceSuspendedOnThisThread()) return;
  GProfilerState_t* state = __PROF_stateOfCallingThread();
  if (state == nullptr || state->FramePtr == nullptr || !state->FramePtr->isCalledFromLibrary) return;
  __PROF_GProfilerState_popFrame(state);
  if (state->TraceBuffPrinterPtr != nullptr) __PROF_TRFunctionExit(state->TraceBuffPrinterPtr);
}

// Frame 0 is the empty stack: an excluded function that runs below every
// instrumented frame (an excluded main or thread function) catches there.
// A thread without a profile has no frame to pop and no trace to write
// into, and gets none for this.
void __PROF_FNProcessFunctionUnwind(uint32_t FrameId, uint32_t UnwindLoc) {
  if (traceSuspendedOnThisThread()) return;
  if (FrameId == 0 && __PROF_get_thread_profile_or_null() == nullptr) return;
  GProfilerState_t* state = __PROF_stateOfCallingThread();
  if (state == nullptr) return;
  bufferedPrinterStruct_t* printer = state->TraceBuffPrinterPtr;
  while (state->FramePtr != nullptr && state->FramePtr->Id != FrameId) {
    __PROF_GProfilerState_popFrame(state);
    if (printer != nullptr) __PROF_TRFunctionExitUnwind(printer);
  }
  if (state->FramePtr == nullptr && FrameId != 0)
    __PROF_fatal_exit("spec:0:0: error: Target frame not found while unwinding virtual stack");
  if (printer != nullptr) __PROF_TRFunctionExitUnwindStop(printer, UnwindLoc);
}

// Read-only: a thread whose first hook this is gets no profile, and so no
// trace, until instrumented code runs on it. The answer 0 while suspended
// is safe for the unwind it is handed to: a suspension inside a signal
// handler still holds when the handler's own landings unwind (which then do
// nothing), and one from before start-up began with no profile, that is
// with the empty stack.
uint32_t __PROF_FNCurrentFrameId(void) {
  if (traceSuspendedOnThisThread()) return 0;
  const thread_profile_t* profile = __PROF_get_thread_profile_or_null();
  if (profile == nullptr || profile->prof_state == nullptr) return 0;
  const VFrame_t* top = profile->prof_state->FramePtr;
  return top == nullptr ? 0 : top->Id;
}

void __PROF_TRBasicBlockEntry(uint32_t ID) {
  if (traceSuspendedOnThisThread()) return;
  GProfilerState_t* state = __PROF_stateOfCallingThread();
  if (state == nullptr || state->TraceBuffPrinterPtr == nullptr) return;
  bufferedPrinterStruct_t* printer = state->TraceBuffPrinterPtr;
  PrinterLock lock(printer);
  __PROF_PRINT_ULEB128(printer, 2 * static_cast<U64>(ID) + 1);
}

uint32_t __PROF_getCalleeUID(void) {
  const GProfilerState_t* state = __PROF_stateOfCallingThread();
  if (state == nullptr || state->CurrFuncPtr == nullptr) return 0;
  return state->CurrFuncPtr->Id;
}
