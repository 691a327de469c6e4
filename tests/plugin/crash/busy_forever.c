// Counts in a loop of calls, pausing briefly after each, until it is
// stopped.
#include <stdio.h>
#include <unistd.h>

long ticks;

void tick(void) { ticks = ticks + 1; }

int main(void) {
  fputs("counting\n", stderr);
  for (;;) {
    tick();
    usleep(10);
  }
  return 0;
}
