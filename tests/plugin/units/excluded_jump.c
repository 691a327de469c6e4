/* A test bench left uninstrumented (main and bench*) whose jump points the
 * instrumented design jumps back to from three calls deep: set by a bench
 * function that main calls below every frame, by one that the design calls,
 * and with sigsetjmp. */
#include <setjmp.h>
#include <stdio.h>

static jmp_buf gJump;
static sigjmp_buf gSigJump;
int gDepth;

void leaf(int x) {
  gDepth = 3;
  if (x > 0) longjmp(gJump, x);
}

void middle(int x) {
  gDepth = 2;
  leaf(x);
}

void sigLeaf(void) {
  gDepth = 4;
  siglongjmp(gSigJump, 1);
}

int benchJump(int x) {
  if (setjmp(gJump) != 0) return 1;
  middle(x);
  return 0;
}

int benchSigJump(void) {
  if (sigsetjmp(gSigJump, 1) != 0) return 1;
  sigLeaf();
  return 0;
}

int design(void) {
  int jumps = benchJump(1);
  middle(0);
  return jumps;
}

int main(void) {
  int jumps = benchJump(1);
  middle(0);
  jumps += design();
  jumps += benchSigJump();
  printf("jumps %d at %d\n", jumps, gDepth);
  return 0;
}
