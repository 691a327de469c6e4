// Target detection on one power spectrum: cell-averaging CFAR. For every
// bin of the lower half, the noise level is the mean of kTrainingCells bins
// on each side beyond kGuardCells guard bins (fewer at the edges); a bin is
// a detection when it exceeds that level by the CFAR factor and is a local
// maximum. The strongest detections are kept, with a parabolic sub-bin
// estimate of the peak position.
#include <cstdint>

#include "filterbank.h"

namespace fb {

namespace {

// Threshold factor 8 (about 9 dB over the local noise), as a shift.
constexpr int kCfarShift = 3;
constexpr int kHalf = kFftSize / 2;

// Mean of the training cells around bin k, at least 1.
uint32_t noiseLevel(const uint32_t* power, int k) {
  uint64_t sum = 0;
  int cells = 0;
  for (int d = kGuardCells + 1; d <= kGuardCells + kTrainingCells; ++d) {
    if (k - d >= 0) {
      sum += power[k - d];
      ++cells;
    }
    if (k + d < kHalf) {
      sum += power[k + d];
      ++cells;
    }
  }
  const uint64_t mean = cells == 0 ? 0 : sum / static_cast<uint64_t>(cells);
  return mean == 0 ? 1 : static_cast<uint32_t>(mean > 0xFFFFFFFFu ? 0xFFFFFFFFu : mean);
}

// Vertex of the parabola through three cells, in 1/256 bin: with
// a = p[k-1], b = p[k], c = p[k+1], delta = (a - c) / (2 (a - 2b + c)).
int32_t subBin(const uint32_t* power, int k) {
  if (k == 0 || k == kHalf - 1) return 0;
  const int64_t a = power[k - 1];
  const int64_t b = power[k];
  const int64_t c = power[k + 1];
  const int64_t denominator = 2 * (a - 2 * b + c);
  if (denominator == 0) return 0;
  int64_t delta = ((a - c) * 256) / denominator;
  if (delta > 127) delta = 127;
  if (delta < -128) delta = -128;
  return static_cast<int32_t>(delta);
}

// Keeps the list sorted by power, strongest first, at most kMaxDetections.
void insertDetection(Detections* out, const Detection& d) {
  int position = out->count;
  while (position > 0 && out->items[position - 1].power < d.power) --position;
  if (position >= kMaxDetections) return;
  const int last = out->count < kMaxDetections ? out->count : kMaxDetections - 1;
  for (int i = last; i > position; --i) out->items[i] = out->items[i - 1];
  out->items[position] = d;
  if (out->count < kMaxDetections) ++out->count;
}

// The angle of (threshold, power - threshold) in whole degrees, from the
// CORDIC's vectoring mode on values scaled to fit 30 bits.
int32_t confidenceOf(uint64_t power, uint64_t threshold) {
  uint64_t excess = power - threshold;
  uint64_t base = threshold;
  while (excess >= (uint64_t{1} << 30) || base >= (uint64_t{1} << 30)) {
    excess >>= 1;
    base >>= 1;
  }
  const CordicResult v = cordicVector(static_cast<int32_t>(base), static_cast<int32_t>(excess));
  return static_cast<int32_t>((static_cast<uint64_t>(v.angle) * 360 + 0x80000000u) >> 32);
}

}  // namespace

void detectTargets(const Spectrum& spectrum, Detections* out) {
  out->frame = spectrum.frame;
  out->beam = spectrum.beam;
  out->count = 0;
  const uint32_t* power = spectrum.power;
  // Bin 0 holds the direct current left by the window: never a target.
  for (int k = 1; k < kHalf; ++k) {
    const uint32_t level = noiseLevel(power, k);
    const uint64_t threshold = static_cast<uint64_t>(level) << kCfarShift;
    if (power[k] <= threshold) continue;
    if (power[k] < power[k - 1]) continue;
    if (k + 1 < kHalf && power[k] < power[k + 1]) continue;
    Detection d;
    d.bin = k;
    d.fraction = subBin(power, k);
    d.power = power[k];
    d.threshold = threshold > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(threshold);
    d.confidence = confidenceOf(power[k], threshold);
    insertDetection(out, d);
  }
}

}  // namespace fb
