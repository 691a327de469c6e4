#include "multi.h"

int gSmoothed;

// Three-point average in place; the ends are kept.
extern "C" void smooth(int* values, int n) {
  int previous = values[0];
  for (int i = 1; i + 1 < n; ++i) {
    const int current = values[i];
    values[i] = (previous + current + values[i + 1]) / 3;
    previous = current;
  }
  ++gSmoothed;
}
