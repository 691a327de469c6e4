/* Opaque name of a thread's profiler state. Compiles as C and as C++. */
#ifndef PROF_GPROFILERSTATE_FWD_H
#define PROF_GPROFILERSTATE_FWD_H

typedef struct GProfilerState_s GProfilerState_t;

#endif
