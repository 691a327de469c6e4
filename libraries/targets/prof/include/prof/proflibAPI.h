/* The runtime's ABI towards instrumented code: the hooks of the catalogue,
 * the per-binary start-up entry and the records the start-up stub hands
 * over. Every function here is unmangled, exported from the executable and
 * never throws. Unless a comment says otherwise, a hook first tests whether
 * tracing is suspended for the calling thread and then does nothing.
 * Compiles as C and as C++. */
#ifndef PROF_PROFLIBAPI_H
#define PROF_PROFLIBAPI_H

#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>

#include "commonProfInclude/common.h"

#define PROF_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/* One per instrumented binary, read-only. */
typedef struct InstrumentationConfig {
  const char* GlobalExecDirectory; /* absolute profile directory */
  const char* BinaryUid;           /* "app_0" for the executable */
  bool TraceMem;                   /* trace memory accesses */
  bool TraceAllocs;                /* trace heap allocations */
} InstrumentationConfig;

/* Process-wide trace modes, fixed by the first binary to start up and
 * written into every trace's mode record. */
typedef struct Configuration {
  bool TraceMemoryAccesses;
  bool TraceMemoryAllocation;
} Configuration;

typedef void (*InitTlsGlobalVariablesFunc_t)(FILE*, const char*);

PROF_API extern Configuration __PROF_Configuration;
/* Debug switch: when not 0 the start hook and the locals registration print
 * one info line each. Nothing in the runtime sets it. */
PROF_API extern int nuq_profiler_debug;

/* Per-binary start-up, called once from each binary's constructor before
 * main; the first call also creates the run directory. Not suspendable. */
PROF_API void __PROF_PerSharedObjectInit(int argc, char** argv, const char* MainBinaryUid,
                                         const InstrumentationConfig* InstrConfig,
                                         void (*InitFunctions)(void),
                                         void (*InitGlobalVariables)(FILE*, const char*),
                                         void (*InitTLSGlobalVariables)(FILE*, const char*));

/* Slot 0: registers one function of a binary; start-up only, not suspendable. */
PROF_API void __PROF_FNInitializeFuncStruct(uint32_t StaticId, uint64_t Address,
                                            const char* BinaryUid);
/* Slot 1: before a call made by instrumented code; pushes a frame. */
PROF_API void __PROF_FNProcessFunctionEntry(uint8_t EmitTraceRecord, uint64_t fnAddress,
                                            uint32_t caller);
/* Slot 2: after such a call; pops the frame and writes an exit record. */
PROF_API void __PROF_FNProcessFunctionExit(void);
/* Slot 3: as slot 2, with the call's return value in the record. */
PROF_API void __PROF_FNProcessFunctionExitWithReturnValue(uint64_t returnValue);
/* Slot 4: first action of an instrumented function. Returns 1 when the
 * function must register its locals, else 0 (also while suspended). */
PROF_API uint32_t __PROF_FNProcessFunctionStart(uint64_t fnAddress, uint64_t frameAddress,
                                                uint32_t* FrameId);
/* Slot 5: makes frame FrameId the top again after an unwind; FrameId 0
 * pops every frame (the empty stack). */
PROF_API void __PROF_FNProcessFunctionUnwind(uint32_t FrameId, uint32_t UnwindLoc);
/* Slot 6: last action of an instrumented function before it returns. */
PROF_API void __PROF_UpdateRetBBCount(void);
/* Slot 7: registers a global; start-up only, not suspendable. */
PROF_API void __PROF_LSInitGlobalInfo(uint32_t Uid, U64 Address, U64 Size, FILE* WriteTo,
                                      const char* BinaryUid);
/* Slot 8: registers a thread-local variable of the calling thread. */
PROF_API void __PROF_LSInitTLS(uint32_t Uid, U64 Address, U64 Size, FILE* WriteTo,
                               const char* BinaryUid);
/* Slot 9: one static local of the function just started; the last one
 * (index == staticLocals) publishes the layout. */
PROF_API void __PROF_LSInitLocalInfo(U32 staticLocals, U32 index, uint32_t UID,
                                     U64 loc_address, U64 loc_size);
/* Slots 10, 11: open and close a scope of dynamic locals. */
PROF_API void __PROF_LSStackSave(void);
PROF_API void __PROF_LSStackRestore(void);
/* Slot 12: a variable-length array of the current frame. */
PROF_API void __PROF_LSInitVla(uint32_t uid, U64 address, U64 size);
/* Slots 13, 14: a scope for by-value argument copies, and one such copy. */
PROF_API void __PROF_LSInitByvalScope(void);
PROF_API void __PROF_LSInitByval(uint32_t UID, U64 Address, U64 Size);
/* Slot 15: an access to size bytes at adr (record, then the size). */
PROF_API void __PROF_LSBlock(const U8* adr, U64 size);
/* Slot 16: one access at adr. */
PROF_API void __PROF_LSVariable(const U8* adr);
/* Slot 17: a bare signed offset written into the trace. */
PROF_API void __PROF_LSOffset(const S64 offset);
/* Slots 18 to 20: heap blocks reported by the allocation wrappers. */
PROF_API void __PROF_LSInsertHeapInfo(const U8* adr, U64 size, const U32 by_func);
PROF_API void __PROF_LSReallocHeapInfo(const U8* old_adr, const U8* new_adr, U64 size,
                                       const U32 by_func);
PROF_API void __PROF_LSFreeHeap(U64 adr);
/* Slot 21: entry of basic block ID (the odd value 2*ID+1). */
PROF_API void __PROF_TRBasicBlockEntry(uint32_t ID);
/* Slots 22, 23: untagged values asked for by the program. */
PROF_API void __PROF_TRPrintU64(const U64 value);
PROF_API void __PROF_TRPrintString(const U8* str);

/* Id of the calling thread's top frame, which is the depth of its virtual
 * stack: 0 when the stack is empty, when the thread has no profile yet and
 * while its tracing is suspended. Writes nothing and creates no profile.
 * A function left uninstrumented that catches exceptions or calls setjmp
 * reads it on entry and hands it to the unwind hook (slot 5) where an
 * exception or a long jump lands, so that the frames of instrumented calls
 * abandoned on the way are popped. Not a slot of the hook table below:
 * it lives with the function-event hooks, which the table keeps linked. */
PROF_API uint32_t __PROF_FNCurrentFrameId(void);

/* Id of the function current on the calling thread's virtual stack, 0 when
 * the stack is empty. Used by the wrappers to tag heap blocks. */
PROF_API uint32_t __PROF_getCalleeUID(void);

/* The run directory of the process, or null before start-up made it. For
 * companion libraries (the stream model) that add their own files to it. */
PROF_API const char* __PROF_getRunDirectory(void);
/* The calling thread's profiler number (the number of its trace file), or
 * 4294967295 when the thread has made no profiled call yet; never creates a
 * profile, so asking leaves the run directory as it is. */
PROF_API uint32_t __PROF_getThreadNumber(void);

/* The process-exit handler (registered with atexit at start-up). */
PROF_API void __PROF_FinalizeInstrumentationAll(void);

/* Per-thread suspension of tracing; suspensions nest. */
PROF_API void* __PROF_trace_suspend(void);
PROF_API void __PROF_trace_resume(void);
PROF_API void __PROF_trace_resume_thread(void* key);
PROF_API int __PROF_is_trace_suspended(void);

/* The table of every hook, in catalogue order; the stub keeps one instance
 * so that every hook is linked into the executable. */
typedef struct ProfilerFunctions {
  void (*profFnInitialize)(uint32_t, uint64_t, const char*);
  void (*profFnEntry)(uint8_t, uint64_t, uint32_t);
  void (*profFnExit)(void);
  void (*profFnExitWithReturnValue)(uint64_t);
  uint32_t (*profFnStart)(uint64_t, uint64_t, uint32_t*);
  void (*profFnUnwind)(uint32_t, uint32_t);
  void (*profRetBBExecuted)(void);
  void (*profLdstInitglobal)(uint32_t, U64, U64, FILE*, const char*);
  void (*profLdstInitTls)(uint32_t, U64, U64, FILE*, const char*);
  void (*profLdstInitlocals)(U32, U32, uint32_t, U64, U64);
  void (*profLdstStacksave)(void);
  void (*profLdstStackrestore)(void);
  void (*profLdstInitVLA)(uint32_t, U64, U64);
  void (*profLdstInitByvalScope)(void);
  void (*profLdstInitByval)(uint32_t, U64, U64);
  void (*profLdstBlock)(const U8*, U64);
  void (*profLdstVariable)(const U8*);
  void (*profLdstOffset)(const S64);
  void (*profLdstInsertHeapinfo)(const U8*, U64, const U32);
  void (*profLdstReallocHeapinfo)(const U8*, const U8*, U64, const U32);
  void (*profLdstFreeHeap)(U64);
  void (*profTraceBBExecuted)(uint32_t);
  void (*profTracePrintU64)(const U64);
  void (*profTracePrintString)(const U8*);
} ProfilerFunctions;

#ifdef __cplusplus
}
#endif

#endif
