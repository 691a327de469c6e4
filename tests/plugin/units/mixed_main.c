/* An instrumented program that calls into a unit built without the
 * plugin, which calls back into instrumented code. */
#include <stdio.h>

int plainTwice(int (*callback)(int), int value); /* mixed_plain.c, not instrumented */

int gCalls;

int addTen(int x) {
  ++gCalls;
  return x + 10;
}

int main(void) {
  printf("%d %d\n", plainTwice(addTen, 1), gCalls);
  return 0;
}
