/* Recursion: every level has its own frame; a level reads the array of
 * the level that called it. */
#include <stdio.h>

int depthSum(const int* above, int level) {
  int mine[2];
  mine[0] = level;
  mine[1] = above[0] + level;
  if (level == 0) return mine[1];
  return depthSum(mine, level - 1);
}

int main(void) {
  int start[1] = {100};
  printf("%d\n", depthSum(start, 3));
  return 0;
}
