// A design over three units and a static library: main here, a filter in
// multi_filter.cpp, a C helper in multi_helper.c, and a checksum from the
// library. Each unit defines a global and calls into the others.
#include <cstdio>

#include "multi.h"

int gFrames = 2;

int main() {
  int samples[kSamples];
  for (int f = 0; f < gFrames; ++f) {
    fillRamp(samples, kSamples, f);
    smooth(samples, kSamples);
  }
  std::printf("checksum %u\n", libraryChecksum(samples, kSamples));
  return 0;
}
