// Memory-access profiling: registration of variables (globals, thread-
// locals, static locals, scopes and dynamic locals), the classification of
// every reported address, and heap block tracking.
#pragma once

#include <cstdint>
#include <cstdio>

#include "GlobalVariables.h"
#include "HeapVariables.h"
#include "profiler_state.h"
#include "red_black_tree.h"

uint32_t __PROF_RegisterGlobalVariable(FILE* MappingFd, GlobalVariables* GlobalVars, const char* BinaryUid,
                                       uint32_t Uid, uint64_t Address, uint64_t End);

uint64_t __PROF_VFrame_RBKeygen(void* node);
RBNodeStruct_t* __PROF_VFrame_getDynamicLocal(VFrame_t* Frame, uint32_t Uid);
void __PROF_VFrame_allocateDynamicLocal(VFrame_t* Frame, uint32_t Uid, uint64_t Address, uint64_t Size);

// Classifies adr and writes exactly one access record.
void __PROF_ldstMemAccess(GlobalVariables* GlobalVars, GProfilerState_t* profState, const U64 adr);
// The variable of one frame that contains Address, or null.
const RBNodeStruct_t* __PROF_getLocalVariable(const VFrame_t* Frame, uint64_t Address, uint64_t* Offset);
// Walks the frame chain from *pframe; on a hit stores the offset (when
// access_offset is not null) and the owning frame into *pframe.
const RBNodeStruct_t* __PROF_RBFindInFrame(VFrame_t** pframe, U64 address, U64* access_offset);
// Heap-registry node containing address, or null. The node may be removed
// by another thread as soon as this returns; readers that need the block's
// fields use __PROF_GetHeapBlock, which copies them under the lock.
RBHeapNodeStruct_t* __PROF_GetHeapVariable(const GProfilerState_t* profState, U64 address);
// Copies the block containing address under the registry lock.
[[nodiscard]] bool __PROF_GetHeapBlock(U64 address, heapStruct_t* out);

// Releasing or moving a block in two halves, so that no other thread can
// find the block under an address the library has already given back:
// before the library call, the block containing adr is taken out of the
// registry (null when the address is not a traced block); after it, the
// caller either moves it (new place and size, reallocation record),
// releases it (archive, free record) or restores it unchanged (the library
// call failed). A null detached block gets the unknown-address warning.
HeapVariable* __PROF_LSDetachHeapBlock(U64 adr);
void __PROF_LSMoveDetachedHeapBlock(HeapVariable* detached, U64 old_adr, const U8* new_adr, U64 size,
                                    const U32 by_func);
void __PROF_LSReleaseDetachedHeapBlock(HeapVariable* detached, U64 adr);
void __PROF_LSRestoreHeapBlock(HeapVariable* detached);

// The registry's DestroyInfo (through the archive lock): archives a freed
// block record, or releases it when the archive is full.
void MoveFreeHeapToArray(HeapVariable* ptr);

// Most freed-block records kept until finalisation.
constexpr uint32_t kFreedHeapArchiveCapacity = 2048;
