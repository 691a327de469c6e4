// The trace record emitters: each writes one record of a thread's trace as a
// fixed sequence of LEB128 values and raw bytes through the thread's printer
// (bufferedPrinter.h). They decide nothing (suspension, trace modes and a
// missing printer are the callers' tests) and every one but the header
// writer holds the printer's mutex for the whole record, so a close by the
// finalising thread falls between records, never inside one. Tags and access
// codes come from commonProfInclude/bitfields.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bufferedPrinter.h"
#include "commonProfInclude/bitfields.h"
#include "commonProfInclude/common.h"
#include "prof/proflibAPI.h"

namespace trace_detail {
// Writes the values of one record as ULEB128 under the printer's lock.
// Inline, with the records of every call and access below: these run at
// each traced event and are a handful of stores between lock and unlock.
template <typename... Values>
inline void writeRecord(bufferedPrinterStruct_t* printer, Values... values) {
  PrinterLock lock(printer);
  (__PROF_PRINT_ULEB128(printer, static_cast<U64>(values)), ...);
}
}  // namespace trace_detail

// Whether the binary tells stores from loads: it then defines the marker
// __PROF_AccessKinds (the compiler plugin does so under its access-kinds
// option), its traces' access mode is 2 and stores carry the store tag.
bool __PROF_traceAccessKinds();

// Header: version record and trace-mode record. Written right after the
// printer is created, before any other thread can know it, so unlocked.
void __PROF_TRInitTrace(bufferedPrinterStruct_t* printer, Configuration Conf);

// Function events.
inline void __PROF_TRFunctionEntry(bufferedPrinterStruct_t* printer, U32 Caller, U32 FunctionId) {
  trace_detail::writeRecord(printer, cb_fentry, FunctionId, Caller);
}
void __PROF_TRFunctionVlaInit(bufferedPrinterStruct_t* printer, uint64_t Size);
inline void __PROF_TRFunctionExit(bufferedPrinterStruct_t* printer) { trace_detail::writeRecord(printer, cb_fexit); }
void __PROF_TRFunctionExitWithReturn(bufferedPrinterStruct_t* printer, U64 returnValue);
void __PROF_TRFunctionExitUnwind(bufferedPrinterStruct_t* printer);
void __PROF_TRFunctionExitUnwindStop(bufferedPrinterStruct_t* printer, U32 UnwindLoc);

// Memory accesses; the first value is the access code, not an event tag.
inline void __PROF_TRLocalAccess(bufferedPrinterStruct_t* printer, U64 varUid, U64 offset) {
  trace_detail::writeRecord(printer, memadr_local, varUid, offset);
}
inline void __PROF_TRGlobalAccess(bufferedPrinterStruct_t* printer, U64 varUid, U64 offset) {
  trace_detail::writeRecord(printer, memadr_global, varUid, offset);
}
inline void __PROF_TRArgAccess(bufferedPrinterStruct_t* printer, U64 varUid, uint32_t FrameId, U64 offset) {
  trace_detail::writeRecord(printer, memadr_arg, varUid, FrameId, offset);
}
void __PROF_TRRemoteAccess(bufferedPrinterStruct_t* printer, U64 varUid, U64 fnUid, U64 offset,
                           U32 thread_to);
inline void __PROF_TRHeapAccess(bufferedPrinterStruct_t* printer, U64 varUid, U64 offset) {
  trace_detail::writeRecord(printer, memadr_heap, varUid, offset);
}

// Heap blocks.
void __PROF_TRMemAlloc(bufferedPrinterStruct_t* printer, U64 UID, U64 size, U64 adr);
void __PROF_TRMemRealloc(bufferedPrinterStruct_t* printer, U64 UID, U64 new_size, U64 adr);
void __PROF_TRMemFree(bufferedPrinterStruct_t* printer, U64 UID, U64 size);

// Threads, by the profiler's own thread numbers.
void __PROF_TRPthreadCreate(bufferedPrinterStruct_t* printer, U32 thread_id);
void __PROF_TRPthreadJoin(bufferedPrinterStruct_t* printer, U32 joinedThreadId);

// Untagged values: a length-prefixed byte array, and a signed value.
void __PROF_TRPrintArray(bufferedPrinterStruct_t* printer, const U8* var, size_t len);
void __PROF_TRPrintS64(bufferedPrinterStruct_t* printer, S64 value);
