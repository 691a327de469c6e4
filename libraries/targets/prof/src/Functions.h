// The process-wide function table: Function records keyed by address in a
// fixed hash table, with the catch-all record {0, 0} that answers every
// address no binary registered.
#pragma once

#include <cstdint>
#include <cstdio>

#include "Function.h"
#include "table.h"

struct Functions {
  Table T;                   // Function records keyed by Address
  uint32_t nextAvailableId;  // next linked id to hand out; starts at 200
};

Functions* __PROF_Functions_new(void);
uint64_t __PROF_Functions_Key(void* data);
// The record with this address, or the catch-all record.
const Function* __PROF_Functions_find(const Functions* Fns, uint64_t Address);
// Inserts Element unless its address is known; returns the representative.
const Function* __PROF_Functions_insert(Functions* Fns, Function* Element);
uint32_t __PROF_RegisterFunction(FILE* FunctionMappingFd, Functions* Fns, const char* BinaryUid,
                                 uint32_t FunctionId, uint64_t Address);
