// General helpers of the runtime: the one fatal path, warnings, guarded
// allocation, and the file-system helpers that build the run directory.
// Everything here is internal (hidden); nothing may throw.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <cstdio>

// Formats onto standard error and ends the process with status 1 through
// _exit: no exit handler runs and no stream is flushed, so traces stay
// unfinished. The only function of the runtime that prints and exits.
[[noreturn]] void __PROF_fatal_exit(const char* reason, ...)
    __attribute__((format(printf, 1, 2)));

// Writes "tracing:0:0: warning: " and the formatted text to standard error.
// Callers pass their own line end.
void __PROF_warning(const char* Warning, ...) __attribute__((format(printf, 1, 2)));

// malloc/calloc/realloc that never return null: exhaustion is fatal.
void* ProfMalloc(size_t size);
void* ProfCalloc(size_t nmemb, size_t size);
void* ProfRealloc(void* oldptr, size_t size);

// Typed convenience over ProfMalloc for the runtime's plain records.
template <typename T>
inline T* ProfAlloc() {
  return static_cast<T*>(ProfMalloc(sizeof(T)));
}

// RAII guard over the runtime's plain pthread mutexes.
class [[nodiscard]] MutexGuard {
 public:
  explicit MutexGuard(pthread_mutex_t* m) : m_(m) { pthread_mutex_lock(m_); }
  ~MutexGuard() { pthread_mutex_unlock(m_); }
  MutexGuard(const MutexGuard&) = delete;
  MutexGuard& operator=(const MutexGuard&) = delete;

 private:
  pthread_mutex_t* m_;
};

// Creates dir and its parents (mode 0700). Returns 1 when dir is a readable
// directory afterwards, 0 otherwise; a mkdir failure other than EEXIST is fatal.
int __PROF_mkdir_recursive(const char* dir);

// Creates "<inDirectory>/<prefix>_<n>" with n one more than the largest
// number already there. Returns 1 and a heap copy of the path, or 0.
int __PROF_mk_unique_dir(const char* inDirectory, const char* prefix,
                         const char** resultDirectory);

// Opens "<directory>/<filename>"; failure is fatal.
FILE* __PROF_open(const char* directory, const char* filename, const char* mode);

// Writes content (without terminator) into a new file "<directory>/<filename>";
// a failed write or close is fatal.
void __PROF_writeFile(const char* directory, const char* filename, const char* content);

// The manifest is what maps the traces to the program: a run that lost part
// of it must not look like a success. Each of these ends the process with
// the file's path and the system error when the stream has failed.
[[noreturn]] void __PROF_manifestWriteFailed(const char* directory, const char* filename, int error);
// Flushes f and checks that no write to it has failed.
void __PROF_flushChecked(FILE* f, const char* directory, const char* filename);
// Flushes, checks and closes f.
void __PROF_closeChecked(FILE* f, const char* directory, const char* filename);

// The current working directory as a heap string; failure is fatal.
char* __PROF_get_cwd(void);
