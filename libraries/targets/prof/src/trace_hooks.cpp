// The two hooks through which instrumented code writes untagged values
// into its own trace: an unsigned number and a string.
#include <cstring>

#include "bufferedPrinter.h"
#include "globals.h"
#include "profiler_state.h"
#include "suspend.h"
#include "thread_profile_utils.h"
#include "trace.h"

namespace {

bufferedPrinterStruct_t* printerOfCallingThread() {
  const GProfilerState_t* state = __PROF_thread_profile_GetProfileInfo()->prof_state;
  return state == nullptr ? nullptr : state->TraceBuffPrinterPtr;
}

}  // namespace

void __PROF_TRPrintString(const U8* str) {
  if (traceSuspendedOnThisThread()) return;
  const size_t length = strlen(reinterpret_cast<const char*>(str));
  if (bufferedPrinterStruct_t* printer = printerOfCallingThread()) __PROF_TRPrintArray(printer, str, length);
}

void __PROF_TRPrintU64(const U64 value) {
  if (traceSuspendedOnThisThread()) return;
  bufferedPrinterStruct_t* printer = printerOfCallingThread();
  if (printer == nullptr) return;
  MutexGuard lock(&printer->mutex);
  __PROF_PRINT_ULEB128(printer, value);
}
