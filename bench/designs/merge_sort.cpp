// A merge sort written as an HLS kernel: bottom-up, without recursion, in
// passes of doubling run width that merge from one buffer into the other,
// the way a hardware sorter streams through two memories. The test bench
// sorts argv[1] (default 6) arrays of pseudo-random keys and checks that
// each result is ordered and a permutation of its input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kLength = 4096;

// Merges the sorted runs src[lo, mid) and src[mid, hi) into dst[lo, hi).
void mergeRuns(const int32_t* src, int32_t* dst, int lo, int mid, int hi) {
  int i = lo, j = mid, k = lo;
  while (i < mid && j < hi) dst[k++] = src[j] < src[i] ? src[j++] : src[i++];
  while (i < mid) dst[k++] = src[i++];
  while (j < hi) dst[k++] = src[j++];
}

// The design's top function: sorts data in place, using scratch.
void mergeSort(int32_t data[kLength], int32_t scratch[kLength]) {
  int32_t* src = data;
  int32_t* dst = scratch;
  for (int width = 1; width < kLength; width *= 2) {
    for (int lo = 0; lo < kLength; lo += 2 * width) {
      const int mid = lo + width < kLength ? lo + width : kLength;
      const int hi = lo + 2 * width < kLength ? lo + 2 * width : kLength;
      mergeRuns(src, dst, lo, mid, hi);
    }
    int32_t* t = src;
    src = dst;
    dst = t;
  }
  if (src != data)
    for (int i = 0; i < kLength; ++i) data[i] = src[i];
}

uint32_t lcgState = 99;
int32_t key() {
  lcgState = lcgState * 1664525u + 1013904223u;
  return static_cast<int32_t>(lcgState >> 12) % 100000;
}

}  // namespace

int main(int argc, char** argv) {
  const int arrays = argc > 1 ? atoi(argv[1]) : 6;
  static int32_t data[kLength], scratch[kLength];
  int failures = 0;
  for (int a = 0; a < arrays; ++a) {
    int64_t sumBefore = 0, sumAfter = 0;
    uint64_t squaresBefore = 0, squaresAfter = 0;
    for (int i = 0; i < kLength; ++i) {
      data[i] = key();
      sumBefore += data[i];
      squaresBefore += static_cast<uint64_t>(static_cast<int64_t>(data[i]) * data[i]);
    }
    mergeSort(data, scratch);
    bool ordered = true;
    for (int i = 0; i < kLength; ++i) {
      if (i > 0 && data[i - 1] > data[i]) ordered = false;
      sumAfter += data[i];
      squaresAfter += static_cast<uint64_t>(static_cast<int64_t>(data[i]) * data[i]);
    }
    const bool same = sumBefore == sumAfter && squaresBefore == squaresAfter;
    failures += !(ordered && same);
    printf("array %d: %s, smallest %d, median %d, largest %d\n", a + 1, ordered && same ? "sorted" : "NOT SORTED",
           data[0], data[kLength / 2], data[kLength - 1]);
  }
  return failures == 0 ? 0 : 1;
}
