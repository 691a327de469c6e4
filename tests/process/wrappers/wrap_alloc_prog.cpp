// Allocation, string, I/O, semaphore and process wrappers, called the way
// instrumented code calls them. argv[1] names the scenario; the program
// prints the addresses that its trace holds ("<key>=<hex>") and what it saw.
#include <errno.h>
#include <fcntl.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "init.h"
#include "instrumented.h"

using instrumented::report;

namespace {

// A size that no allocator grants; volatile so that the compiler does not
// judge the calls at build time.
volatile size_t gHuge = SIZE_MAX / 2 + 1;

void sizes() {
  const size_t page = static_cast<size_t>(getpagesize());
  void* blocks[] = {__PROF_Malloc(0), __PROF_PValloc(1), __PROF_PValloc(page), __PROF_PValloc(2 * page),
                    __PROF_Calloc(3, 8)};
  const char* keys[] = {"m0", "pv1", "pv2", "pv3", "c"};
  for (int i = 0; i < 5; ++i) report(keys[i], blocks[i]);
  for (void* block : blocks) __PROF_Free(block);
}

void reallocations() {
  char* a = static_cast<char*>(__PROF_Realloc(nullptr, 16));
  report("a", a);
  char* b = static_cast<char*>(__PROF_Realloc(a, 32));
  report("b", b);
  void* failed = __PROF_Realloc(b, gHuge);
  printf("huge %s\n", failed == nullptr ? "null" : "granted");
  b[31] = 1;                                   // still ours after the failure
  __PROF_LSVariable(instrumented::bytes(b + 31));  // and still registered
  void* zero = __PROF_Realloc(b, 0);
  report("zero", zero);
  __PROF_LSVariable(instrumented::bytes(b));  // a released block is no heap block
}

void releasesOfNull() {
  __PROF_Free(nullptr);
  __PROF__ZdlPv(nullptr);
  __PROF__ZdaPv(nullptr);
  __PROF_TPKfree(nullptr);  // the application has no tpk_free: never reached
  void* single = __PROF__Znwm(24);
  report("single", single);
  __PROF__ZdlPv(single);
  void* array = __PROF__Znam(40);
  report("array", array);
  __PROF__ZdaPv(array);
}

void newFailure() {
  try {
    void* block = __PROF__Znwm(gHuge);
    report("granted", block);
  } catch (const std::bad_alloc&) {
    puts("bad_alloc");
  }
  report("after", __PROF_Malloc(8));
}

void strings() {
  char* three = __PROF_strdup("abc");
  report("dup", three);
  char* cut = __PROF_strndup("abcdef", 3);
  report("ndup", cut);
  char* whole = __PROF_strndup("ab", 10);
  report("ndup2", whole);
  printf("contents %s|%s|%s\n", three, cut, whole);
  __PROF_Free(three);
  __PROF_Free(cut);
  __PROF_Free(whole);
}

void io() {
  FILE* file = fopen("input.dat", "w");
  fputs("0123456789abcdefghijklmno", file);  // 25 bytes: two whole items of 10
  fclose(file);

  char* buffer = static_cast<char*>(__PROF_Malloc(100));
  report("buffer", buffer);
  file = fopen("input.dat", "r");
  const size_t items = __PROF_Fread(buffer, 10, 10, file);
  fclose(file);
  printf("items %zu\n", items);

  FILE* out = fopen("output.dat", "w");
  const size_t written = __PROF_Fwrite(buffer + 10, 5, 2, out);
  fclose(out);
  printf("written %zu\n", written);
  __PROF_Free(buffer);
}

void semaphores() {
  umask(0);
  const std::string name = "/proftest-sem-" + std::to_string(getpid());
  const std::string missing = "/proftest-missing-" + std::to_string(getpid());
  auto* created = static_cast<sem_t*>(__PROF_Sem_open(name.c_str(), O_CREAT | O_EXCL, 0640, 3u));
  report("created", created);
  if (created == SEM_FAILED) return;
  int value = -1;
  sem_getvalue(created, &value);
  struct stat st {};
  stat(("/dev/shm/sem." + name.substr(1)).c_str(), &st);
  printf("value %d mode %o\n", value, static_cast<unsigned>(st.st_mode & 0777));

  auto* opened = static_cast<sem_t*>(__PROF_Sem_open(name.c_str(), 0));
  report("opened", opened);
  sem_post(opened);
  sem_getvalue(created, &value);
  printf("shared value %d\n", value);

  errno = 0;
  void* absent = __PROF_Sem_open(missing.c_str(), 0);
  printf("missing %s errno %d\n", absent == SEM_FAILED ? "failed" : "opened", errno);

  sem_close(opened);
  if (opened != created) sem_close(created);
  sem_unlink(name.c_str());
}

// A munmap that fails (a start inside the mapping is not page-aligned)
// leaves the mapping registered; one that succeeds releases it.
void unmappings() {
  const size_t page = static_cast<size_t>(getpagesize());
  auto* map = static_cast<char*>(__PROF_Mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  report("map", map);
  printf("misaligned %d\n", __PROF_Munmap(map + 1, page));
  __PROF_LSVariable(instrumented::bytes(map + 5));
  printf("whole %d\n", __PROF_Munmap(map, 2 * page));
  __PROF_LSVariable(instrumented::bytes(map + 5));
}

}  // namespace

int main(int argc, char** argv) {
  instrumented::startMain(instrumented::addressOf(&main));
  const std::string scenario = argc > 1 ? argv[1] : "";
  if (scenario == "sizes") sizes();
  if (scenario == "realloc") reallocations();
  if (scenario == "release-null") releasesOfNull();
  if (scenario == "new-failure") newFailure();
  if (scenario == "strings") strings();
  if (scenario == "io") io();
  if (scenario == "sem") semaphores();
  if (scenario == "munmap") unmappings();
  if (scenario == "xmalloc") {
    fflush(stdout);
    __PROF_Xmalloc(8);  // the application brings no xmalloc
  }
  __PROF_UpdateRetBBCount();
  return 0;
}

// The generated part of the stub: main only, no globals.
extern "C" void __PROF_FNsInitializeFuncStruct(void) {
  __PROF_FNInitializeFuncStruct(200, instrumented::addressOf(&main), "app_0");
}
extern "C" void __PROF_LSInitGlobalInfos(FILE*, const char*) {}
extern "C" void __PROF_LSInitTLSs(FILE*, const char*) {}
