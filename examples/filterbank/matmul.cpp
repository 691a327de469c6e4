// Matrix products of the beam mixer. The tiled product works on square
// kTile x kTile blocks that it copies into local buffers first, as a
// hardware implementation would keep them in registers or small memories:
// every element of A and B is fetched from the large memories once per
// tile pass instead of once per product. The naive product is the
// reference that the test bench checks the tiled one against.
#include <cstdint>

#include "filterbank.h"

namespace fb {

namespace {

struct TileA {
  q15 v[kTile][kTile];
};
struct TileB {
  q15 v[kTile][kTile];
};
// Partial sums of one output tile, kept wide until the tile is complete.
struct TileAcc {
  int64_t v[kTile][kTile];
};

void loadTileA(const q15* a, int lda, int row, int col, TileA* tile) {
  for (int i = 0; i < kTile; ++i)
    for (int j = 0; j < kTile; ++j) tile->v[i][j] = a[(row + i) * lda + col + j];
}

void loadTileB(const q15* b, int ldb, int row, int col, TileB* tile) {
  for (int i = 0; i < kTile; ++i)
    for (int j = 0; j < kTile; ++j) tile->v[i][j] = b[(row + i) * ldb + col + j];
}

void clearTile(TileAcc* acc) {
  for (int i = 0; i < kTile; ++i)
    for (int j = 0; j < kTile; ++j) acc->v[i][j] = 0;
}

// acc += A_tile x B_tile.
void multiplyAccumulate(const TileA& a, const TileB& b, TileAcc* acc) {
  for (int i = 0; i < kTile; ++i) {
    for (int j = 0; j < kTile; ++j) {
      int64_t sum = acc->v[i][j];
      for (int k = 0; k < kTile; ++k) sum += static_cast<int32_t>(a.v[i][k]) * b.v[k][j];
      acc->v[i][j] = sum;
    }
  }
}

void storeTile(const TileAcc& acc, q15* c, int ldc, int row, int col) {
  for (int i = 0; i < kTile; ++i)
    for (int j = 0; j < kTile; ++j) c[(row + i) * ldc + col + j] = roundQ15(acc.v[i][j]);
}

}  // namespace

void matmulTiled(const q15* a, int lda, const q15* b, int ldb, q15* c, int ldc, int m, int n, int k) {
  TileA tileA;
  TileB tileB;
  TileAcc acc;
  for (int row = 0; row < m; row += kTile) {
    for (int col = 0; col < n; col += kTile) {
      clearTile(&acc);
      for (int inner = 0; inner < k; inner += kTile) {
        loadTileA(a, lda, row, inner, &tileA);
        loadTileB(b, ldb, inner, col, &tileB);
        multiplyAccumulate(tileA, tileB, &acc);
      }
      storeTile(acc, c, ldc, row, col);
    }
  }
}

void matmulNaive(const q15* a, int lda, const q15* b, int ldb, q15* c, int ldc, int m, int n, int k) {
  for (int i = 0; i < m; ++i) {
    for (int j = 0; j < n; ++j) {
      int64_t sum = 0;
      for (int x = 0; x < k; ++x) sum += static_cast<int32_t>(a[i * lda + x]) * b[x * ldb + j];
      c[i * ldc + j] = roundQ15(sum);
    }
  }
}

void mixFrame(const Coefficients* coefficients, const q15 channels[kChannels][kFrameOut],
              q15 beams[kBeams][kFrameOut]) {
  matmulTiled(&coefficients->mixing[0][0], kChannels, &channels[0][0], kFrameOut, &beams[0][0], kFrameOut,
              kBeams, kFrameOut, kChannels);
}

}  // namespace fb
