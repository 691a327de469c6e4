#include "multi.h"

int gFilled;

void fillRamp(int* out, int n, int offset) {
  for (int i = 0; i < n; ++i) out[i] = 3 * i + offset;
  ++gFilled;
}
