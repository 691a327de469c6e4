// An integer division by a divisor of 0 from the command line.
#include <stdlib.h>

int divide(int a, int b) { return a / b; }

int main(int argc, char** argv) {
  (void)argc;
  return divide(7, atoi(argv[1]));
}
