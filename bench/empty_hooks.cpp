// Every hook and wrapper of the runtime with nothing behind it: hooks return
// at once, wrappers only call the library function they stand for. Linked
// into the same sources instead of the runtime, it gives the cost of the
// simulation itself plus the bare calls of its instrumentation, the
// reference of the whole-process comparison.
#include <fcntl.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <new>

#include "prof/Wrappers.h"
#include "prof/proflibAPI.h"

extern "C" {
void* xmalloc(size_t) __attribute__((weak));
void* tpk_alloc(size_t) __attribute__((weak));
void tpk_free(void*) __attribute__((weak));

PROF_API Configuration __PROF_Configuration;
PROF_API int nuq_profiler_debug = 0;

void __PROF_PerSharedObjectInit(int, char**, const char*, const InstrumentationConfig*, void (*)(void),
                                void (*)(FILE*, const char*), void (*)(FILE*, const char*)) {}
void __PROF_FNInitializeFuncStruct(uint32_t, uint64_t, const char*) {}
void __PROF_FNProcessFunctionEntry(uint8_t, uint64_t, uint32_t) {}
void __PROF_FNProcessFunctionExit(void) {}
void __PROF_FNProcessFunctionExitWithReturnValue(uint64_t) {}
uint32_t __PROF_FNProcessFunctionStart(uint64_t, uint64_t, uint32_t* FrameId) {
  *FrameId = 1;
  return 0;
}
void __PROF_FNProcessFunctionUnwind(uint32_t, uint32_t) {}
void __PROF_UpdateRetBBCount(void) {}
void __PROF_LSInitGlobalInfo(uint32_t, U64, U64, FILE*, const char*) {}
void __PROF_LSInitTLS(uint32_t, U64, U64, FILE*, const char*) {}
void __PROF_LSInitLocalInfo(U32, U32, uint32_t, U64, U64) {}
void __PROF_LSStackSave(void) {}
void __PROF_LSStackRestore(void) {}
void __PROF_LSInitVla(uint32_t, U64, U64) {}
void __PROF_LSInitByvalScope(void) {}
void __PROF_LSInitByval(uint32_t, U64, U64) {}
void __PROF_LSBlock(const U8*, U64) {}
void __PROF_LSVariable(const U8*) {}
void __PROF_LSOffset(const S64) {}
void __PROF_LSInsertHeapInfo(const U8*, U64, const U32) {}
void __PROF_LSReallocHeapInfo(const U8*, const U8*, U64, const U32) {}
void __PROF_LSFreeHeap(U64) {}
void __PROF_TRBasicBlockEntry(uint32_t) {}
void __PROF_TRPrintU64(const U64) {}
void __PROF_TRPrintString(const U8*) {}
uint32_t __PROF_getCalleeUID(void) { return 0; }
uint32_t __PROF_FNCurrentFrameId(void) { return 0; }
// No run directory: the stream model then writes no statistics file.
const char* __PROF_getRunDirectory(void) { return nullptr; }
uint32_t __PROF_getThreadNumber(void) { return 4294967295u; }
void __PROF_FinalizeInstrumentationAll(void) {}
void* __PROF_trace_suspend(void) { return nullptr; }
void __PROF_trace_resume(void) {}
void __PROF_trace_resume_thread(void*) {}
int __PROF_is_trace_suspended(void) { return 0; }

void* __PROF__Znwm(size_t size) { return ::operator new(size); }
void* __PROF__Znam(size_t size) { return ::operator new[](size); }
void __PROF__ZdlPv(void* p) { ::operator delete(p); }
void __PROF__ZdaPv(void* p) { ::operator delete[](p); }
void* __PROF_Malloc(size_t size) { return malloc(size); }
void* __PROF_Valloc(size_t size) { return valloc(size); }
void* __PROF_PValloc(size_t size) { return pvalloc(size); }
pid_t __PROF_Fork(void) { return fork(); }
void* __PROF_Calloc(size_t n, size_t size) { return calloc(n, size); }
void* __PROF_Realloc(void* p, size_t size) { return realloc(p, size); }
void __PROF_Free(void* p) { free(p); }
char* __PROF_strdup(const char* s) { return strdup(s); }
char* __PROF_strndup(const char* s, size_t n) { return strndup(s, n); }
void __PROF_Exit(int code) { exit(code); }
void __PROF_Abort(void) { abort(); }
size_t __PROF_Fread(void* p, size_t size, size_t count, FILE* f) { return fread(p, size, count, f); }
size_t __PROF_Fwrite(void* p, size_t size, size_t count, FILE* f) { return fwrite(p, size, count, f); }
prof_sighandler_t __PROF_Signal(int signum, prof_sighandler_t handler) { return signal(signum, handler); }
prof_sighandler_t __PROF___sysv_Signal(int signum, prof_sighandler_t handler) { return signal(signum, handler); }
int __PROF_Sigaction(int signum, const struct sigaction* act, struct sigaction* old) {
  return sigaction(signum, act, old);
}
void* __PROF_Xmalloc(size_t size) { return xmalloc != nullptr ? xmalloc(size) : (abort(), nullptr); }
void* __PROF_spec_Xmalloc(U32 size) { return __PROF_Xmalloc(size); }
void* __PROF_gcc_Xmalloc(U32 size) { return __PROF_Xmalloc(size); }
void* __PROF_memalign(size_t boundary, size_t size) { return memalign(boundary, size); }
int __PROF_posix_memalign(void** p, size_t alignment, size_t size) { return posix_memalign(p, alignment, size); }
void* __PROF_Mmap(void* a, size_t l, int prot, int flags, int fd, off_t off) { return mmap(a, l, prot, flags, fd, off); }
void* __PROF_Mmap64(void* a, size_t l, int prot, int flags, int fd, uint64_t off) {
  return mmap64(a, l, prot, flags, fd, static_cast<off64_t>(off));
}
int __PROF_Munmap(void* a, size_t l) { return munmap(a, l); }
void* __PROF_Sem_open(const char* name, int oflag, ...) {
  if ((oflag & O_CREAT) == 0) return sem_open(name, oflag);
  va_list args;
  va_start(args, oflag);
  const mode_t mode = va_arg(args, mode_t);
  const unsigned value = va_arg(args, unsigned);
  va_end(args);
  return sem_open(name, oflag, mode, value);
}
void* __PROF_TPKalloc(size_t size) { return tpk_alloc != nullptr ? tpk_alloc(size) : (abort(), nullptr); }
void __PROF_TPKfree(void* p) {
  if (tpk_free != nullptr) tpk_free(p);
}
int __PROF_pthread_create(pthread_t* t, const pthread_attr_t* attr, void* (*start)(void*), void* arg) {
  return pthread_create(t, attr, start, arg);
}
int __PROF_pthread_join(pthread_t t, void** ret) { return pthread_join(t, ret); }
int __PROF_pthread_setname_np(pthread_t t, const char* name) { return pthread_setname_np(t, name); }
}
