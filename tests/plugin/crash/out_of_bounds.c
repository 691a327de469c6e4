// A store far past the end of a global array lands in an unmapped page.
#include <stdio.h>
#include <stdlib.h>

int table[64];

void store(long index, int value) { table[index] = value; }

int main(int argc, char** argv) {
  (void)argc;
  fprintf(stderr, "table=%p\n", (void*)table);
  for (int i = 0; i < 4; ++i) store(i, i);
  store(atol(argv[1]), 7);
  return 0;
}
