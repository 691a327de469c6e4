/* Wrappers that instrumented code calls instead of library functions. Each
 * has the signature of the function it replaces, calls it, reports to the
 * profiler what happened (heap blocks, memory the library touched, threads,
 * signal handlers) and returns the library's result unchanged. Callable
 * from any thread; none throws except the operator new wrappers, which pass
 * the allocation failure on to their caller. Compiles as C and as C++. */
#ifndef PROF_WRAPPERS_H
#define PROF_WRAPPERS_H

#include <pthread.h>
#include <signal.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/types.h>

#include "commonProfInclude/common.h"
#include "prof/proflibAPI.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*prof_sighandler_t)(int);
/* Declared by <signal.h> only with POSIX features enabled. */
struct sigaction;

/* operator new / new[] / delete / delete[]. */
PROF_API void* __PROF__Znwm(size_t size);
PROF_API void* __PROF__Znam(size_t size);
PROF_API void __PROF__ZdlPv(void* freeme);
PROF_API void __PROF__ZdaPv(void* freeme);

PROF_API void* __PROF_Malloc(size_t size);
PROF_API void* __PROF_Valloc(size_t size);
PROF_API void* __PROF_PValloc(size_t size);
/* Refuses process creation: prints the refusal and exits with status 1. */
PROF_API pid_t __PROF_Fork(void);
PROF_API void* __PROF_Calloc(size_t num_elem, size_t size);
PROF_API void* __PROF_Realloc(void* ptr, size_t new_size);
PROF_API void __PROF_Free(void* freeme);
PROF_API char* __PROF_strdup(const char* s);
PROF_API char* __PROF_strndup(const char* s, size_t n);
PROF_API void __PROF_Exit(int exit_code) __attribute__((noreturn));
PROF_API void __PROF_Abort(void) __attribute__((noreturn));
PROF_API size_t __PROF_Fread(void* ptr, size_t size, size_t count, FILE* stream);
PROF_API size_t __PROF_Fwrite(void* ptr, size_t size, size_t count, FILE* stream);
PROF_API prof_sighandler_t __PROF_Signal(int signum, prof_sighandler_t handler);
PROF_API prof_sighandler_t __PROF___sysv_Signal(int signum, prof_sighandler_t handler);
PROF_API int __PROF_Sigaction(int signum, const struct sigaction* act, struct sigaction* oldact);
PROF_API void* __PROF_Xmalloc(size_t size);
PROF_API void* __PROF_spec_Xmalloc(U32 size);
PROF_API void* __PROF_gcc_Xmalloc(U32 size);
PROF_API void* __PROF_memalign(size_t boundary, size_t size);
PROF_API int __PROF_posix_memalign(void** memptr, size_t alignment, size_t size);
PROF_API void* __PROF_Mmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset);
PROF_API void* __PROF_Mmap64(void* addr, size_t length, int prot, int flags, int fd,
                             uint64_t offset);
PROF_API int __PROF_Munmap(void* addr, size_t len);
PROF_API void* __PROF_Sem_open(const char* name, int oflag, ...);
PROF_API void* __PROF_TPKalloc(size_t size);
PROF_API void __PROF_TPKfree(void* memptr);
PROF_API int __PROF_pthread_create(pthread_t* newthread, const pthread_attr_t* attr,
                                   void* (*start_routine)(void*), void* arg);
PROF_API int __PROF_pthread_join(pthread_t thread, void** retval);
PROF_API int __PROF_pthread_setname_np(pthread_t thread, const char* name);
/* Stream operations with their memory reports (handle is HlsStream**). */
PROF_API void __PROF_nuq_hls_stream_blocking_write(void* handle, const void* Data,
                                                   uint32_t DataSize);
PROF_API int __PROF_nuq_hls_stream_blocking_read(void* handle, void* Data, uint32_t DataSize);

/* The table of every wrapper, in its fixed slot order; the stub keeps one
 * instance so that every wrapper is linked into the executable. */
typedef struct ProfCStdWrappers {
  void* (*new_)(size_t);
  void* (*new_array)(size_t);
  void (*_ZdlPv)(void*);
  void (*_ZdaPv)(void*);
  void* (*malloc)(size_t);
  void* (*valloc)(size_t);
  void* (*pvalloc)(size_t);
  pid_t (*fork)(void);
  void* (*calloc)(size_t, size_t);
  void* (*realloc)(void*, size_t);
  void (*free)(void*);
  char* (*strdup)(const char*);
  char* (*strndup)(const char*, size_t);
  void (*exit)(int);
  void (*abort)(void);
  size_t (*fread)(void*, size_t, size_t, FILE*);
  size_t (*fwrite)(void*, size_t, size_t, FILE*);
  prof_sighandler_t (*signal)(int, prof_sighandler_t);
  prof_sighandler_t (*__sysv_signal)(int, prof_sighandler_t);
  int (*sigaction)(int, const struct sigaction*, struct sigaction*);
  void* (*spec_xmalloc)(U32);
  void* (*gcc_xmalloc)(U32);
  void* (*memalign)(size_t, size_t);
  int (*posix_memalign)(void**, size_t, size_t);
  void* (*mmap)(void*, size_t, int, int, int, off_t);
  void* (*mmap64)(void*, size_t, int, int, int, uint64_t);
  int (*munmap)(void*, size_t);
  void* (*sem_open)(const char*, int, ...);
  void* (*tpk_alloc)(size_t);
  void (*tpk_free)(void*);
  int (*pthread_create)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
  int (*pthread_join)(pthread_t, void**);
  int (*pthread_setname_np)(pthread_t, const char*);
  void (*nuq_hls_stream_blocking_write)(void*, const void*, uint32_t);
  int (*nuq_hls_stream_blocking_read)(void*, void*, uint32_t);
} ProfCStdWrappers;

#ifdef __cplusplus
}
#endif

#endif
