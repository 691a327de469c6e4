// The test bench in its instrumented form: builds two signals, runs the
// design once, writes both inputs and the result to three data files and
// prints one line per window. Every library call is bracketed by the
// profiler's entry and exit hooks, and every pointer handed to the library
// is reported first.
#include <cstdint>
#include <cstdio>

#include "prof/proflibAPI.h"
#include "vendel.h"

namespace {

constexpr uint32_t kMainId = 200;  // static id of main in this binary

inline const U8* bytes(const void* p) { return static_cast<const U8*>(p); }
inline uint64_t addressOf(const void* f) { return reinterpret_cast<uint64_t>(f); }

// fopen through the hooks. A file that cannot be opened is reported once on
// standard error and then skipped, so the bench never writes through a
// null stream.
FILE* openDataFile(const char* name) {
  static const char mode[] = "w";
  __PROF_LSVariable(bytes(name));
  __PROF_LSVariable(bytes(mode));
  __PROF_FNProcessFunctionEntry(0, addressOf(reinterpret_cast<const void*>(&fopen)), kMainId);
  FILE* stream = fopen(name, mode);
  __PROF_FNProcessFunctionExit();
  if (stream == nullptr) fprintf(stderr, "vendel_test: warning: cannot open '%s' for writing, its data is not written\n", name);
  return stream;
}

void writeValue(FILE* stream, int value) {
  static const char format[] = "%d\n";
  if (stream == nullptr) return;
  __PROF_LSVariable(bytes(stream));
  __PROF_LSVariable(bytes(format));
  __PROF_FNProcessFunctionEntry(0, addressOf(reinterpret_cast<const void*>(&fprintf)), kMainId);
  fprintf(stream, format, value);
  __PROF_FNProcessFunctionExit();
}

void closeDataFile(FILE* stream) {
  if (stream == nullptr) return;
  __PROF_LSVariable(bytes(stream));
  __PROF_FNProcessFunctionEntry(0, addressOf(reinterpret_cast<const void*>(&fclose)), kMainId);
  fclose(stream);
  __PROF_FNProcessFunctionExit();
}

}  // namespace

int main() {
  int16_t sigA[kSamples];
  int16_t sigB[kSamples];
  int32_t energy[kWindows];
  uint32_t frameId;

  if (__PROF_FNProcessFunctionStart(addressOf(reinterpret_cast<const void*>(&main)), addressOf(sigA), &frameId) != 0) {
    __PROF_LSInitLocalInfo(3, 1, 1, addressOf(sigA), sizeof sigA);
    __PROF_LSInitLocalInfo(3, 2, 2, addressOf(sigB), sizeof sigB);
    __PROF_LSInitLocalInfo(3, 3, 3, addressOf(energy), sizeof energy);
  }

  for (int i = 0; i < kSamples; ++i) {
    sigA[i] = static_cast<int16_t>(i % 100);
    sigB[i] = static_cast<int16_t>((i % 100) / 2);
  }

  __PROF_FNProcessFunctionEntry(0, addressOf(reinterpret_cast<const void*>(&vendel)), kMainId);
  vendel(sigA, sigB, energy);
  __PROF_FNProcessFunctionExit();

  FILE* inA = openDataFile("inA.dat");
  FILE* inB = openDataFile("inB.dat");
  FILE* out = openDataFile("out_vendel.dat");

  for (int i = 0; i < kSamples; ++i) {
    writeValue(inA, sigA[i]);
    writeValue(inB, sigB[i]);
  }
  for (int i = 0; i < kWindows; ++i) writeValue(out, energy[i]);

  closeDataFile(inA);
  closeDataFile(inB);
  closeDataFile(out);

  static const char line[] = "Energ\xC3\xAD" "a ventana %d: %d\n";
  for (int i = 0; i < kWindows; ++i) {
    __PROF_LSVariable(bytes(line));
    __PROF_FNProcessFunctionEntry(0, addressOf(reinterpret_cast<const void*>(&printf)), kMainId);
    printf(line, i, energy[i]);
    __PROF_FNProcessFunctionExit();
  }

  __PROF_UpdateRetBBCount();
  return 0;
}
