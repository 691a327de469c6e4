// A blocked matrix product written as an HLS kernel: C = A x B for square
// fixed-point matrices, computed block by block so that each block of A and
// B is reused from small local memories, as a hardware implementation would
// partition them. The test bench multiplies argv[1] (default 4) pairs of
// matrices and checks every product against the naive triple loop.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kSize = 64;
constexpr int kBlock = 8;
static_assert(kSize % kBlock == 0, "blocks tile the matrices exactly");

// The design's top function.
void blockedMatmul(const int32_t a[kSize * kSize], const int32_t b[kSize * kSize], int64_t c[kSize * kSize]) {
  for (int i = 0; i < kSize * kSize; ++i) c[i] = 0;
  for (int jj = 0; jj < kSize; jj += kBlock) {
    for (int kk = 0; kk < kSize; kk += kBlock) {
      int32_t blockB[kBlock][kBlock];
      for (int k = 0; k < kBlock; ++k)
        for (int j = 0; j < kBlock; ++j) blockB[k][j] = b[(kk + k) * kSize + jj + j];
      for (int i = 0; i < kSize; ++i) {
        int64_t partial[kBlock];
        for (int j = 0; j < kBlock; ++j) partial[j] = c[i * kSize + jj + j];
        for (int k = 0; k < kBlock; ++k) {
          const int64_t aik = a[i * kSize + kk + k];
          for (int j = 0; j < kBlock; ++j) partial[j] += aik * blockB[k][j];
        }
        for (int j = 0; j < kBlock; ++j) c[i * kSize + jj + j] = partial[j];
      }
    }
  }
}

void naiveMatmul(const int32_t* a, const int32_t* b, int64_t* c) {
  for (int i = 0; i < kSize; ++i)
    for (int j = 0; j < kSize; ++j) {
      int64_t sum = 0;
      for (int k = 0; k < kSize; ++k) sum += static_cast<int64_t>(a[i * kSize + k]) * b[k * kSize + j];
      c[i * kSize + j] = sum;
    }
}

uint32_t lcgState = 77;
int32_t sample() {
  lcgState = lcgState * 1664525u + 1013904223u;
  return static_cast<int32_t>(lcgState >> 16) - 32768;
}

}  // namespace

int main(int argc, char** argv) {
  const int products = argc > 1 ? atoi(argv[1]) : 4;
  static int32_t a[kSize * kSize], b[kSize * kSize];
  static int64_t c[kSize * kSize], reference[kSize * kSize];
  int failures = 0;
  for (int p = 0; p < products; ++p) {
    for (int i = 0; i < kSize * kSize; ++i) {
      a[i] = sample();
      b[i] = sample();
    }
    blockedMatmul(a, b, c);
    naiveMatmul(a, b, reference);
    int64_t trace = 0;
    for (int i = 0; i < kSize; ++i) trace += c[i * kSize + i];
    int wrong = 0;
    for (int i = 0; i < kSize * kSize; ++i) wrong += c[i] != reference[i];
    failures += wrong != 0;
    printf("product %d: trace %lld, %d elements differ from the reference\n", p + 1, static_cast<long long>(trace),
           wrong);
  }
  return failures == 0 ? 0 : 1;
}
