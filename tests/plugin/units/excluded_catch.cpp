// A test bench left uninstrumented (main and bench*) that catches what the
// instrumented design throws three calls deep: in main, below every frame
// (after an exception of its own, before the thread ran instrumented code);
// in a bench function that a nested bench function called from the design;
// and in a bench function that rethrows to the design.
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

int benchInner() {
  try {
    level1(1);
  } catch (const std::runtime_error&) {
    return 1;
  }
  return 0;
}

int benchOuter() { return benchInner(); }

void benchRethrow() {
  try {
    level1(1);
  } catch (...) {
    throw;
  }
}

int design() {
  int caught = benchOuter();
  try {
    benchRethrow();
  } catch (...) {
    caught += 1;
  }
  level1(0);
  return caught;
}

int main() {
  int caught = 0;
  try {
    throw 0;  // before any instrumented code: the thread has no trace yet
  } catch (int) {
  }
  try {
    level1(1);
  } catch (...) {
    caught += 1;
  }
  level1(0);
  caught += design();
  std::printf("caught %d at %d\n", caught, gDepth);
  return 0;
}
