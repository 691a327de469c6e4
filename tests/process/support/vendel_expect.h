// What the vendel test bench prints and writes, computed from the design's
// own rule: shared by the tests of the hand-instrumented simulation and of
// the plugin-built one, which must agree with it to the byte.
#pragma once

#include <cstdio>
#include <string>

namespace proctest {

// Energy of window w of the difference of the two signals (x % 100 and
// half of it); it depends only on w % 25.
inline int vendelEnergy(int w) {
  int sum = 0;
  for (int k = 4 * w; k < 4 * w + 4; ++k) {
    const int d = (k % 100) - (k % 100) / 2;
    sum += d * d;
  }
  return sum;
}

// The 128 console lines.
inline std::string vendelConsole() {
  std::string text;
  char line[64];
  for (int w = 0; w < 128; ++w) {
    std::snprintf(line, sizeof line, "Energ\xC3\xAD" "a ventana %d: %d\n", w, vendelEnergy(w));
    text += line;
  }
  return text;
}

// The data files: 0 inA.dat, 1 inB.dat, 2 out_vendel.dat.
inline std::string vendelDataFile(int which) {
  std::string text;
  if (which == 2) {
    for (int w = 0; w < 128; ++w) text += std::to_string(vendelEnergy(w)) + "\n";
    return text;
  }
  for (int i = 0; i < 512; ++i) text += std::to_string(which == 0 ? i % 100 : (i % 100) / 2) + "\n";
  return text;
}

}  // namespace proctest
