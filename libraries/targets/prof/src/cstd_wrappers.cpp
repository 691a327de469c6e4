// Allocation, process and I/O wrappers. Each calls the library first, then
// reports what happened; a block that the library call releases or moves
// leaves the heap registry before the call, while its address is still
// ours (a failed munmap or realloc puts it back).
// Whether a report is recorded is decided by the hooks they call.
#include <fcntl.h>
#include <malloc.h>
#include <pthread.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <new>

#include "crash.h"
#include "prof/Wrappers.h"
#include "ls_profile.h"
#include "suspend.h"
#include "utils.h"

// Functions of the instrumented application, not of libc: referred to
// weakly so that a program that does not provide them still links.
extern "C" void* xmalloc(size_t) __attribute__((weak));
extern "C" void* tpk_alloc(size_t) __attribute__((weak));
extern "C" void tpk_free(void*) __attribute__((weak));

namespace {

// The function current on the caller's virtual stack. Skipped while the
// thread is suspended: the report is dropped then anyway, and asking would
// create a profile for a thread that must not trace.
inline U32 allocatingFunction() { return traceSuspendedOnThisThread() ? 0 : __PROF_getCalleeUID(); }

inline void reportAllocation(const void* block, U64 size) {
  __PROF_LSInsertHeapInfo(static_cast<const U8*>(block), size, allocatingFunction());
}

inline void reportRelease(const void* block) { __PROF_LSFreeHeap(reinterpret_cast<U64>(block)); }

template <typename Fn>
Fn requireApplicationFunction(Fn fn, const char* name) {
  if (fn == nullptr)
    __PROF_fatal_exit("spec:0:0: error: [WRAPPERS] '%s' is called but the application does not provide it\n", name);
  return fn;
}

}  // namespace

void* __PROF__Znwm(size_t size) {
  void* block = ::operator new(size);  // throws std::bad_alloc to the caller
  reportAllocation(block, size);
  return block;
}

void* __PROF__Znam(size_t size) {
  void* block = ::operator new[](size);
  reportAllocation(block, size);
  return block;
}

void __PROF__ZdlPv(void* freeme) {
  reportRelease(freeme);
  ::operator delete(freeme);
}

void __PROF__ZdaPv(void* freeme) {
  reportRelease(freeme);
  ::operator delete[](freeme);
}

void* __PROF_Malloc(size_t size) {
  void* block = malloc(size);
  if (block != nullptr) reportAllocation(block, size);
  return block;
}

void* __PROF_Valloc(size_t size) {
  void* block = valloc(size);
  if (block != nullptr) reportAllocation(block, size);
  return block;
}

void* __PROF_PValloc(size_t size) {
  void* block = pvalloc(size);
  if (block == nullptr) return nullptr;
  const size_t page = static_cast<size_t>(getpagesize());
  // pvalloc hands out whole pages; the block is what it provides.
  const size_t provided = (size % page == 0) ? size : (size & -page) + page;
  reportAllocation(block, provided);
  return block;
}

pid_t __PROF_Fork(void) {
  fputs("nuq:0:0: error: fork()/vfork() are not supported by NUQ, exiting.\n", stderr);
  exit(1);  // exit handlers finish every trace
}

void* __PROF_Calloc(size_t num_elem, size_t size) {
  void* block = calloc(num_elem, size);
  if (block != nullptr) reportAllocation(block, static_cast<U64>(num_elem) * size);
  return block;
}

void* __PROF_Realloc(void* ptr, size_t new_size) {
  if (ptr == nullptr) return __PROF_Malloc(new_size);
  if (new_size == 0) {
    // realloc(p, 0) releases p: report it while p is still ours, or the
    // freed block would stay registered and mis-attribute later accesses.
    reportRelease(ptr);
    void* block = realloc(ptr, 0);
    if (block != nullptr) reportAllocation(block, 0);
    return block;
  }
  // Out of the registry before the library may give ptr's address to
  // another thread, whose allocation there must not find this block.
  const U64 oldAddress = reinterpret_cast<U64>(ptr);
  HeapVariable* detached = __PROF_LSDetachHeapBlock(oldAddress);
  void* block = realloc(ptr, new_size);
  if (block == nullptr) {
    __PROF_LSRestoreHeapBlock(detached);  // ptr is still the caller's
    return nullptr;
  }
  __PROF_LSMoveDetachedHeapBlock(detached, oldAddress, static_cast<const U8*>(block), new_size,
                                 allocatingFunction());
  return block;
}

void __PROF_Free(void* freeme) {
  if (freeme == nullptr) return;
  reportRelease(freeme);
  free(freeme);
}

char* __PROF_strdup(const char* s) {
  const size_t length = strlen(s) + 1;
  auto* copy = static_cast<char*>(malloc(length));
  if (copy == nullptr) return nullptr;
  reportAllocation(copy, length);
  memcpy(copy, s, length);
  return copy;
}

char* __PROF_strndup(const char* s, size_t n) {
  const size_t length = strnlen(s, n);
  auto* copy = static_cast<char*>(malloc(length + 1));
  if (copy == nullptr) return nullptr;
  reportAllocation(copy, length + 1);
  copy[length] = '\0';
  memcpy(copy, s, length);
  return copy;
}

void __PROF_Exit(int exit_code) { exit(exit_code); }

// abort() gives a handler of the design its chance first and, when that
// handler returns, ends the process by the default action, which the C
// library installs past the signal wrappers. Here that second step goes
// through the crash handler instead, so that the traces are finished before
// the process ends; the library's abort stays the last resort.
void __PROF_Abort(void) {
  if (__PROF_Crash_handlesSignal(SIGABRT)) {
    sigset_t abortOnly;
    sigemptyset(&abortOnly);
    sigaddset(&abortOnly, SIGABRT);
    pthread_sigmask(SIG_UNBLOCK, &abortOnly, nullptr);
    raise(SIGABRT);
    __PROF_Crash_installInsteadOfDefault(SIGABRT, nullptr);
    raise(SIGABRT);
  }
  abort();
}

size_t __PROF_Fread(void* ptr, size_t size, size_t count, FILE* stream) {
  const size_t items = fread(ptr, size, count, stream);
  __PROF_LSBlock(static_cast<const U8*>(ptr), static_cast<U64>(size) * count);
  return items;
}

size_t __PROF_Fwrite(void* ptr, size_t size, size_t count, FILE* stream) {
  const size_t items = fwrite(ptr, size, count, stream);
  __PROF_LSBlock(static_cast<const U8*>(ptr), static_cast<U64>(size) * count);
  return items;
}

void* __PROF_Xmalloc(size_t size) {
  void* block = requireApplicationFunction(xmalloc, "xmalloc")(size);
  if (block != nullptr) reportAllocation(block, size);
  return block;
}

void* __PROF_spec_Xmalloc(U32 size) { return __PROF_Xmalloc(static_cast<size_t>(size)); }

void* __PROF_gcc_Xmalloc(U32 size) { return __PROF_Xmalloc(static_cast<size_t>(size)); }

void* __PROF_memalign(size_t boundary, size_t size) {
  void* block = memalign(boundary, size);
  if (block != nullptr) reportAllocation(block, size);
  return block;
}

int __PROF_posix_memalign(void** memptr, size_t alignment, size_t size) {
  const int result = posix_memalign(memptr, alignment, size);
  if (result == 0) reportAllocation(*memptr, size);
  return result;
}

void* __PROF_Mmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset) {
  void* block = mmap(addr, length, prot, flags, fd, offset);
  if (block != MAP_FAILED) reportAllocation(block, length);
  return block;
}

void* __PROF_Mmap64(void* addr, size_t length, int prot, int flags, int fd, uint64_t offset) {
  void* block = mmap64(addr, length, prot, flags, fd, static_cast<off64_t>(offset));
  if (block != MAP_FAILED) reportAllocation(block, length);
  return block;
}

int __PROF_Munmap(void* addr, size_t len) {
  // Detached first: once unmapped, another thread's mmap may receive addr.
  HeapVariable* detached = __PROF_LSDetachHeapBlock(reinterpret_cast<U64>(addr));
  const int result = munmap(addr, len);
  if (result == 0)
    __PROF_LSReleaseDetachedHeapBlock(detached, reinterpret_cast<U64>(addr));
  else
    __PROF_LSRestoreHeapBlock(detached);
  return result;
}

void* __PROF_Sem_open(const char* name, int oflag, ...) {
  sem_t* sem;
  if ((oflag & O_CREAT) != 0) {
    va_list args;
    va_start(args, oflag);
    const mode_t mode = va_arg(args, mode_t);
    const unsigned int value = va_arg(args, unsigned int);
    va_end(args);
    sem = sem_open(name, oflag, mode, value);
  } else {
    sem = sem_open(name, oflag);
  }
  if (sem != SEM_FAILED) reportAllocation(sem, sizeof(sem_t));
  return sem;
}

void* __PROF_TPKalloc(size_t size) {
  void* block = requireApplicationFunction(tpk_alloc, "tpk_alloc")(size);
  if (block != nullptr) reportAllocation(block, size);
  return block;
}

void __PROF_TPKfree(void* memptr) {
  if (memptr == nullptr) return;
  reportRelease(memptr);
  requireApplicationFunction(tpk_free, "tpk_free")(memptr);
}
