// Fixed-size chained hash table of element pointers, keyed by a 64-bit value
// that a caller-supplied function derives from each element. It backs the
// function table (keyed by function address) and each frame's table of
// dynamically sized locals (keyed by variable id). The table never copies or
// owns its elements; entries come from the guarded allocator of utils.h.
//
// There is no lock: writers are kept apart by the users (function
// registration runs under the function-mapping lock, a frame's table belongs
// to one thread). Lookups run on every function event without a lock, which
// is why the lookup path lives in this header.
#pragma once

#include <commonProfInclude/common.h>

#include <cstddef>
#include <type_traits>

// Derives an element's key; runs once per add and once per lookup.
typedef U64 (*TableKeygenFn)(void* elem);
// Declared for an element-modification step that no operation uses.
typedef void* (*TableModifyFn)(void* elem);
// Equality of a stored element and a probe when keys are equal: non-zero
// means equal. Consulted only when simpleCompare is false.
typedef U8 (*TableCompareFn)(void* stored, void* probe);
// Returns true to stop the walk.
typedef bool (*TableVisitorFn)(void* elem, void* info);
// Called with the destination's matching element (or null when there is
// none) and the source element; with null it returns the element to add.
typedef void* (*TableMergeFn)(void* dstElem, void* srcElem, void* info);
typedef void (*TableDeleterFn)(void* elem);

// Prime bucket count; tables never grow or rehash.
constexpr unsigned TableBucketCount = 131;

struct HashElem {
  U64 key;  // the element's key as computed when it was added
  void* data;
  HashElem* chain;  // next (older) entry of the same slot, null at the end
};

struct Table {
  TableKeygenFn Keygen;
  TableModifyFn Modify;  // never set by init, never called
  TableCompareFn Compare;
  U64 elemCount;
  bool simpleCompare;  // true: equal keys mean equal elements
  HashElem* buckets[TableBucketCount];
};

// The function table embeds Table as the first field of its registry, and
// entries are small fixed records: keep both plain.
static_assert(std::is_standard_layout_v<Table> && std::is_trivial_v<Table>);
static_assert(std::is_standard_layout_v<HashElem> && std::is_trivial_v<HashElem>);
static_assert(offsetof(Table, Keygen) == 0 && offsetof(Table, elemCount) == 3 * sizeof(void*) &&
              offsetof(Table, buckets) == 3 * sizeof(void*) + 16);
static_assert(sizeof(HashElem) == 24 && offsetof(HashElem, chain) == 16);

// Slot of a key: one wrapping 64-bit multiplication and one remainder.
inline unsigned Hash(U64 key) {
  return static_cast<unsigned>((key * 23u) % TableBucketCount);
}

// The entry of the table whose key is key and that matches elem; keys are
// compared first so the compare function only runs on key collisions. A
// table whose Compare was left null falls back to key equality rather than
// calling through a null pointer.
inline HashElem* TableKeyRetrieve(const Table* table, U64 key, void* elem) {
  for (HashElem* e = table->buckets[Hash(key)]; e != nullptr; e = e->chain) {
    if (e->key != key) continue;
    if (table->simpleCompare || table->Compare == nullptr || table->Compare(e->data, elem) != 0)
      return e;
  }
  return nullptr;
}

inline HashElem* TableRetrieve(const Table* table, void* elem) {
  return TableKeyRetrieve(table, table->Keygen(elem), elem);
}

// Storage is the caller's and need not be zeroed.
void __PROF_TableInit(Table* table, TableKeygenFn keygen, TableCompareFn compare,
                      bool simpleCompare);

U64 __PROF_TableSize(const Table* table);

// False when an equal element is already stored (the table is unchanged),
// and for a null table or element, which cannot be keyed.
bool __PROF_TableAdd(Table* table, void* elem);

// The stored element equal to the probe, or null. The probe only needs the
// fields the key (and compare) function reads.
inline void* __PROF_TableGetElem(const Table* table, void* probe) {
  if (table == nullptr || probe == nullptr || table->elemCount == 0) return nullptr;
  const HashElem* e = TableRetrieve(table, probe);
  return e != nullptr ? e->data : nullptr;
}

// Visits slots in ascending order, each chain newest first; true as soon as
// a visitor call returns true.
bool __PROF_TableVisitor(const Table* table, TableVisitorFn visitor, void* info);

// Offers every source element to merge, with the destination's matching
// element or null; a non-null result of a null-match call is added to dst.
// Both tables must derive keys the same way. The source is not changed.
void __PROF_TableMerge(Table* dst, const Table* src, TableMergeFn merge, void* info);

// Frees every entry (after handing its element to deleter, if given) and
// empties the table; the Table record itself stays with its owner.
void __PROF_TableDelete(Table* table, TableDeleterFn deleter);
