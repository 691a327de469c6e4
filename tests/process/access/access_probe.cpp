// A hand-instrumented program that reports memory accesses of every kind.
// argv[1] names one scenario; the program prints the addresses the driver
// needs ("name hex" lines on standard output) so that the driver can
// compute the records the trace must hold.
//
// Functions: main (200), inner (201), worker (202). Globals: g_table (7,
// 16 bytes), g_other (8, 8 bytes). Thread-local: t_buf (9, 16 bytes).
// main's frame address is `frame`, with locals 1 = [0, 7] and 2 = [16, 23].
#include <cinttypes>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "prof/proflibAPI.h"

// Addresses of released blocks are reported on purpose, as numbers; they
// are never dereferenced.
#pragma GCC diagnostic ignored "-Wuse-after-free"

int main(int argc, char** argv);

namespace {

constexpr uint32_t kMainId = 200;
constexpr uint32_t kInnerId = 201;
constexpr uint32_t kWorkerId = 202;

unsigned char g_table[16];
unsigned char g_other[8];
thread_local unsigned char t_buf[16];

inline U64 addr(const void* p) { return reinterpret_cast<U64>(p); }
template <typename F>
inline U64 fnAddr(F* f) {
  return reinterpret_cast<U64>(reinterpret_cast<const void*>(f));
}
inline const U8* at(const void* p, size_t offset) { return static_cast<const U8*>(p) + offset; }
inline void access(const void* p, size_t offset = 0) { __PROF_LSVariable(at(p, offset)); }
// For addresses of released blocks: only the number is reported.
inline void access(U64 address) { __PROF_LSVariable(reinterpret_cast<const U8*>(address)); }

void show(const char* name, const void* p) { printf("%s %" PRIx64 "\n", name, addr(p)); }

// ---- Own frames: locals, the caller's locals, globals ----

// Its frame address lies 4 bytes into the caller's buffer, so that its
// range [base + 4, base + 40) covers part of the caller's locals: locals
// 3 = [0, 1], 4 = [16, 19], 5 = [30, 35] relative to base + 4.
void inner(unsigned char* base) {
  uint32_t frameId = 0;
  unsigned char* own = base + 4;
  if (__PROF_FNProcessFunctionStart(fnAddr(&inner), addr(own), &frameId) != 0) {
    __PROF_LSInitLocalInfo(3, 1, 3, addr(own), 2);
    __PROF_LSInitLocalInfo(3, 2, 4, addr(own + 16), 4);
    __PROF_LSInitLocalInfo(3, 3, 5, addr(own + 30), 6);
  }
  printf("innerFrame %u\n", frameId);
  access(own, 1);    // own local 3
  access(base, 2);   // caller's local 1, outside this frame
  access(base, 17);  // between own locals: caller's local 2
  access(base, 21);  // own local 4 hides the caller's local 2
  access(base, 24);  // between own locals, at the caller's top
  access(base, 39);  // last byte of own local 5
  access(base, 40);  // own top
  __PROF_UpdateRetBBCount();
}

void scenarioLocals(unsigned char* frame) {
  for (int call = 0; call < 2; ++call) {  // the second call uses the published layout
    __PROF_FNProcessFunctionEntry(0, fnAddr(&inner), kMainId);
    inner(frame);
    __PROF_FNProcessFunctionExit();
  }
  access(frame, 2);   // third byte of local 1
  access(frame, 10);  // between locals 1 and 2
  access(frame, 24);  // the frame's top
  access(g_table, 5);
  access(g_other, 7);
}

// ---- Heap blocks, reported as the allocation wrappers report them ----

// Each call is bracketed like an instrumented call of the library function.
void* trackedMalloc(size_t size) {
  __PROF_FNProcessFunctionEntry(0, fnAddr(&malloc), kMainId);
  void* block = malloc(size);
  __PROF_LSInsertHeapInfo(static_cast<const U8*>(block), size, __PROF_getCalleeUID());
  __PROF_FNProcessFunctionExit();
  return block;
}

void* trackedRealloc(void* block, size_t size) {
  __PROF_FNProcessFunctionEntry(0, fnAddr(&realloc), kMainId);
  const U64 old = addr(block);
  void* moved = realloc(block, size);
  __PROF_LSReallocHeapInfo(reinterpret_cast<const U8*>(old), static_cast<const U8*>(moved), size,
                           __PROF_getCalleeUID());
  __PROF_FNProcessFunctionExit();
  return moved;
}

// Reports the release of `reported`; releases `block` for real when given.
void trackedFree(const void* reported, void* block) {
  __PROF_FNProcessFunctionEntry(0, fnAddr(&free), kMainId);
  __PROF_LSFreeHeap(addr(reported));
  free(block);
  __PROF_FNProcessFunctionExit();
}

void scenarioHeap() {
  auto* p1 = static_cast<unsigned char*>(trackedMalloc(100));
  auto* p2 = static_cast<unsigned char*>(trackedMalloc(32));
  const U64 p2Address = addr(p2);
  void* guard = malloc(64);  // never tracked; also keeps p2 from growing in place
  show("p1", p1);
  show("p2", p2);
  show("guard", guard);
  access(p1, 99);
  access(p1, 100);
  access(p1, 0);
  auto* q = static_cast<unsigned char*>(trackedRealloc(p2, 4096));
  show("q", q);
  access(q, 4095);
  access(p2Address);  // the old place
  trackedFree(p1, p1);
  auto* p3 = static_cast<unsigned char*>(trackedMalloc(8));
  show("p3", p3);
  access(p1, 1);                 // freed
  trackedFree(p1, nullptr);      // twice
  trackedFree(nullptr, nullptr); // address 0
  trackedFree(guard, nullptr);   // never allocated through the hooks
  __PROF_FNProcessFunctionEntry(0, fnAddr(&realloc), kMainId);
  __PROF_LSReallocHeapInfo(static_cast<const U8*>(guard), static_cast<const U8*>(guard), 64, 0);
  __PROF_FNProcessFunctionExit();
  trackedFree(p3 + 4, p3);  // an address inside a block releases that block
  auto* p4 = static_cast<unsigned char*>(trackedMalloc(0));
  show("p4", p4);
  access(p4, 0);
  access(p4, 1);
  trackedFree(q, q);
  trackedFree(p4, p4);
  free(guard);
}

// More frees than the archive of freed blocks keeps.
void scenarioArchive() {
  constexpr int kBlocks = 2100;
  for (int i = 0; i < kBlocks; ++i) {
    void* block = malloc(16);
    __PROF_LSInsertHeapInfo(static_cast<const U8*>(block), 16, 0);
    show("b", block);
    __PROF_LSFreeHeap(addr(block));
    free(block);
  }
  void* last = malloc(24);
  __PROF_LSInsertHeapInfo(static_cast<const U8*>(last), 24, 0);
  show("last", last);
  access(last, 23);
  __PROF_LSFreeHeap(addr(last));
  free(last);
}

// ---- Another thread's thread-locals and locals ----

struct Rendezvous {
  std::mutex m;
  std::condition_variable cv;
  int stage = 0;
  unsigned char* locals = nullptr;
  unsigned char* tls = nullptr;
  unsigned char* vla = nullptr;

  void advanceTo(int s) {
    std::lock_guard<std::mutex> lock(m);
    stage = s;
    cv.notify_all();
  }
  void awaitStage(int s) {
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [&] { return stage >= s; });
  }
};

// Locals 1 = [0, 15] and 2 = [24, 31] of its frame, and an array 3 in an
// open scope while the main thread looks.
void worker(Rendezvous* r) {
  alignas(16) unsigned char locals[32];
  unsigned char vla[8];
  uint32_t frameId = 0;
  if (__PROF_FNProcessFunctionStart(fnAddr(&worker), addr(locals), &frameId) != 0) {
    __PROF_LSInitLocalInfo(2, 1, 1, addr(locals), 16);
    __PROF_LSInitLocalInfo(2, 2, 2, addr(locals + 24), 8);
  }
  __PROF_LSStackSave();
  __PROF_LSInitVla(3, addr(vla), sizeof vla);
  {
    std::lock_guard<std::mutex> lock(r->m);
    r->locals = locals;
    r->tls = t_buf;
    r->vla = vla;
  }
  r->advanceTo(1);
  r->awaitStage(2);
  __PROF_LSStackRestore();
  __PROF_UpdateRetBBCount();
}

void scenarioThreads() {
  Rendezvous r;
  std::thread other(worker, &r);
  r.awaitStage(1);
  access(r.tls, 5);     // the other thread's instance
  access(t_buf, 1);     // this thread's own instance
  access(r.locals, 3);  // other thread's local 1
  access(r.locals, 20); // in its stack range, between its locals
  access(r.locals, 26); // its local 2
  access(r.vla, 1);     // its array in an open scope
  r.advanceTo(2);
  other.join();
  access(r.tls, 5);  // the thread has finished: nothing is found any more
  access(r.locals, 3);
}

// ---- Dynamic locals: arrays and by-value copies in scopes ----

void scenarioVla() {
  unsigned char dyn[64];
  show("dyn", dyn);
  __PROF_LSStackSave();
  __PROF_LSInitVla(11, addr(dyn + 8), 24);
  access(dyn, 13);
  access(dyn, 32);  // one past the array
  __PROF_LSInitVla(12, addr(dyn + 40), 0);
  access(dyn, 40);
  __PROF_FNProcessFunctionEntry(0, 0, kMainId);  // a callee reads the array
  access(dyn, 30);
  __PROF_FNProcessFunctionExit();
  __PROF_LSStackRestore();
  access(dyn, 13);  // the scope is closed

  __PROF_LSInitByvalScope();
  __PROF_LSInitByval(13, addr(dyn + 48), 8);
  access(dyn, 55);
  __PROF_LSStackRestore();
  access(dyn, 55);

  __PROF_LSStackSave();
  __PROF_LSInitVla(14, addr(dyn), 8);
  __PROF_LSStackSave();
  __PROF_LSInitVla(15, addr(dyn + 16), 8);
  access(dyn, 3);   // the enclosing scope's array
  access(dyn, 17);
  __PROF_LSStackRestore();
  access(dyn, 17);
  access(dyn, 3);
  __PROF_LSStackRestore();
  access(dyn, 3);
}

// The same array ids initialised again in later scopes of one frame, as a
// loop around a variable-length array does.
void scenarioReinit() {
  unsigned char dyn[128];
  show("dyn", dyn);
  for (int round = 0; round < 2; ++round) {
    __PROF_LSStackSave();
    if (round == 0) {
      __PROF_LSInitVla(21, addr(dyn + 32), 8);
      __PROF_LSInitVla(22, addr(dyn), 8);
    } else {
      __PROF_LSInitVla(22, addr(dyn), 8);
      __PROF_LSInitVla(21, addr(dyn + 32), 8);
    }
    access(dyn, 16);  // between the two arrays
    access(dyn, 33);
    access(dyn, 1);
    __PROF_LSStackRestore();
  }
  // Initialised again in the same scope at another place: it moves there.
  __PROF_LSStackSave();
  __PROF_LSInitVla(22, addr(dyn + 64), 8);
  __PROF_LSInitVla(21, addr(dyn + 32), 8);
  __PROF_LSInitVla(21, addr(dyn + 96), 8);
  __PROF_LSInitVla(23, addr(dyn + 80), 8);
  access(dyn, 33);
  access(dyn, 97);
  access(dyn, 81);
  access(dyn, 65);
  // And in a nested scope while the enclosing one is open.
  __PROF_LSStackSave();
  __PROF_LSInitVla(23, addr(dyn + 8), 8);
  access(dyn, 9);
  access(dyn, 81);
  access(dyn, 97);
  __PROF_LSStackRestore();
  access(dyn, 97);
  access(dyn, 65);
  __PROF_LSStackRestore();
}

// ---- Block accesses, offsets, unknown addresses ----

void scenarioBlock(unsigned char* frame) {
  static const char literal[] = "literal";
  __PROF_LSBlock(at(frame, 0), 16);
  __PROF_LSBlock(at(g_table, 4), 12);
  __PROF_LSBlock(reinterpret_cast<const U8*>(literal), 8);
  __PROF_LSOffset(-8);
  __PROF_LSOffset(200);
  __PROF_LSVariable(reinterpret_cast<const U8*>(0x10));
}

// ---- Calls the instrumentation never makes ----

void violationsBeforeAnyFrame() {
  unsigned char x[8];
  __PROF_LSStackSave();
  __PROF_LSStackRestore();
  __PROF_LSInitVla(31, addr(x), sizeof x);
  __PROF_LSInitByval(32, addr(x), sizeof x);
  __PROF_LSInitLocalInfo(2, 2, 33, addr(x), 4);
  access(x, 1);
}

void scenarioProtocol(unsigned char* frame) {
  unsigned char dyn[32];
  show("dyn", dyn);
  __PROF_LSInitLocalInfo(3, 2, 40, addr(frame + 40), 4);  // no layout is being built
  access(frame, 41);
  __PROF_LSInitLocalInfo(1, 1, 41, addr(frame + 40), 4);  // main's layout is already published
  access(frame, 41);
  access(frame, 2);
  __PROF_LSStackRestore();  // no open scope
  __PROF_LSInitVla(33, addr(dyn), 8);
  access(dyn, 0);
  __PROF_LSInitByval(34, addr(dyn + 8), 8);
  access(dyn, 9);
  // A callee that leaves its scope open when it returns.
  __PROF_FNProcessFunctionEntry(0, 0, kMainId);
  __PROF_LSStackSave();
  __PROF_LSInitVla(35, addr(dyn + 16), 8);
  access(dyn, 17);
  __PROF_FNProcessFunctionExit();
  access(dyn, 17);
  __PROF_LSStackRestore();
  // Scopes still work afterwards.
  __PROF_LSStackSave();
  __PROF_LSInitVla(36, addr(dyn + 24), 8);
  access(dyn, 25);
  __PROF_LSStackRestore();
}

}  // namespace

extern "C" void __PROF_FNsInitializeFuncStruct(void) {
  __PROF_FNInitializeFuncStruct(kMainId, fnAddr(&main), "app_0");
  __PROF_FNInitializeFuncStruct(kInnerId, fnAddr(&inner), "app_0");
  __PROF_FNInitializeFuncStruct(kWorkerId, fnAddr(&worker), "app_0");
}

extern "C" void __PROF_LSInitGlobalInfos(FILE* writeTo, const char* binaryUid) {
  __PROF_LSInitGlobalInfo(7, addr(g_table), sizeof g_table, writeTo, binaryUid);
  __PROF_LSInitGlobalInfo(8, addr(g_other), sizeof g_other, writeTo, binaryUid);
}

extern "C" void __PROF_LSInitTLSs(FILE* writeTo, const char* binaryUid) {
  __PROF_LSInitTLS(9, addr(t_buf), sizeof t_buf, writeTo, binaryUid);
}

int main(int argc, char** argv) {
  const std::string scenario = argc > 1 ? argv[1] : "";
  if (scenario == "protocol") violationsBeforeAnyFrame();

  alignas(16) unsigned char frame[64];
  uint32_t frameId = 0;
  if (__PROF_FNProcessFunctionStart(fnAddr(&main), addr(frame), &frameId) != 0) {
    __PROF_LSInitLocalInfo(2, 1, 1, addr(frame), 8);
    __PROF_LSInitLocalInfo(2, 2, 2, addr(frame + 16), 8);
  }
  show("frame", frame);
  show("g_table", g_table);

  if (scenario == "locals") scenarioLocals(frame);
  else if (scenario == "heap") scenarioHeap();
  else if (scenario == "archive") scenarioArchive();
  else if (scenario == "threads") scenarioThreads();
  else if (scenario == "vla") scenarioVla();
  else if (scenario == "reinit") scenarioReinit();
  else if (scenario == "block") scenarioBlock(frame);
  else if (scenario == "protocol") scenarioProtocol(frame);
  else fprintf(stderr, "access_probe: unknown scenario '%s'\n", scenario.c_str());

  __PROF_UpdateRetBBCount();
  return 0;
}
