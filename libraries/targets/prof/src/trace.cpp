// Record layouts of a thread's trace. The order of values inside a record is
// the trace format and differs from the parameter order in places (a freed
// block writes its size before its id, a remote access its thread before
// its offset). 32-bit parameters are widened unsigned, never sign-extended.
#include "trace.h"

#include <cstring>

#include "commonProfInclude/bitfields.h"
#include "profiler_state.h"
#include "suspend.h"
#include "thread_profile_utils.h"

using trace_detail::writeRecord;

// Weak: binaries that do not tell stores from loads leave it undefined, and
// its address is then null.
extern "C" __attribute__((weak)) const U8 __PROF_AccessKinds;

bool __PROF_traceAccessKinds() { return &__PROF_AccessKinds != nullptr; }

void __PROF_TRInitTrace(bufferedPrinterStruct_t* printer, Configuration Conf) {
  __PROF_PRINT_ULEB128(printer, cb_version);
  __PROF_PRINT_ULEB128(printer, PROF_TRACE_FORMAT_VERSION);
  __PROF_PRINT_ULEB128(printer, cb_tracemodes);
  // 2: accesses with stores told apart, a form that readers of mode 1
  // refuse at the header rather than misread at the first store tag.
  __PROF_PRINT_ULEB128(printer, Conf.TraceMemoryAccesses ? (__PROF_traceAccessKinds() ? 2 : 1) : 0);
  __PROF_PRINT_ULEB128(printer, Conf.TraceMemoryAllocation ? 1 : 0);
}

void __PROF_TRFunctionVlaInit(bufferedPrinterStruct_t* printer, uint64_t Size) {
  writeRecord(printer, cb_vla_init, Size);
}

void __PROF_TRFunctionExitWithReturn(bufferedPrinterStruct_t* printer, U64 returnValue) {
  writeRecord(printer, cb_fexit_with_return_value, returnValue);
}

void __PROF_TRFunctionExitUnwind(bufferedPrinterStruct_t* printer) { writeRecord(printer, cb_unwind); }

void __PROF_TRFunctionExitUnwindStop(bufferedPrinterStruct_t* printer, U32 UnwindLoc) {
  writeRecord(printer, cb_unwindstop, UnwindLoc);
}

void __PROF_TRRemoteAccess(bufferedPrinterStruct_t* printer, U64 varUid, U64 fnUid, U64 offset,
                           U32 thread_to) {
  writeRecord(printer, memadr_remote, varUid, fnUid, thread_to, offset);
}

void __PROF_TRMemAlloc(bufferedPrinterStruct_t* printer, U64 UID, U64 size, U64 adr) {
  writeRecord(printer, cb_heapalloc, UID, size, adr);
}

void __PROF_TRMemRealloc(bufferedPrinterStruct_t* printer, U64 UID, U64 new_size, U64 adr) {
  writeRecord(printer, cb_heaprealloc, UID, new_size, adr);
}

void __PROF_TRMemFree(bufferedPrinterStruct_t* printer, U64 UID, U64 size) {
  writeRecord(printer, cb_heapfree, size, UID);
}

void __PROF_TRPthreadCreate(bufferedPrinterStruct_t* printer, U32 thread_id) {
  writeRecord(printer, cb_thread_create, thread_id);
}

void __PROF_TRPthreadJoin(bufferedPrinterStruct_t* printer, U32 joinedThreadId) {
  writeRecord(printer, cb_thread_join, joinedThreadId);
}

void __PROF_TRPrintArray(bufferedPrinterStruct_t* printer, const U8* var, size_t len) {
  PrinterLock lock(printer);
  __PROF_PRINT_ULEB128(printer, len);
  __PROF_print_array(printer, var, len);
}

void __PROF_TRPrintS64(bufferedPrinterStruct_t* printer, S64 value) {
  PrinterLock lock(printer);
  __PROF_PRINT_SLEB128(printer, value);
}

// ---- Untagged values asked for by instrumented code ----

void __PROF_TRPrintString(const U8* str) {
  if (traceSuspendedOnThisThread()) return;
  const size_t length = strlen(reinterpret_cast<const char*>(str));
  if (bufferedPrinterStruct_t* printer = __PROF_printerOfCallingThread()) __PROF_TRPrintArray(printer, str, length);
}

void __PROF_TRPrintU64(const U64 value) {
  if (traceSuspendedOnThisThread()) return;
  bufferedPrinterStruct_t* printer = __PROF_printerOfCallingThread();
  if (printer == nullptr) return;
  PrinterLock lock(printer);
  __PROF_PRINT_ULEB128(printer, value);
}
