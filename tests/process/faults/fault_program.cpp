// A hand-instrumented program that meets trouble on request:
//   events <n>            n calls of a leaf (entry, one access to a global,
//                         exit), then a normal exit;
//   kill <n> / abort <n>  n calls, then SIGKILL or abort() mid-run;
//   remove-run-dir <n>    n calls, removes its own run directory, n more
//                         calls, then starts a thread that makes one call;
//   exhaust               allocates 64 KiB blocks through the wrapper until
//                         the allocator refuses, then releases them.
// It registers many functions so that its "functionMapping" is large
// enough to run into a small file-size limit.
#include <pthread.h>
#include <signal.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "instrumented.h"

int main(int argc, char** argv);

namespace {

constexpr uint32_t kMain = 200, kLeaf = 201, kThread = 202;
// Stand-ins registered as functions 203 and up: only their distinct
// addresses matter.
constexpr int kFiller = 60;
char gFiller[kFiller];
int gData[64];

void leaf() {}
void* thread(void*) {
  uint32_t frame = 0;
  instrumented::start(&thread, &frame);
  instrumented::returning();
  return nullptr;
}

// Element i of a scrambled walk over gData: the trace compresses to
// about a byte per call, so that a few hundred thousand calls fill
// several of the printer's 64 KiB chunks.
long element(long i) { return static_cast<long>((static_cast<uint32_t>(i) * 2654435761u) >> 7) % 64; }

void calls(long n) {
  for (long i = 0; i < n; ++i) {
    instrumented::enter(&leaf, kMain);
    __PROF_LSVariable(instrumented::bytes(&gData[element(i)]));
    instrumented::leave();
  }
}

}  // namespace

int main(int argc, char** argv) {
  instrumented::startMain(instrumented::addressOf(&main));
  const char* scenario = argc > 1 ? argv[1] : "";
  const long n = argc > 2 ? atol(argv[2]) : 0;
  calls(n);
  if (strcmp(scenario, "kill") == 0) raise(SIGKILL);
  if (strcmp(scenario, "abort") == 0) __PROF_Abort();
  if (strcmp(scenario, "remove-run-dir") == 0) {
    std::filesystem::remove_all(PROF_PROFILE_DIR);
    calls(n);
    pthread_t t;
    pthread_create(&t, nullptr, thread, nullptr);
    pthread_join(t, nullptr);
  }
  if (strcmp(scenario, "exhaust") == 0) {
    std::vector<void*> blocks;
    blocks.reserve(1 << 16);
    while (blocks.size() < blocks.capacity()) {
      void* p = __PROF_Malloc(64 * 1024);
      if (p == nullptr) break;
      blocks.push_back(p);
    }
    printf("exhausted after %zu blocks\n", blocks.size());
    for (void* p : blocks) __PROF_Free(p);
  }
  instrumented::returning();
  return 0;
}

extern "C" void __PROF_FNsInitializeFuncStruct(void) {
  __PROF_FNInitializeFuncStruct(kMain, instrumented::addressOf(&main), "app_0");
  __PROF_FNInitializeFuncStruct(kLeaf, instrumented::addressOf(&leaf), "app_0");
  __PROF_FNInitializeFuncStruct(kThread, instrumented::addressOf(&thread), "app_0");
  for (int i = 0; i < kFiller; ++i)
    __PROF_FNInitializeFuncStruct(203 + i, instrumented::addressOf(&gFiller[i]), "app_0");
}

extern "C" void __PROF_LSInitGlobalInfos(FILE*, const char*) {
  __PROF_LSInitGlobalInfo(1, instrumented::addressOf(gData), sizeof gData, nullptr, "app_0");
}

extern "C" void __PROF_LSInitTLSs(FILE*, const char*) {}
