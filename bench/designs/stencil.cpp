// A two-dimensional stencil written as an HLS kernel: Jacobi sweeps of a
// 3x3 weighted average over a fixed-point grid with fixed borders, reading
// one grid and writing the other, then swapping them. The test bench heats
// a few points of the grid, runs argv[1] (default 24) sweeps and prints the
// grid's sum and a checksum.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kRows = 64;
constexpr int kCols = 128;

// Weights of the 3x3 neighbourhood; they sum to 16, hence the shift.
constexpr int32_t kWeights[3][3] = {{1, 2, 1}, {2, 4, 2}, {1, 2, 1}};

// The design's top function: one sweep from in to out.
void stencilSweep(const int32_t in[kRows * kCols], int32_t out[kRows * kCols]) {
  for (int c = 0; c < kCols; ++c) {
    out[c] = in[c];
    out[(kRows - 1) * kCols + c] = in[(kRows - 1) * kCols + c];
  }
  for (int r = 1; r < kRows - 1; ++r) {
    out[r * kCols] = in[r * kCols];
    for (int c = 1; c < kCols - 1; ++c) {
      int32_t sum = 0;
      for (int dr = 0; dr < 3; ++dr)
        for (int dc = 0; dc < 3; ++dc) sum += kWeights[dr][dc] * in[(r + dr - 1) * kCols + c + dc - 1];
      out[r * kCols + c] = sum >> 4;
    }
    out[r * kCols + kCols - 1] = in[r * kCols + kCols - 1];
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int sweeps = argc > 1 ? atoi(argv[1]) : 24;
  static int32_t grids[2][kRows * kCols];
  for (int i = 0; i < kRows * kCols; ++i) grids[0][i] = (i * 2654435761u) % 1024;
  grids[0][20 * kCols + 30] = 1 << 20;
  grids[0][40 * kCols + 90] = 1 << 20;
  for (int s = 0; s < sweeps; ++s) stencilSweep(grids[s % 2], grids[(s + 1) % 2]);
  const int32_t* result = grids[sweeps % 2];
  int64_t sum = 0;
  uint32_t checksum = 0;
  for (int i = 0; i < kRows * kCols; ++i) {
    sum += result[i];
    checksum = checksum * 31 + static_cast<uint32_t>(result[i]);
  }
  printf("%d sweeps: sum %lld, checksum %08x\n", sweeps, static_cast<long long>(sum), checksum);
  return 0;
}
