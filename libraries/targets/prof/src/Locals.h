// A function's static-locals layout: the interval tree with frame-relative
// offsets, plus the signed offset bounds and total size from which frames
// take their address range. Offsets below the frame address are negative
// and order in the tree as large unsigned values; only min_start and
// max_end are compared signed. Built privately by one thread, then
// published once and never changed, so lookups need no lock.
#pragma once

#include <cstdint>
#include <type_traits>

#include "red_black_tree.h"

typedef struct Locals_s {
  RBTreeStruct_t Tree;  // offsets from the frame address
  S64 min_start;        // smallest offset registered
  S64 max_end;          // largest end offset registered
  U64 total_size;       // sum of the registered sizes in bytes
} Locals;

static_assert(std::is_trivial_v<Locals> && std::is_standard_layout_v<Locals>);

Locals* __PROF_Locals_new(void);
// Releases the nodes and the record; null is accepted.
void __PROF_Locals_delete(Locals* L);

// Inserts the offsets [start, end] and, when a node comes back, widens the
// bounds and total_size with the requested (not trimmed) bounds.
Local* __PROF_Locals_insert(Locals* L, uint32_t UID, S64 start, S64 end);

// The local containing offset; the offset is reinterpreted as unsigned.
inline Local* __PROF_Locals_find(const Locals* L, S64 offset) {
  return __PROF_RBFind(L->Tree.root, static_cast<U64>(offset));
}
