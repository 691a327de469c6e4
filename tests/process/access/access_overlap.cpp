// A hand-instrumented program whose globals overlap: registered variables
// keep their bytes, a newcomer is cut to what is left or dropped.
//   1 = [0, 7]
//   2 = [4, 11]   -> cut to [8, 11]
//   3 = [2, 3]    -> inside 1, dropped
//   5 = [16, 23]
//   4 = [12, 19]  -> cut to [12, 15]
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <initializer_list>

#include "prof/proflibAPI.h"

int main();

namespace {

unsigned char g_bytes[32];

inline U64 addr(const void* p) { return reinterpret_cast<U64>(p); }

}  // namespace

extern "C" void __PROF_FNsInitializeFuncStruct(void) {
  __PROF_FNInitializeFuncStruct(200, reinterpret_cast<U64>(reinterpret_cast<const void*>(&main)), "app_0");
}

extern "C" void __PROF_LSInitGlobalInfos(FILE* writeTo, const char* binaryUid) {
  __PROF_LSInitGlobalInfo(1, addr(g_bytes), 8, writeTo, binaryUid);
  __PROF_LSInitGlobalInfo(2, addr(g_bytes + 4), 8, writeTo, binaryUid);
  __PROF_LSInitGlobalInfo(3, addr(g_bytes + 2), 2, writeTo, binaryUid);
  __PROF_LSInitGlobalInfo(5, addr(g_bytes + 16), 8, writeTo, binaryUid);
  __PROF_LSInitGlobalInfo(4, addr(g_bytes + 12), 8, writeTo, binaryUid);
}

extern "C" void __PROF_LSInitTLSs(FILE*, const char*) {}

int main() {
  uint32_t frameId = 0;
  __PROF_FNProcessFunctionStart(reinterpret_cast<U64>(reinterpret_cast<const void*>(&main)), 0, &frameId);
  for (unsigned offset : {2u, 5u, 9u, 13u, 18u}) __PROF_LSVariable(g_bytes + offset);
  __PROF_UpdateRetBBCount();
  return 0;
}
