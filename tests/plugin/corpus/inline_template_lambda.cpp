// An inline function, a function template in two instances and a lambda
// that captures a local by reference.
#include <cstdio>

inline int addOne(int x) { return x + 1; }

template <typename T>
T biggest(const T* values, int n) {
  T best = values[0];
  for (int i = 1; i < n; ++i)
    if (values[i] > best) best = values[i];
  return best;
}

int main() {
  int ints[3] = {4, 9, 2};
  double reals[2] = {1.5, 0.5};
  int total = 0;
  auto add = [&total](int v) { total += v; };
  add(addOne(biggest(ints, 3)));
  add(static_cast<int>(biggest(reals, 2)));
  std::printf("%d\n", total);
  return 0;
}
