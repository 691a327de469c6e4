// Structures passed and returned by value: the callee works on its own
// copy, the caller receives a copy of the result.
#include <cstdio>

struct Big {
  long v[6];
};

Big scaled(Big in, long factor) {
  for (int i = 0; i < 6; ++i) in.v[i] *= factor;
  return in;
}

int main() {
  Big a = {{1, 2, 3, 4, 5, 6}};
  Big b = scaled(a, 3);
  std::printf("%ld %ld\n", a.v[5], b.v[5]);
  return 0;
}
