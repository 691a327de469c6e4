// Registry of variables known by absolute address: the process-wide globals
// and, with the same type, each thread's thread-local variables. Wraps the
// interval tree with the id high-water mark and the [MinStart, MaxEnd]
// bounds that let a lookup reject foreign addresses without descending.
// Lookups run on every traced access and stay inline and allocation-free.
#pragma once

#include <cstdint>
#include <type_traits>

#include "red_black_tree.h"

typedef struct GlobalVariables_s {
  RBTreeStruct_t Tree;       // intervals at absolute addresses
  uint32_t NextAvailableId;  // one more than the largest id inserted so far
  uint64_t MinStart;         // smallest start ever registered
  uint64_t MaxEnd;           // largest end ever registered
} GlobalVariables;

static_assert(std::is_trivial_v<GlobalVariables> && std::is_standard_layout_v<GlobalVariables>);

// Empty registry: NextAvailableId 1, bounds that reject every address.
GlobalVariables* __PROF_GlobalVariables_new(void);

uint32_t __PROF_GlobalVariables_nextAvailableId(const GlobalVariables* G);
void __PROF_GlobalVariables_setNextAvailableId(GlobalVariables* G, uint32_t Id);

// Inserts [start, end] (trimmed against registered variables) and returns
// the node that stands for start, or null for an empty interval.
GlobalVariable* __PROF_GlobalVariables_insert(GlobalVariables* G, uint32_t UID, uint64_t start,
                                              uint64_t end);

inline GlobalVariable* __PROF_GlobalVariables_find(const GlobalVariables* G, uint64_t Address) {
  if (Address < G->MinStart || Address > G->MaxEnd) return nullptr;
  return __PROF_RBFind(G->Tree.root, Address);
}
