// Registration of variables, classification of every reported address into
// one access record, and heap block tracking.
//
// Classification order is fixed: own frames, globals, heap, thread-locals
// of any thread, other threads' frames, unknown. The lock-free look-ups come
// first; each look-up is guarded by a range test before any tree descent.
#include "ls_profile.h"

#include <cinttypes>
#include <cstdlib>
#include <type_traits>

#include "Function.h"
#include "commonProfInclude/TracingConstants.h"
#include "Locals.h"
#include "bufferedPrinter.h"
#include "commonProfInclude/bitfields.h"
#include "globals.h"
#include "suspend.h"
#include "table.h"
#include "heap_registry.h"
#include "thread_lookup.h"
#include "thread_profile_utils.h"
#include "thread_ranges.h"
#include "trace.h"
#include "utils.h"

namespace {

// The layout the calling thread is building between the locals
// registrations with index 1 and index staticLocals.
thread_local Locals* partialTree = nullptr;

// End of a closed interval of Size bytes; a zero-byte local occupies one.
inline uint64_t closedEnd(uint64_t start, uint64_t size) { return size == 0 ? start : start + size - 1; }

// Id of the function that called the wrapper (the frame below the current
// one), for heap warnings.
int callerIdForWarning(const GProfilerState_t* state) {
  const VFrame_t* top = state->FramePtr;
  if (top == nullptr || top->prev == nullptr || top->prev->function == nullptr) return 0;
  return static_cast<int>(top->prev->function->Id);
}

void growIfNotEmpty(GProfilerState_t* state, const VFrame_t* frame) {
  if (frame->bot != frame->top) __PROF_GProfilerState_growStackframeRange(state, frame);
}

RBHeapNodeStruct_t* findHeapNodeLocked(U64 address) {
  return __PROF_HeapVariables_find(__PROF_thread_profile_getHeapRegPtr(),
                                   __PROF_thread_profile_getHeapRegTreePtr_nil(), address);
}

}  // namespace

// ---- Registration ----

uint32_t __PROF_RegisterGlobalVariable(FILE*, GlobalVariables* GlobalVars, const char*, uint32_t Uid,
                                       uint64_t Address, uint64_t End) {
  __PROF_GlobalVariables_insert(GlobalVars, Uid, Address, End);
  return Uid;
}

void __PROF_LSInitGlobalInfo(uint32_t Uid, U64 Address, U64 Size, FILE* WriteTo, const char* BinaryUid) {
  if (__PROF_GlobVarTreePtr == nullptr) __PROF_GlobVarTreePtr = __PROF_GlobalVariables_new();
  __PROF_RegisterGlobalVariable(WriteTo, __PROF_GlobVarTreePtr, BinaryUid, Uid, Address, Address + Size - 1);
}

void __PROF_LSInitTLS(uint32_t Uid, U64 Address, U64 Size, FILE* WriteTo, const char* BinaryUid) {
  if (traceSuspendedOnThisThread()) return;
  GProfilerState_t* state = __PROF_stateOfCallingThread();
  if (state == nullptr) return;
  if (state->TLSTreePtr == nullptr) {
    state->TLSTreePtr = __PROF_GlobalVariables_new();
    if (__PROF_GlobVarTreePtr != nullptr)
      __PROF_GlobalVariables_setNextAvailableId(state->TLSTreePtr,
                                                __PROF_GlobalVariables_nextAvailableId(__PROF_GlobVarTreePtr));
  }
  __PROF_RegisterGlobalVariable(WriteTo, state->TLSTreePtr, BinaryUid, Uid, Address, Address + Size - 1);
  __PROF_ThreadRanges_growThreadLocals(state->RangeSlot, state->TLSTreePtr->MinStart, state->TLSTreePtr->MaxEnd);
}

void __PROF_LSInitLocalInfo(U32 staticLocals, U32 index, uint32_t UID, U64 loc_address, U64 loc_size) {
  if (traceSuspendedOnThisThread()) return;
  GProfilerState_t* state = __PROF_stateOfCallingThread();
  if (state == nullptr) return;
  const Function* F = state->CurrFuncPtr;
  VFrame_t* frame = state->FramePtr;
  if (nuq_profiler_debug != 0)
    fprintf(stderr, "spec:0:0: info: Init locals -> staticLocals:%u   index:%u\n", staticLocals, index);
  if (F == nullptr || frame == nullptr) return;

  if (index == 1) {
    if (partialTree != nullptr) __PROF_Locals_delete(partialTree);
    partialTree = __PROF_Locals_new();
  } else if (partialTree == nullptr) {
    return;  // no layout is being built: a protocol violation, ignored
  }
  const uint64_t end = closedEnd(loc_address, loc_size);
  __PROF_Locals_insert(partialTree, UID, static_cast<S64>(loc_address - frame->address),
                       static_cast<S64>(end - frame->address));
  if (index != staticLocals) return;

  if (!__PROF_Function_setLocalsTree(F, partialTree)) __PROF_Locals_delete(partialTree);
  partialTree = nullptr;
  const Locals* L = __PROF_Function_getLocalsTree(F);
  {
    MutexGuard lock(&state->FramePtr_mutex);
    frame->top = frame->address + static_cast<uint64_t>(L->max_end) + 1;
    frame->bot = frame->address + static_cast<uint64_t>(L->min_start);
  }
  __PROF_GProfilerState_growStackframeRange(state, frame);
}

namespace {

void openScope() {
  if (traceSuspendedOnThisThread()) return;
  GProfilerState_t* state = __PROF_stateOfCallingThread();
  if (state == nullptr || state->FramePtr == nullptr) return;
  VScope_t* scope = __PROF_GProfilerState_allocate_scope(state);
  MutexGuard lock(&state->FramePtr_mutex);
  __PROF_VFrame_pushScope(state->FramePtr, scope);
}

}  // namespace

void __PROF_LSStackSave(void) { openScope(); }

void __PROF_LSInitByvalScope(void) { openScope(); }

void __PROF_LSStackRestore(void) {
  if (traceSuspendedOnThisThread()) return;
  GProfilerState_t* state = __PROF_stateOfCallingThread();
  if (state == nullptr || state->FramePtr == nullptr || state->FramePtr->inner == nullptr) return;
  VScope_t* scope;
  {
    MutexGuard lock(&state->FramePtr_mutex);
    scope = __PROF_VFrame_popScope(state->FramePtr);
  }
  __PROF_GProfilerState_free_scope(state, scope);
}

uint64_t __PROF_VFrame_RBKeygen(void* node) { return static_cast<const RBNodeStruct_t*>(node)->unique_id; }

RBNodeStruct_t* __PROF_VFrame_getDynamicLocal(VFrame_t* Frame, uint32_t Uid) {
  RBNodeStruct_t probe{};
  probe.unique_id = Uid;
  return static_cast<RBNodeStruct_t*>(__PROF_TableGetElem(Frame->dynamic_table, &probe));
}

namespace {

// Puts every node of the subtree except `skip` back into tree. Children are
// read before a node is relinked, so the old links may be overwritten.
void reinsertAllBut(RBTreeStruct_t* tree, RBNodeStruct_t* node, const RBNodeStruct_t* skip) {
  if (node == nullptr) return;
  RBNodeStruct_t* left = node->left;
  RBNodeStruct_t* right = node->right;
  if (node != skip) {
    node->left = nullptr;
    node->right = nullptr;
    node->color = red;
    __PROF_InsertInRBTree(tree, node, false);
  }
  reinsertAllBut(tree, left, skip);
  reinsertAllBut(tree, right, skip);
}

// A node initialised again keeps its identity, but its old links must not
// follow it into its new tree: they point into the tree of an earlier
// scope and would join the two, or close a cycle. While an open scope of
// the frame still holds the node, the node leaves that scope's tree first,
// so that no tree holds it at a place that no longer matches its bytes.
void releaseReusedNode(VFrame_t* Frame, RBNodeStruct_t* node) {
  for (VScope_t* scope = Frame->inner; scope != nullptr; scope = scope->prev) {
    if (__PROF_RBFind(scope->tree.root, node->start) != node) continue;
    RBNodeStruct_t* root = scope->tree.root;
    __PROF_InitRBTree(&scope->tree);
    reinsertAllBut(&scope->tree, root, node);
    break;  // a node stands in one tree at most
  }
  node->left = nullptr;
  node->right = nullptr;
  node->color = red;
}

}  // namespace

// Called with the owner's FramePtr_mutex held: remote look-ups walk the
// scope trees and read the frame range under it.
void __PROF_VFrame_allocateDynamicLocal(VFrame_t* Frame, uint32_t Uid, uint64_t Address, uint64_t Size) {
  VScope_t* Scope = Frame->inner;
  if (Scope == nullptr) return;  // no open scope: a protocol violation, ignored
  if (Frame->dynamic_table == nullptr) {
    Frame->dynamic_table = ProfAlloc<Table>();
    __PROF_TableInit(Frame->dynamic_table, __PROF_VFrame_RBKeygen, nullptr, true);
  }
  RBNodeStruct_t* node = __PROF_VFrame_getDynamicLocal(Frame, Uid);
  if (node == nullptr) {
    node = __PROF_RBElemCreate(Uid, 0, 0);
    __PROF_TableAdd(Frame->dynamic_table, node);
  } else {
    releaseReusedNode(Frame, node);
  }
  node->start = Address;
  node->end = Address + Size - 1;
  __PROF_InsertInRBTree(&Scope->tree, node, false);
  if (Frame->bot == Frame->top) {
    Frame->bot = Address;
    Frame->top = Address + Size;
  } else {
    if (Address < Frame->bot) Frame->bot = Address;
    if (Address + Size > Frame->top) Frame->top = Address + Size;
  }
}

namespace {

void registerDynamicLocal(GProfilerState_t* state, uint32_t uid, U64 address, U64 size) {
  VFrame_t* frame = state->FramePtr;
  if (frame == nullptr) return;
  {
    MutexGuard lock(&state->FramePtr_mutex);
    __PROF_VFrame_allocateDynamicLocal(frame, uid, address, size);
  }
  growIfNotEmpty(state, frame);
}

}  // namespace

void __PROF_LSInitVla(uint32_t uid, U64 address, U64 size) {
  if (traceSuspendedOnThisThread()) return;
  GProfilerState_t* state = __PROF_stateOfCallingThread();
  if (state == nullptr) return;
  if (size != 0) registerDynamicLocal(state, uid, address, size);
  if (state->TraceBuffPrinterPtr != nullptr) __PROF_TRFunctionVlaInit(state->TraceBuffPrinterPtr, size);
}

void __PROF_LSInitByval(uint32_t UID, U64 Address, U64 Size) {
  if (traceSuspendedOnThisThread()) return;
  GProfilerState_t* state = __PROF_stateOfCallingThread();
  if (state == nullptr) return;
  registerDynamicLocal(state, UID, Address, Size);
}

// ---- Classification ----

const RBNodeStruct_t* __PROF_getLocalVariable(const VFrame_t* Frame, uint64_t Address, uint64_t* Offset) {
  if (Frame->function != nullptr) {
    if (const Locals* L = __PROF_Function_getLocalsTree(Frame->function)) {
      // Wrapping on purpose: addresses below the frame address give the
      // large unsigned values that negative layout offsets have.
      const uint64_t d = Address - Frame->address;
      if (const RBNodeStruct_t* V = __PROF_RBFind(L->Tree.root, d)) {
        *Offset = d - V->start;
        return V;
      }
    }
  }
  for (const VScope_t* scope = Frame->inner; scope != nullptr; scope = scope->prev) {
    if (const RBNodeStruct_t* V = __PROF_RBFind(scope->tree.root, Address)) {
      *Offset = Address - V->start;
      return V;
    }
  }
  return nullptr;
}

const RBNodeStruct_t* __PROF_RBFindInFrame(VFrame_t** pframe, U64 address, U64* access_offset) {
  for (VFrame_t* frame = *pframe; frame != nullptr; frame = frame->prev) {
    if (address < frame->bot || address >= frame->top) continue;
    uint64_t offset = 0;
    if (const RBNodeStruct_t* V = __PROF_getLocalVariable(frame, address, &offset)) {
      if (access_offset != nullptr) *access_offset = offset;
      *pframe = frame;
      return V;
    }
  }
  *pframe = nullptr;
  return nullptr;
}

namespace {

// An address outside every block ever registered needs no lock: the
// registry's bounds only widen, and the availability flag is published
// after the registry is built.
inline bool heapMayContain(U64 address) {
  return __PROF_thread_profile_IsHeapInfoAvailable() != 0 &&
         __PROF_HeapVariables_mayContain(__PROF_thread_profile_getHeapRegPtr(), address);
}

}  // namespace

RBHeapNodeStruct_t* __PROF_GetHeapVariable(const GProfilerState_t*, U64 address) {
  if (!heapMayContain(address)) return nullptr;
  HeapRegistryGuard lock;
  return findHeapNodeLocked(address);
}

namespace {

// The calling thread's latest heap answers, one found block and one miss:
// the tree's change count when the answer was given under the registry
// lock, and the span of addresses whose descent takes the same path. While
// the count is unchanged the tree is the one that gave the answer, so an
// address in the span gets the same answer again without the lock or a
// descent: nothing shared is read but the count. A change made by another
// thread before this access (ordered by whatever told this thread about the
// block) has raised the count that this thread then reads, by coherence.
struct HeapAnswer {
  uint64_t changes;
  U64 lo, hi;
  U64 uid_heap, start;  // of the block found; unused for a miss
  bool valid;
};
thread_local constinit HeapAnswer lastHeapHit = {};
thread_local constinit HeapAnswer lastHeapMiss = {};
static_assert(std::is_trivially_destructible_v<HeapAnswer>);

inline bool answers(const HeapAnswer& a, uint64_t changes, U64 address) {
  return a.valid && a.changes == changes && a.lo <= address && address <= a.hi;
}

// Block of a heap access: its id and start, or false.
bool heapAccessTarget(U64 address, U64* uid, U64* start) {
  if (!heapMayContain(address)) return false;
  uint64_t changes = __PROF_HeapTreeChanges.load(std::memory_order_acquire);
  if (answers(lastHeapHit, changes, address)) {
    *uid = lastHeapHit.uid_heap;
    *start = lastHeapHit.start;
    return true;
  }
  if (answers(lastHeapMiss, changes, address)) return false;

  HeapRegistryGuard lock;
  changes = __PROF_HeapTreeChanges.load(std::memory_order_relaxed);
  U64 lo, hi;
  const RBHeapNodeStruct_t* node = __PROF_HeapVariables_findSpan(
      __PROF_thread_profile_getHeapRegPtr(), __PROF_thread_profile_getHeapRegTreePtr_nil(), address, &lo, &hi);
  if (node == nullptr) {
    lastHeapMiss = {changes, lo, hi, 0, 0, true};
    return false;
  }
  *uid = node->heap_info->uid_heap;
  *start = node->heap_info->start;
  lastHeapHit = {changes, lo, hi, *uid, *start, true};
  return true;
}

}  // namespace

bool __PROF_GetHeapBlock(U64 address, heapStruct_t* out) {
  if (!heapMayContain(address)) return false;
  HeapRegistryGuard lock;
  const RBHeapNodeStruct_t* node = findHeapNodeLocked(address);
  if (node != nullptr) *out = *node->heap_info;
  return node != nullptr;
}

namespace {

// The classification, handing the access record's values to emit, which
// writes them as one record (with, for a block, its length inside the same
// hold of the printer lock).
template <typename Emit>
inline void classifyAccess(GlobalVariables* GlobalVars, GProfilerState_t* profState, const U64 adr, Emit emit) {
  if (profState->Stackframes_Min <= adr && adr < profState->Stackframes_Max) {
    for (const VFrame_t* frame = profState->FramePtr; frame != nullptr; frame = frame->prev) {
      if (adr < frame->bot || adr >= frame->top) continue;
      uint64_t offset = 0;
      if (const RBNodeStruct_t* V = __PROF_getLocalVariable(frame, adr, &offset)) {
        if (frame == profState->FramePtr)
          emit(memadr_local, V->unique_id, offset);
        else
          emit(memadr_arg, V->unique_id, frame->Id, offset);
        return;
      }
    }
  }

  if (GlobalVars != nullptr) {
    if (const RBNodeStruct_t* V = __PROF_GlobalVariables_find(GlobalVars, adr)) {
      emit(memadr_global, V->unique_id, adr - V->start);
      return;
    }
  }

  U64 heapUid, heapStart;
  if (heapAccessTarget(adr, &heapUid, &heapStart)) {
    emit(memadr_heap, heapUid, adr - heapStart);
    return;
  }

  // The cross-thread searches lock the thread table and every thread in
  // it; the range directory tells, without a lock, whether either could
  // find anything at all.
  const ThreadRangeCandidates candidates = __PROF_ThreadRanges_candidates(profState->RangeSlot, adr);

  if (candidates & kOtherThreadLocal) {
    GlobalVariable tlsVariable;
    if (__PROF_GetTLSGlobalVariableCopy(adr, &tlsVariable)) {
      // Thread-local variables are recorded as globals.
      emit(memadr_global, tlsVariable.unique_id, adr - tlsVariable.start);
      return;
    }
  } else if (candidates & kOwnThreadLocal) {
    // Only this thread's variables can hold the address, and they are its
    // own: the table search would find the same node, or nothing.
    if (const GlobalVariable* V = __PROF_GetOwnTLSGlobalVariable(profState, adr)) {
      emit(memadr_global, V->unique_id, adr - V->start);
      return;
    }
  }

  if (candidates & kRemote) {
    const RemoteAccessInfo_t info = __PROF_GetRemoteAccessInfo(adr);
    if (info.varUID != 0) {
      emit(memadr_remote, info.varUID, info.fnUID, info.threadId, info.offset);
      return;
    }
  }

  emit(memadr_global, static_cast<U64>(VariableId_unknown_), U64{0});
}

}  // namespace

void __PROF_ldstMemAccess(GlobalVariables* GlobalVars, GProfilerState_t* profState, const U64 adr) {
  bufferedPrinterStruct_t* printer = profState->TraceBuffPrinterPtr;
  classifyAccess(GlobalVars, profState, adr,
                 [printer](auto... values) { trace_detail::writeRecord(printer, values...); });
}

namespace {

// The calling thread's state when memory accesses are traced, else null.
inline GProfilerState_t* stateForAccess() {
  if (traceSuspendedOnThisThread()) return nullptr;
  GProfilerState_t* state = __PROF_stateOfCallingThread();
  if (state == nullptr || state->TraceBuffPrinterPtr == nullptr || !__PROF_traceMemoryAccesses()) return nullptr;
  return state;
}

}  // namespace

void __PROF_LSVariable(const U8* adr) {
  if (GProfilerState_t* state = stateForAccess())
    __PROF_ldstMemAccess(__PROF_GlobVarTreePtr, state, reinterpret_cast<U64>(adr));
}

// The store tag and the access record under one hold of the printer lock,
// so that nothing falls between them.
void __PROF_LSStore(const U8* adr) {
  GProfilerState_t* state = stateForAccess();
  if (state == nullptr) return;
  if (!__PROF_traceAccessKinds()) {
    __PROF_ldstMemAccess(__PROF_GlobVarTreePtr, state, reinterpret_cast<U64>(adr));
    return;
  }
  bufferedPrinterStruct_t* printer = state->TraceBuffPrinterPtr;
  classifyAccess(__PROF_GlobVarTreePtr, state, reinterpret_cast<U64>(adr),
                 [printer](auto... values) { trace_detail::writeRecord(printer, cb_store, values...); });
}

// The length follows the access record inside the same hold of the printer
// lock: a close by the finalising thread cannot separate the two.
void __PROF_LSBlock(const U8* adr, U64 size) {
  GProfilerState_t* state = stateForAccess();
  if (state == nullptr) return;
  bufferedPrinterStruct_t* printer = state->TraceBuffPrinterPtr;
  classifyAccess(__PROF_GlobVarTreePtr, state, reinterpret_cast<U64>(adr),
                 [printer, size](auto... values) { trace_detail::writeRecord(printer, values..., size); });
}

void __PROF_LSOffset(const S64 offset) {
  if (GProfilerState_t* state = stateForAccess()) __PROF_TRPrintS64(state->TraceBuffPrinterPtr, offset);
}

// ---- Heap blocks ----

namespace {

// The calling thread's state when heap operations are traced, else null.
inline GProfilerState_t* stateForHeap() {
  GProfilerState_t* state = __PROF_stateOfCallingThread();
  if (state == nullptr || !__PROF_traceMemoryAllocation()) return nullptr;
  return state;
}

uint64_t takeHeapUid() {
  MutexGuard lock(&__PROF_HeapUIDMutex);
  return __PROF_HeapUID++;
}

}  // namespace

void __PROF_LSInsertHeapInfo(const U8* adr, U64 size, const U32 by_func) {
  if (traceSuspendedOnThisThread()) return;
  GProfilerState_t* state = stateForHeap();
  if (state == nullptr) return;
  const uint64_t uid = takeHeapUid();
  HeapVariable* record = __PROF_HeapVariable_new(uid, reinterpret_cast<U64>(adr), size, by_func);
  __PROF_thread_profile_init_heap_info();
  const RBHeapNodeStruct_t* node;
  {
    HeapRegistryGuard lock;
    node = __PROF_HeapVariables_insert(__PROF_thread_profile_getHeapRegPtr(), record);
  }
  if (node == nullptr)
    __PROF_fatal_exit("spec:0:0: error: [ls_profile] Error while profiling dynamically allocated memory");
  if (state->TraceBuffPrinterPtr != nullptr)
    __PROF_TRMemAlloc(state->TraceBuffPrinterPtr, uid, size, reinterpret_cast<U64>(adr));
}

namespace {

void warnUnknownBlock(const char* operation, U64 adr, const GProfilerState_t* state) {
  __PROF_warning(
      " [MEMORY] Trying to %s memory at %lx that has not been allocated or has already been freed. "
      "As a result, the memory profile might be invalid: function %d\n",
      operation, static_cast<unsigned long>(adr), callerIdForWarning(state));
}

}  // namespace

HeapVariable* __PROF_LSDetachHeapBlock(U64 adr) {
  if (traceSuspendedOnThisThread()) return nullptr;
  if (adr == 0 || __PROF_thread_profile_IsHeapInfoAvailable() == 0) return nullptr;
  if (stateForHeap() == nullptr) return nullptr;
  HeapRegistryGuard lock;
  RBHeapNodeStruct_t* node = findHeapNodeLocked(adr);
  if (node == nullptr) return nullptr;
  HeapVariable* block = node->heap_info;
  // The registry's DestroyInfo leaves a record so marked alone (and clears
  // the mark): the caller owns it now.
  block->on_relocation = 1;
  RBHeapDelete(__PROF_thread_profile_getHeapRegPtr()->Tree, node);
  return block;
}

void __PROF_LSRestoreHeapBlock(HeapVariable* detached) {
  if (detached == nullptr) return;
  bool inserted;
  {
    HeapRegistryGuard lock;
    inserted = __PROF_HeapVariables_insert(__PROF_thread_profile_getHeapRegPtr(), detached) != nullptr;
  }
  if (!inserted)
    __PROF_fatal_exit("spec:0:0: error: [ls_profile] Error while profiling dynamically re-allocated memory");
}

void __PROF_LSMoveDetachedHeapBlock(HeapVariable* detached, U64 old_adr, const U8* new_adr, U64 size,
                                    const U32 by_func) {
  if (detached == nullptr) {
    if (traceSuspendedOnThisThread()) return;
    if (const GProfilerState_t* state = stateForHeap()) warnUnknownBlock("reallocate", old_adr, state);
    return;
  }
  // Back in the registry the record is shared again: read it before.
  const uint64_t uid = detached->uid_heap;
  __PROF_HeapVariable_update(detached, reinterpret_cast<U64>(new_adr), size, by_func);
  __PROF_LSRestoreHeapBlock(detached);
  if (traceSuspendedOnThisThread()) return;
  const GProfilerState_t* state = stateForHeap();
  if (state != nullptr && state->TraceBuffPrinterPtr != nullptr)
    __PROF_TRMemRealloc(state->TraceBuffPrinterPtr, uid, size, reinterpret_cast<U64>(new_adr));
}

void __PROF_LSReleaseDetachedHeapBlock(HeapVariable* detached, U64 adr) {
  if (detached == nullptr) {
    if (traceSuspendedOnThisThread() || adr == 0 || __PROF_thread_profile_IsHeapInfoAvailable() == 0) return;
    if (const GProfilerState_t* state = stateForHeap()) warnUnknownBlock("free", adr, state);
    return;
  }
  const uint64_t uid = detached->uid_heap;
  const uint64_t size = detached->size;
  // Archived exactly as a registry deletion would (archive lock inside).
  __PROF_thread_profile_MoveFreeHeapToArray(detached);
  if (traceSuspendedOnThisThread()) return;
  const GProfilerState_t* state = stateForHeap();
  if (state != nullptr && state->TraceBuffPrinterPtr != nullptr) __PROF_TRMemFree(state->TraceBuffPrinterPtr, uid, size);
}

// The one-call form, for code that reports a reallocation only after the
// library made it: the old address may by then belong to another block.
// The reallocation wrapper detaches before calling the library instead.
void __PROF_LSReallocHeapInfo(const U8* old_adr, const U8* new_adr, U64 size, const U32 by_func) {
  if (traceSuspendedOnThisThread()) return;
  const U64 old = reinterpret_cast<U64>(old_adr);
  __PROF_LSMoveDetachedHeapBlock(__PROF_LSDetachHeapBlock(old), old, new_adr, size, by_func);
}

void __PROF_LSFreeHeap(U64 adr) {
  if (traceSuspendedOnThisThread()) return;
  if (adr == 0 || __PROF_thread_profile_IsHeapInfoAvailable() == 0) return;
  GProfilerState_t* state = stateForHeap();
  if (state == nullptr) return;
  uint64_t uid = 0;
  uint64_t size = 0;
  bool found = false;
  {
    HeapRegistryGuard lock;
    if (RBHeapNodeStruct_t* node = findHeapNodeLocked(adr)) {
      uid = node->heap_info->uid_heap;
      size = node->heap_info->size;
      RBHeapDelete(__PROF_thread_profile_getHeapRegPtr()->Tree, node);
      found = true;
    }
  }
  if (!found) {
    warnUnknownBlock("free", adr, state);
    return;
  }
  if (state->TraceBuffPrinterPtr != nullptr) __PROF_TRMemFree(state->TraceBuffPrinterPtr, uid, size);
}

void MoveFreeHeapToArray(HeapVariable* ptr) {
  if (ptr->on_relocation != 0) {
    ptr->on_relocation = 0;  // moved by a reallocation, not freed
    return;
  }
  ArrayStruct_t* archive = __PROF_thread_profile_check_StatHeapArrayPtr_is_locked();
  if (archive == nullptr || archive->noElems >= kFreedHeapArchiveCapacity) {
    __PROF_HeapVariable_delete(ptr);
    return;
  }
  ArrayAdd(archive, archive->noElems == 0 ? 0 : archive->lastIdx + 1, ptr);
}
