// A global array, a thread-local counter and a function-static variable,
// written on the main thread.
#include <cstdio>

int gTable[3];
thread_local int tCount;

int next() {
  static int calls;
  ++calls;
  return calls;
}

int main() {
  for (int i = 0; i < 3; ++i) {
    gTable[i] = next();
    ++tCount;
  }
  std::printf("%d %d %d\n", gTable[2], tCount, next());
  return 0;
}
