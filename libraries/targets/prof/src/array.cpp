// The archive of freed heap-block records: a sparse array of pointers in
// element blocks of 1024, addressed through a growable slot table. Relies on
// the guarded allocator of utils.h; the owner's lock serialises all calls.
#include "array.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "utils.h"

namespace {

// The element for idx, or null under the shared null-answer rules.
ArrayElemStruct_t* Locate(const ArrayStruct_t* arr, U32 idx) {
  if (arr == nullptr || arr->blocks == nullptr || arr->blocks[0] == nullptr) return nullptr;
  if (idx > arr->lastIdx) return nullptr;
  const U32 block = idx >> ArrayElemShift;
  if (block >= arr->totalBlocks || arr->blocks[block] == nullptr) return nullptr;
  return &arr->blocks[block][idx & ArrayElemMask];
}

ArrayElemStruct_t* NewElementBlock() {
  return static_cast<ArrayElemStruct_t*>(ProfCalloc(ArrayElemsPerBlock, sizeof(ArrayElemStruct_t)));
}

// Grows the slot table in whole steps until it covers block; the new slots
// are empty. One step alone would leave an index further out of reach.
void CoverBlock(ArrayStruct_t* arr, U32 block) {
  if (block < arr->totalBlocks) return;
  const U32 newTotal = (block / ArraySlotStep + 1) * ArraySlotStep;
  arr->blocks = static_cast<ArrayElemStruct_t**>(
      ProfRealloc(arr->blocks, static_cast<size_t>(newTotal) * sizeof(ArrayElemStruct_t*)));
  memset(arr->blocks + arr->totalBlocks, 0,
         static_cast<size_t>(newTotal - arr->totalBlocks) * sizeof(ArrayElemStruct_t*));
  arr->totalBlocks = newTotal;
}

}  // namespace

ArrayStruct_t* ArrayCreate(void) {
  ArrayStruct_t* arr = ProfAlloc<ArrayStruct_t>();
  arr->blocks = static_cast<ArrayElemStruct_t**>(ProfCalloc(ArraySlotStep, sizeof(ArrayElemStruct_t*)));
  arr->blocks[0] = NewElementBlock();
  arr->noElems = 0;
  arr->lastIdx = 0;
  arr->totalBlocks = ArraySlotStep;
  return arr;
}

void ArrayAdd(ArrayStruct_t* arr, U32 idx, void* data) {
  if (arr == nullptr) return;
  const U32 block = idx >> ArrayElemShift;
  CoverBlock(arr, block);
  if (arr->blocks[block] == nullptr) arr->blocks[block] = NewElementBlock();
  ArrayElemStruct_t* e = &arr->blocks[block][idx & ArrayElemMask];
  e->data = data;
  e->validBit = 1;
  // Deleting index 0 as the last index leaves lastIdx at 0xFFFFFFFF. With
  // nothing counted, that value means "no index yet", not the top index:
  // otherwise the next add would keep it, the one after that would be
  // placed at lastIdx + 1 == 0 and overwrite the first.
  const bool emptied = arr->lastIdx == UINT32_MAX && arr->noElems == 0;
  ++arr->noElems;
  if (idx > arr->lastIdx || emptied) arr->lastIdx = idx;
}

void* ArrayElement(const ArrayStruct_t* arr, U32 idx) {
  const ArrayElemStruct_t* e = Locate(arr, idx);
  return (e != nullptr && e->validBit != 0) ? e->data : nullptr;
}

ArrayElemStruct_t* ArrayCompleteElement(ArrayStruct_t* arr, U32 idx) {
  ArrayElemStruct_t* e = Locate(arr, idx);
  return (e != nullptr && e->validBit != 0) ? e : nullptr;
}

void* ArrayElementDelete(ArrayStruct_t* arr, U32 idx) {
  ArrayElemStruct_t* e = Locate(arr, idx);
  if (e == nullptr) return nullptr;
  e->validBit = 0;
  // The count is additions minus deletions; a deletion on an empty count
  // would wrap it to 4 billion and make the archive look full for good.
  if (arr->noElems != 0) --arr->noElems;
  // From 0 this wraps to 0xFFFFFFFF, the mark of an archive with no index.
  if (idx == arr->lastIdx) arr->lastIdx = idx - 1;
  return e->data;
}

void* MakeElementInvalid(ArrayStruct_t* arr, U32 idx) {
  ArrayElemStruct_t* e = Locate(arr, idx);
  if (e == nullptr || e->validBit == 0) return nullptr;
  e->validBit = 0;
  return e->data;
}

void* GetInvalidElement(const ArrayStruct_t* arr, U32 idx) {
  const ArrayElemStruct_t* e = Locate(arr, idx);
  return e != nullptr ? e->data : nullptr;
}

void ArrayDelete(ArrayStruct_t* arr) {
  if (arr == nullptr) return;
  if (arr->blocks != nullptr) {
    for (U32 k = 0; k < arr->totalBlocks; ++k) free(arr->blocks[k]);
    free(arr->blocks);
  }
  free(arr);
}
