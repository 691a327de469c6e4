/* Calls through a table of function pointers. */
#include <stdio.h>

static int twice(int x) { return 2 * x; }
static int square(int x) { return x * x; }

int (*const gOps[2])(int) = {twice, square};

int main(void) {
  int r = 3;
  for (int k = 0; k < 2; ++k) r = gOps[k](r);
  printf("%d\n", r);
  return 0;
}
