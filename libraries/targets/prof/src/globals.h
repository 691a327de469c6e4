// Process-wide state of the runtime and the locks that guard it. Each lock
// names what it guards; the lock order of the whole runtime is:
//   sync_access_to_tree (thread table) -> thread_state_mutex ->
//   FramePtr_mutex | Stackframes_mutex -> sync_access_to_unique_thread_id;
//   heap: heap_info_initialized -> HeapRegTreePtr -> StatHeapArrayPtr;
//   __PROF_HeapUIDMutex, __PROF_ExecutionInitializedMutex and
//   __PROF_FunctionMappingFdMutex are taken alone; a printer's mutex is
//   innermost.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "prof/proflibAPI.h"
#include "utils.h"

struct Functions;
typedef struct GlobalVariables_s GlobalVariables;

// Guards __PROF_ExecutionInitialized, the once-per-process start-up and the
// list of threads to resume.
extern pthread_mutex_t __PROF_ExecutionInitializedMutex;
extern bool __PROF_ExecutionInitialized;
// Guards function registration and the "functionMapping" stream.
extern pthread_mutex_t __PROF_FunctionMappingFdMutex;

// Run directory; null until start-up made it. Lives until the process ends.
extern const char* __PROF_execDirectory;
extern FILE* __PROF_FunctionMappingFd;
extern FILE* __PROF_GlobalVariablesMappingFd;
extern FILE* __PROF_BinariesFd;

// Created by the first function registration, only read after start-up.
extern Functions* __PROF_FunctionTable;
// Global variables of all binaries; null until the first one is registered.
extern GlobalVariables* __PROF_GlobVarTreePtr;

// Next heap block id (from 1, never reused), guarded by its own mutex that
// is never held together with another lock.
extern uint64_t __PROF_HeapUID;
extern pthread_mutex_t __PROF_HeapUIDMutex;

// True when memory-access records are written (the trace-mode switch).
inline bool __PROF_traceMemoryAccesses() { return __PROF_Configuration.TraceMemoryAccesses == 1; }
inline bool __PROF_traceMemoryAllocation() { return __PROF_Configuration.TraceMemoryAllocation; }
