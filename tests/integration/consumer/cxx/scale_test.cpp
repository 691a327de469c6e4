#include <cstdio>

#include "scale.h"

int main() {
  std::vector<int> v{1, 2, 3, 4, 5, 6};
  scale(v, 0, 3, 2);
  scale(v, 3, 6, 3);
  int sum = 0;
  for (int x : v) sum += x;
  std::printf("scale %d\n", sum);
  return 0;
}
