/* Trace record tags and memory-access codes. The numbers are the trace
 * format: readers decode them, so they never change. Compiles as C and C++. */
#ifndef COMMONPROFINCLUDE_BITFIELDS_H
#define COMMONPROFINCLUDE_BITFIELDS_H

/* Event tags are even; an odd first value is a basic-block entry. */
enum cb_tag {
  cb_fentry = 0,
  cb_basicblock = 1,
  cb_fexit = 2,
  cb_memaccess = 4,
  cb_heapalloc = 6,
  cb_heaprealloc = 8,
  cb_heapfree = 10,
  cb_thread_create = 12,
  cb_thread_join = 14,
  cb_unwind = 18,
  cb_unwindstop = 20,
  cb_vla_init = 22,
  cb_version = 24,
  cb_tracemodes = 26,
  cb_stacksave = 28,
  cb_stackrestore = 30,
  cb_indirect_local = 32,
  cb_indirect_global = 34,
  cb_indirect_arg = 36,
  cb_indirect_heap = 38,
  cb_fexit_with_return_value = 40,
  cb_unwindloc = 42,
  cb_symbolicdefine = 44,
  cb_symboliccopy = 46,
  cb_iterate = 48,
  /* Precedes the access record of a store in traces whose access mode is
   * 2 (loads and stores told apart); never written otherwise. */
  cb_store = 50
};

/* First value of a memory-access record. 0 to 2 are never written. */
enum memadr_kind {
  memadr_block = 0,
  memadr_dynamic = 1,
  memadr_symbolic = 2,
  memadr_local = 3,
  memadr_global = 4,
  memadr_arg = 5,
  memadr_heap = 6,
  memadr_remote = 7
};

/* Version written into every trace header. */
#define PROF_TRACE_FORMAT_VERSION 5

#endif
