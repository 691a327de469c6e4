/* Identifiers that the runtime and the analysis tools share: reserved
 * function ids (the same in every binary), variable ids and thread numbers.
 * Compiles as C and as C++. */
#ifndef COMMONPROFINCLUDE_TRACINGCONSTANTS_H
#define COMMONPROFINCLUDE_TRACINGCONSTANTS_H

enum FunctionId {
  FunctionId_unknown_ = 0,
  FunctionId_KnownFuncBegin_ = 1,
  FunctionId_fread_ = 1,
  FunctionId_fwrite_ = 2,
  FunctionId_pthread_mutex_lock_ = 3,
  FunctionId_pthread_mutex_timedlock_ = 4,
  FunctionId_pthread_rwlock_rdlock_ = 5,
  FunctionId_pthread_rwlock_wrlock_ = 6,
  FunctionId_pthread_rwlock_timedrdlock_ = 7,
  FunctionId_pthread_rwlock_timedwrlock_ = 8,
  FunctionId_pthread_barrier_wait_ = 9,
  FunctionId_pthread_cond_timedwait_ = 10,
  FunctionId_pthread_cond_wait_ = 11,
  FunctionId_pthread_join_ = 12,
  FunctionId_pthread_spin_lock_ = 13,
  FunctionId_pthread_create_ = 14,
  FunctionId_pthread_mutex_unlock_ = 15,
  FunctionId_pthread_cond_signal_ = 16,
  FunctionId_KnownIntrinsicBegin_ = 17,
  FunctionId_memcpy_ = 17,
  FunctionId_memset_ = 18,
  FunctionId_memmove_ = 19,
  FunctionId_fpga_fifo_pop_ = 20,
  FunctionId_fpga_fifo_push_ = 21,
  FunctionId_KnownIntrinsicEnd_ = 22,
  FunctionId_shm_open_ = 23,
  FunctionId_sem_open_ = 24,
  FunctionId_mmap_ = 25,
  FunctionId_mmap64_ = 26,
  FunctionId_close_ = 27,
  FunctionId_pthread_setname_np_ = 28,
  FunctionId_startupCode_ = 29,
  FunctionId_FirstAvailable_ = 200
};

enum VariableId {
  VariableId_unknown_ = 0,
  VariableId_FirstAvailable_ = 1,
  VariableId_SubObject_ = 2
};

/* Thread numbers are 32-bit; the invalid number marks "no thread" in the
 * untagged thread-name value of a trace. */
#define ThreadId_FirstAvailable_ 0u
#define ThreadId_Invalid_ 4294967295u

#endif
