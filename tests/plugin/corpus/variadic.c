/* A variadic function walks its argument list. */
#include <stdarg.h>
#include <stdio.h>

int sum(int count, ...) {
  va_list args;
  va_start(args, count);
  int total = 0;
  for (int i = 0; i < count; ++i) total += va_arg(args, int);
  va_end(args);
  return total;
}

int main(void) {
  printf("%d\n", sum(3, 4, 5, 6));
  return 0;
}
