/* A callee writes its caller's array through a pointer argument and reads
 * the caller's scalar through another: both are locals of an outer frame. */
#include <stdio.h>

void fill(int* out, int n, const int* base) {
  for (int i = 0; i < n; ++i) out[i] = *base + i;
}

int main(void) {
  int values[4];
  int base = 10;
  fill(values, 4, &base);
  printf("%d %d\n", values[0], values[3]);
  return 0;
}
