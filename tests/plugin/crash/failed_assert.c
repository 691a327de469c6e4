// A short run whose assert fails.
// Built with assertions even where the build type turns them off.
#undef NDEBUG
#include <assert.h>

void check(int value) { assert(value == 2); }

int main(int argc, char** argv) {
  (void)argv;
  check(argc);
  return 0;
}
