// The test bench, as a designer writes it: builds two signals, runs the
// design once, writes both inputs and the result to three data files and
// prints one line per window.
#include <cstdint>
#include <cstdio>

#include "vendel.h"

namespace {

// A file that cannot be opened is reported once on standard error and then
// skipped, so the bench never writes through a null stream.
FILE* openDataFile(const char* name) {
  static const char mode[] = "w";
  FILE* stream = fopen(name, mode);
  if (stream == nullptr) fprintf(stderr, "vendel_test: warning: cannot open '%s' for writing, its data is not written\n", name);
  return stream;
}

void writeValue(FILE* stream, int value) {
  static const char format[] = "%d\n";
  if (stream == nullptr) return;
  fprintf(stream, format, value);
}

void closeDataFile(FILE* stream) {
  if (stream == nullptr) return;
  fclose(stream);
}

}  // namespace

int main() {
  int16_t sigA[kSamples];
  int16_t sigB[kSamples];
  int32_t energy[kWindows];

  for (int i = 0; i < kSamples; ++i) {
    sigA[i] = static_cast<int16_t>(i % 100);
    sigB[i] = static_cast<int16_t>((i % 100) / 2);
  }

  vendel(sigA, sigB, energy);

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
  for (int i = 0; i < kWindows; ++i) printf(line, i, energy[i]);
  return 0;
}
