#include <stdio.h>

#include "fir.h"

int main(void) {
  const int samples[6] = {1, 2, 3, 4, 5, 6};
  int out[6];
  printf("fir %d\n", fir(samples, 6, out));
  return 0;
}
