// A plain program of two units, no hook in it: a global, a thread-local
// counter, a heap block filled by a copy, an indirect call, a thread, a
// caught exception, a variable-length array and a call into the other unit.
#include <pthread.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

int gCounter = 0;
thread_local int tCalls = 0;

__attribute__((noinline)) static int square(int x) {
  ++tCalls;
  return x * x;
}

__attribute__((noinline)) int sumSquares(const int* v, int n) {
  int s = 0;
  for (int i = 0; i < n; ++i) s += square(v[i]);
  gCounter++;
  return s;
}

__attribute__((noinline)) void check(int value) {
  if (value > 10) throw std::runtime_error("too large");
}

void* worker(void* arg) {
  static_cast<int*>(arg)[0] = square(7);
  return nullptr;
}

int windowSum(const int* v);

__attribute__((noinline)) void copyInto(int* to, const int* from, int n) {
  for (int i = 0; i < n; ++i) to[i] = from[i];
}

int (*volatile gFn)(const int*, int) = sumSquares;

int main(int argc, char**) {
  int values[4] = {1, 2, 3, 4};
  int* heap = static_cast<int*>(malloc(sizeof values));
  memcpy(heap, values, sizeof values);
  const int sum = gFn(heap, 4);
  free(heap);

  int fromThread = 0;
  pthread_t thread;
  pthread_create(&thread, nullptr, worker, &fromThread);
  pthread_join(thread, nullptr);

  int caught = 0;
  try {
    check(sum);
  } catch (const std::exception&) {
    caught = 1;
  }

  int scratch[argc + 2];
  for (int i = 0; i < argc + 2; ++i) scratch[i] = i;
  printf("sum %d thread %d caught %d last %d window %d\n", sum, fromThread, caught, scratch[argc + 1],
         windowSum(values));
  return 0;
}
