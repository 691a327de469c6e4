// Counts in a loop of calls, pausing briefly after each, until it is
// stopped.
#include <unistd.h>

long ticks;

void tick(void) { ticks = ticks + 1; }

int main(void) {
  for (;;) {
    tick();
    usleep(10);
  }
  return 0;
}
