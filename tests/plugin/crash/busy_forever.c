// Counts in a loop of calls until it is stopped.
long ticks;

void tick(void) { ticks = ticks + 1; }

int main(void) {
  for (;;) tick();
  return 0;
}
