/* A variable-length array in a loop: a new array on every pass. */
#include <stdio.h>

int main(void) {
  int total = 0;
  for (int n = 1; n <= 3; ++n) {
    int row[n];
    for (int i = 0; i < n; ++i) row[i] = i + n;
    total += row[n - 1];
  }
  printf("%d\n", total);
  return 0;
}
