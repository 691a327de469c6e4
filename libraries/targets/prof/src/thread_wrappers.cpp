// Thread creation, join and naming. A new thread gets its profiler number
// in the creating thread, and its profile is defined before it runs any
// user code, so creation records and trace file names agree. The thread
// library does the real work; its results are passed back unchanged. The
// table lock is never held across a call of the thread library.
#include <errno.h>
#include <pthread.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "thread_wrappers.h"

#include "bufferedPrinter.h"
#include "commonProfInclude/TracingConstants.h"
#include "globals.h"
#include "profiler_state.h"
#include "prof/Wrappers.h"
#include "suspend.h"
#include "threadIdLookupTable.h"
#include "thread_profile_utils.h"
#include "trace.h"
#include "utils.h"

namespace {

// Hand-over block from the creating thread to the new one.
struct task_argv_t {
  void* (*start_routine)(void*);
  void* arg;
  std::atomic<bool> is_mapping_defined;  // set once the new thread's profile exists
};

void __PROF_wait_until_definition_done(const task_argv_t* argv) {
  // Spins without sleeping: the creator defines the profile right after
  // pthread_create returns. The pause hint keeps the spin cheap for the
  // sibling hardware thread.
  while (!argv->is_mapping_defined.load()) __builtin_ia32_pause();
}

void __PROF_signal_definition_done(task_argv_t* argv) { argv->is_mapping_defined.exchange(true); }

U32 threadNumberOf(pthread_t thread) {
  LookupTreeGuard lock;
  return __PROF_get_or_create_ThreadInfo_from_PTID(thread, false)->thread_id;
}

}  // namespace

extern "C" void* __PROF_pthread_create_wrapper_task(void* argv) {
  int oldstate;
  pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &oldstate);
  auto* task = static_cast<task_argv_t*>(argv);
  void* (*start_routine)(void*) = task->start_routine;
  void* arg = task->arg;
  __PROF_wait_until_definition_done(task);
  task->~task_argv_t();
  free(task);
  pthread_setcancelstate(oldstate, nullptr);
  return start_routine(arg);
}

int __PROF_handle_pthread_create(pthread_t* newthread, const pthread_attr_t* attr, void* (*start_routine)(void*),
                                 void* arg) {
  if (traceSuspendedOnThisThread()) return pthread_create(newthread, attr, start_routine, arg);
  auto* task = new (ProfMalloc(sizeof(task_argv_t))) task_argv_t{start_routine, arg, {false}};
  const U32 number = __PROF_thread_profile_get_new_thread_id();
  task->is_mapping_defined.exchange(false);

  pthread_t ptid;
  const int result = pthread_create(&ptid, attr, __PROF_pthread_create_wrapper_task, task);
  if (result != 0) {
    task->~task_argv_t();
    free(task);
    return result;  // the number stays spent
  }
  {
    LookupTreeGuard lock;
    __PROF_define_PTID_to_ThreadInfo_mapping(ptid, number);
  }
  __PROF_signal_definition_done(task);
  if (bufferedPrinterStruct_t* printer = __PROF_printerOfCallingThread()) __PROF_TRPthreadCreate(printer, number);
  if (newthread != nullptr) *newthread = ptid;
  return 0;
}

int __PROF_pthread_create(pthread_t* newthread, const pthread_attr_t* attr, void* (*start_routine)(void*),
                          void* arg) {
  __PROF_LSBlock(reinterpret_cast<const U8*>(newthread), 8);
  return __PROF_handle_pthread_create(newthread, attr, start_routine, arg);
}

int __PROF_handle_pthread_join(pthread_t thread, void** retval) {
  if (traceSuspendedOnThisThread()) return pthread_join(thread, retval);
  const U32 number = threadNumberOf(thread);
  const int result = pthread_join(thread, retval);
  if (result != 0) return result;
  {
    LookupTreeGuard lock;
    __PROF_remove_PTID_to_ThreadInfo_mapping(thread, number);
  }
  if (bufferedPrinterStruct_t* printer = __PROF_printerOfCallingThread()) __PROF_TRPthreadJoin(printer, number);
  return 0;
}

int __PROF_pthread_join(pthread_t thread, void** retval) { return __PROF_handle_pthread_join(thread, retval); }

void __PROF_handle_pthread_setname_np(pthread_t thread, const char* name) {
  if (traceSuspendedOnThisThread()) return;
  bufferedPrinterStruct_t* printer = __PROF_printerOfCallingThread();
  if (name == nullptr) {
    if (printer == nullptr) return;
    PrinterLock lock(printer);
    __PROF_PRINT_ULEB128(printer, ThreadId_Invalid_);
    return;
  }
  const U32 number = threadNumberOf(thread);
  const size_t length = strlen(name);
  if (printer == nullptr) return;
  PrinterLock lock(printer);
  __PROF_PRINT_ULEB128(printer, number);
  __PROF_PRINT_ULEB128(printer, length);
  __PROF_print_array(printer, reinterpret_cast<const U8*>(name), length);
}

int __PROF_pthread_setname_np(pthread_t thread, const char* name) {
  __PROF_handle_pthread_setname_np(thread, name);
  // The thread library takes the name's length unchecked; a null name is
  // refused here instead of ending the process.
  if (name == nullptr) return EINVAL;
  return pthread_setname_np(thread, name);
}
