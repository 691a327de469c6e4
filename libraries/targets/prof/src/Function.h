// A function record of the process-wide function table: one per distinct
// address, with the process-wide linked id and the function's published
// locals layout.
#pragma once

#include <atomic>
#include <cstdint>

typedef struct Locals_s Locals;

struct Function {
  uint32_t Id;                      // linked id, unique in the process
  uint64_t Address;                 // entry (or call-through address); 0 only for the catch-all
  // Null until published once by compare-and-swap; mutable because
  // publishing does not change the record's identity (id, address).
  mutable std::atomic<Locals*> LocalsTree;
};

Function* __PROF_Function_new(uint32_t Id, uint64_t Address);
// Frees the record and its locals layout, if any.
void __PROF_Function_delete(Function* F);

// The published layout, or null. Layouts are immutable once published, so
// the acquire load makes the whole tree visible to the reader.
inline Locals* __PROF_Function_getLocalsTree(const Function* F) {
  return F->LocalsTree.load(std::memory_order_acquire);
}
// Installs L if no layout is published yet; returns whether this call did.
bool __PROF_Function_setLocalsTree(const Function* F, Locals* L);
