// An exception thrown three frames below the handler; the frames between
// are left by unwinding.
#include <cstdio>
#include <stdexcept>

int gDepth;

void level3(int x) {
  gDepth = 3;
  if (x > 0) throw std::runtime_error("deep");
}

void level2(int x) {
  gDepth = 2;
  level3(x);
}

void level1(int x) {
  gDepth = 1;
  level2(x);
}

int main() {
  try {
    level1(1);
  } catch (const std::runtime_error& e) {
    std::printf("caught %s at %d\n", e.what(), gDepth);
  }
  level1(0);
  std::printf("returned at %d\n", gDepth);
  return 0;
}
