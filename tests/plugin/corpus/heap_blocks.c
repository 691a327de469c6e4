/* Heap blocks allocated, grown, zeroed, written through and freed. */
#include <stdio.h>
#include <stdlib.h>

int main(void) {
  int* a = malloc(2 * sizeof(int));
  a[0] = 1;
  a[1] = 2;
  a = realloc(a, 4 * sizeof(int));
  a[3] = 4;
  long* z = calloc(3, sizeof(long));
  z[2] = a[0] + a[3];
  printf("%ld\n", z[2]);
  free(z);
  free(a);
  return 0;
}
