// Finalisation: per thread when it ends (open frames become unwind records,
// the trace is finished), once per process at exit (function mapping
// closed, every running thread's trace finished, freed-heap archive
// released).
#pragma once

#include "array.h"
#include "prof/GProfilerState_fwd.h"

void __PROF_FinalizeInstrumentation(GProfilerState_t* gProf);
void __PROF_deleteStatHeapArray(ArrayStruct_t** stat_heap_array_ptr);
// Exit handler registered just ahead of __PROF_FinalizeInstrumentationAll
// (defined with it): returns once that handler has finished, so that a
// second thread calling exit cannot end the process while the traces are
// still being finished.
void __PROF_AwaitFinalizeInstrumentationAll(void);
