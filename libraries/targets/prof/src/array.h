// Sparse index-addressed archive of untyped pointers. Heap tracking keeps the
// records of freed heap blocks here until finalisation. Elements live in
// zeroed blocks of 1024 reached through a slot table that grows in steps of
// 128 slots, so growth never moves a stored element. No lock: the archive's
// owner guards it. Allocation goes through the guarded allocator of utils.h.
#pragma once

#include <commonProfInclude/common.h>

#include <cstddef>
#include <type_traits>

constexpr U32 ArrayElemsPerBlock = 1024;  // elements per element block
constexpr U32 ArrayElemShift = 10;        // idx >> 10 selects the block
constexpr U32 ArrayElemMask = 0x3FF;      // idx & 0x3FF selects the element
constexpr U32 ArraySlotStep = 128;        // slot-table size and growth step

struct ArrayElemStruct_t {
  void* data;
  U8 validBit;  // 1 while the element holds data
};

struct ArrayStruct_t {
  ArrayElemStruct_t** blocks;  // slot k: elements k*1024 .. k*1024+1023, or null
  U32 noElems;                 // additions minus deletions
  U32 lastIdx;                 // highest index written; 0xFFFFFFFF once index 0 is deleted
  U32 totalBlocks;             // number of slots in blocks
};

// Element blocks are allocated zeroed and read as plain memory.
static_assert(std::is_trivial_v<ArrayElemStruct_t> && sizeof(ArrayElemStruct_t) == 16 &&
              offsetof(ArrayElemStruct_t, validBit) == 8);
static_assert(std::is_trivial_v<ArrayStruct_t> && offsetof(ArrayStruct_t, noElems) == 8 &&
              offsetof(ArrayStruct_t, lastIdx) == 12 && offsetof(ArrayStruct_t, totalBlocks) == 16);
static_assert(ArrayElemsPerBlock == (1u << ArrayElemShift) && ArrayElemMask == ArrayElemsPerBlock - 1);

// New archive: 128 slots with element block 0 allocated, empty counters.
ArrayStruct_t* ArrayCreate(void);

// Stores data at idx and marks it valid, growing the slot table and
// allocating the element block as needed. A null archive is ignored.
void ArrayAdd(ArrayStruct_t* arr, U32 idx, void* data);

// The readers below answer null for a null archive, a missing element
// block 0, idx above lastIdx, or a missing element block for idx.

// data of a valid element, else null.
void* ArrayElement(const ArrayStruct_t* arr, U32 idx);
// The element itself when valid, else null.
ArrayElemStruct_t* ArrayCompleteElement(ArrayStruct_t* arr, U32 idx);
// Invalidates the element, counts one deletion, steps lastIdx down when idx
// is lastIdx, and returns the element's data.
void* ArrayElementDelete(ArrayStruct_t* arr, U32 idx);
// Clears validBit of a valid element and returns its data; the counters stay.
void* MakeElementInvalid(ArrayStruct_t* arr, U32 idx);
// data of the element whether valid or not.
void* GetInvalidElement(const ArrayStruct_t* arr, U32 idx);

// Releases the element blocks, the slot table and the record; never the data.
void ArrayDelete(ArrayStruct_t* arr);
