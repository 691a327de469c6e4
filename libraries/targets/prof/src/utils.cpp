// General helpers: fatal exit, warnings, guarded allocation and the
// file-system steps that create the numbered run directory.
#include "utils.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

void __PROF_fatal_exit(const char* reason, ...) {
  va_list args;
  va_start(args, reason);
  vfprintf(stderr, reason, args);
  va_end(args);
  _exit(1);
}

void __PROF_warning(const char* Warning, ...) {
  fputs("tracing:0:0: warning: ", stderr);
  va_list args;
  va_start(args, Warning);
  vfprintf(stderr, Warning, args);
  va_end(args);
}

void* ProfMalloc(size_t size) {
  void* p = malloc(size);
  if (p == nullptr) __PROF_fatal_exit("spec:0:0: error: [ProfMalloc] Out of memory. Exiting ...\n");
  return p;
}

void* ProfCalloc(size_t nmemb, size_t size) {
  void* p = calloc(nmemb, size);
  if (p == nullptr) __PROF_fatal_exit("spec:0:0: error: [ProfCalloc] Out of memory. Exiting ...\n");
  return p;
}

void* ProfRealloc(void* oldptr, size_t size) {
  void* p = realloc(oldptr, size);
  if (p == nullptr) __PROF_fatal_exit("spec:0:0: error: [ProfRealloc] Out of memory. Exiting ...\n");
  return p;
}

namespace {

[[noreturn]] void mkdirFailed(const char* path) {
  perror("mkdir failed: ");
  __PROF_fatal_exit("spec:0:0: error: [TRACE] Could not create directory '%s'\n", path);
}

// mkdir that accepts an existing entry; any other failure is fatal.
void mkdirAcceptExisting(const char* path) {
  if (mkdir(path, 0700) != 0) {
    if (errno != EEXIST) mkdirFailed(path);
    errno = 0;
  }
}

bool isReadableDirectory(const char* dir) {
  DIR* d = opendir(dir);
  if (d == nullptr) return false;
  closedir(d);
  return true;
}

// Parses the number behind "<prefix>_" of a directory entry. Only plain
// non-negative decimal numbers that fill the rest of the name count.
bool parseRunNumber(const char* text, unsigned long* value) {
  errno = 0;
  char* end = nullptr;
  long v = strtol(text, &end, 10);
  if (v < 0 || errno != 0 || *end != '\0') {
    errno = 0;
    return false;
  }
  *value = static_cast<unsigned long>(v);
  return true;
}

}  // namespace

int __PROF_mkdir_recursive(const char* dir) {
  size_t len = strlen(dir);
  char copy[len + 1];
  memcpy(copy, dir, len + 1);
  if (len > 0 && copy[len - 1] == '/') copy[--len] = '\0';

  for (size_t i = (copy[0] == '/') ? 1 : 0; i < len; ++i) {
    if (copy[i] != '/') continue;
    copy[i] = '\0';
    mkdirAcceptExisting(copy);
    copy[i] = '/';
  }
  if (len > 0) mkdirAcceptExisting(copy);
  return isReadableDirectory(dir) ? 1 : 0;
}

int __PROF_mk_unique_dir(const char* inDirectory, const char* prefix,
                         const char** resultDirectory) {
  if (__PROF_mkdir_recursive(inDirectory) == 0) return 0;

  const size_t prefixLength = strlen(prefix);
  const int baseLength = snprintf(nullptr, 0, "%s/%s_", inDirectory, prefix);
  const size_t bufferLength = static_cast<size_t>(baseLength) + 10 + 1;
  char name[bufferLength];
  snprintf(name, bufferLength, "%s/%s_", inDirectory, prefix);
  errno = 0;

  uint32_t suffix = 0;
  bool alreadyTried = false;
  for (;;) {
    const uint32_t prevSuffix = suffix;
    DIR* d = opendir(inDirectory);
    if (d == nullptr) return 0;
    while (const struct dirent* entry = readdir(d)) {
      const char* entryName = entry->d_name;
      if (strncmp(entryName, prefix, prefixLength) != 0 || entryName[prefixLength] != '_') continue;
      unsigned long value = 0;
      if (!parseRunNumber(entryName + prefixLength + 1, &value)) continue;
      const uint32_t next = static_cast<uint32_t>(value + 1);
      if (next > suffix) suffix = next;
    }
    closedir(d);

    snprintf(name + baseLength, bufferLength - baseLength, "%u", suffix);
    if (mkdir(name, 0700) == 0) {
      *resultDirectory = strdup(name);
      if (*resultDirectory == nullptr) __PROF_fatal_exit("spec:0:0: error: [ProfMalloc] Out of memory. Exiting ...\n");
      return 1;
    }
    if (errno != EEXIST) mkdirFailed(name);
    errno = 0;
    if (alreadyTried && prevSuffix == suffix) return 0;
    alreadyTried = true;
  }
}

FILE* __PROF_open(const char* directory, const char* filename, const char* mode) {
  const int length = snprintf(nullptr, 0, "%s/%s", directory, filename);
  char path[length + 1];
  snprintf(path, sizeof path, "%s/%s", directory, filename);
  FILE* f = fopen(path, mode);
  if (f == nullptr)
    __PROF_fatal_exit("spec:0:0: error: [TRACE] Could not open file '%s' for writing.", path);
  return f;
}

void __PROF_writeFile(const char* directory, const char* filename, const char* content) {
  FILE* f = __PROF_open(directory, filename, "wb");
  const size_t length = strlen(content);
  if (fwrite(content, 1, length, f) != length) __PROF_manifestWriteFailed(directory, filename, errno);
  __PROF_closeChecked(f, directory, filename);
}

void __PROF_manifestWriteFailed(const char* directory, const char* filename, int error) {
  // A stream can carry an earlier failure whose errno is long gone.
  __PROF_fatal_exit("spec:0:0: error: [TRACE] Could not write file '%s/%s': %s\n", directory, filename,
                    strerror(error != 0 ? error : EIO));
}

void __PROF_flushChecked(FILE* f, const char* directory, const char* filename) {
  errno = 0;
  if (fflush(f) != 0 || ferror(f) != 0) __PROF_manifestWriteFailed(directory, filename, errno);
}

void __PROF_closeChecked(FILE* f, const char* directory, const char* filename) {
  __PROF_flushChecked(f, directory, filename);
  errno = 0;
  if (fclose(f) != 0) __PROF_manifestWriteFailed(directory, filename, errno);
}

char* __PROF_get_cwd(void) {
  char* cwd = getcwd(nullptr, 0);
  if (cwd == nullptr) __PROF_fatal_exit("getcwd() returned NULL");
  return cwd;
}
