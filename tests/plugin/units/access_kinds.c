/* Known loads and stores on three globals, for the build that tells them
 * apart: every count below follows from the source at -O0.
 *   source: 16 stores (fill), 16 loads (scale), memcpy source, memset destination
 *   target: 16 stores (scale), memcpy destination, 1 load (the check)
 *   counter: one atomic increment (a store), 1 load (the check) */
#include <string.h>

int source[16];
int target[16];
long counter;

static void scale(void) {
  for (int i = 0; i < 16; ++i) target[i] = source[i] * 3;
}

int main(void) {
  for (int i = 0; i < 16; ++i) source[i] = i;
  scale();
  memcpy(target, source, sizeof source);
  memset(source, 0, sizeof source);
  __atomic_fetch_add(&counter, 1, __ATOMIC_SEQ_CST);
  return target[5] == 5 && counter == 1 ? 0 : 1;
}
