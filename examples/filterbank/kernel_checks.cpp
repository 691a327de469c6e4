// Self-checks of the design's kernels, run by the test bench before the
// design: each kernel against a plain reference or a known answer. A
// failure names the kernel, the case and both values.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "testbench.h"

using namespace fb;

namespace fbtest {

namespace {

// A small linear congruential generator: the checks must not depend on
// the C library's random numbers.
class Lcg {
 public:
  explicit Lcg(uint32_t seed) : state_(seed) {}
  uint32_t next() {
    state_ = state_ * 1664525u + 1013904223u;
    return state_;
  }
  q15 nextQ15(int bits) { return static_cast<q15>(static_cast<int32_t>(next()) >> (32 - bits)); }

 private:
  uint32_t state_;
};

int expectEqual(const char* what, long long got, long long want) {
  if (got == want) return 0;
  fprintf(stderr, "check %s: got %lld, expected %lld\n", what, got, want);
  return 1;
}

int expectNear(const char* what, long long got, long long want, long long tolerance) {
  const long long d = got > want ? got - want : want - got;
  if (d <= tolerance) return 0;
  fprintf(stderr, "check %s: got %lld, expected %lld (+-%lld)\n", what, got, want, tolerance);
  return 1;
}

}  // namespace

int checkFixedPoint() {
  int failures = 0;
  failures += expectEqual("saturate16 high", saturate16(40000), 32767);
  failures += expectEqual("saturate16 low", saturate16(-40000), -32768);
  failures += expectEqual("saturate16 inside", saturate16(-1234), -1234);
  failures += expectEqual("roundQ15 half up", roundQ15(1 << 14), 1);
  failures += expectEqual("roundQ15 below half", roundQ15((1 << 14) - 1), 0);
  failures += expectEqual("mulQ15 -1 * -1", mulQ15(-32768, -32768), 32767);
  failures += expectEqual("mulQ15 half * half", mulQ15(16384, 16384), 8192);
  failures += expectEqual("mulQ15Wide", mulQ15Wide(1 << 20, 16384), 1 << 19);
  for (uint64_t v : {0ull, 1ull, 2ull, 3ull, 4ull, 99ull, 100ull, 65535ull, 4294967295ull, 1ull << 40,
                     (1ull << 62) + 12345ull}) {
    const uint64_t r = isqrt64(v);
    if (!(r * r <= v && (r + 1) * (r + 1) > v)) {
      fprintf(stderr, "check isqrt64(%llu): got %llu\n", static_cast<unsigned long long>(v),
              static_cast<unsigned long long>(r));
      ++failures;
    }
  }
  failures += expectEqual("sign bits of 0", countLeadingSignBits(0), 31);
  failures += expectEqual("sign bits of -1", countLeadingSignBits(-1), 31);
  failures += expectEqual("sign bits of 1", countLeadingSignBits(1), 30);
  failures += expectEqual("sign bits of 0x4000", countLeadingSignBits(0x4000), 16);
  failures += expectEqual("sign bits of INT32_MIN", countLeadingSignBits(INT32_MIN), 0);
  return failures;
}

// Tiled against naive on shapes that exercise one and several tiles in
// every dimension, with strides wider than the matrices.
int checkMatmul() {
  struct Shape {
    int m, n, k;
  };
  const Shape shapes[] = {{4, 4, 4}, {8, 12, 16}, {12, 8, 4}, {16, 16, 8}};
  constexpr int kStride = 20;
  q15 a[16 * kStride];
  q15 b[16 * kStride];
  q15 tiled[16 * kStride];
  q15 naive[16 * kStride];
  Lcg random(7);
  int failures = 0;
  for (const Shape& s : shapes) {
    for (q15& v : a) v = random.nextQ15(16);
    for (q15& v : b) v = random.nextQ15(16);
    memset(tiled, 0, sizeof tiled);
    memset(naive, 0, sizeof naive);
    matmulTiled(a, kStride, b, kStride, tiled, kStride, s.m, s.n, s.k);
    matmulNaive(a, kStride, b, kStride, naive, kStride, s.m, s.n, s.k);
    for (int i = 0; i < s.m; ++i) {
      for (int j = 0; j < s.n; ++j) {
        if (tiled[i * kStride + j] != naive[i * kStride + j]) {
          fprintf(stderr, "check matmul %dx%dx%d at (%d,%d): tiled %d, naive %d\n", s.m, s.n, s.k, i, j,
                  tiled[i * kStride + j], naive[i * kStride + j]);
          ++failures;
        }
      }
    }
  }
  return failures;
}

int checkFft(const Coefficients* coefficients) {
  int failures = 0;
  Complex data[kFftSize];

  // An impulse has a flat spectrum.
  memset(data, 0, sizeof data);
  data[0].re = 8192;
  const int impulseShift = fftForward(data, coefficients);
  for (int k = 0; k < kFftSize; ++k) {
    failures += expectNear("fft impulse re", data[k].re, 8192 >> impulseShift, 2);
    failures += expectNear("fft impulse im", data[k].im, 0, 2);
  }

  // A cosine on bin 5 puts its energy into bins 5 and N-5.
  constexpr int kBin = 5;
  for (int n = 0; n < kFftSize; ++n) {
    data[n].re = cosineAt(static_cast<uint32_t>(kBin * n) << (32 - kFftLog2)) / 4;
    data[n].im = 0;
  }
  fftForward(data, coefficients);
  int64_t strongest = 0;
  int strongestBin = -1;
  for (int k = 0; k < kFftSize / 2; ++k) {
    const int64_t p = static_cast<int64_t>(data[k].re) * data[k].re + static_cast<int64_t>(data[k].im) * data[k].im;
    if (p > strongest) {
      strongest = p;
      strongestBin = k;
    }
  }
  failures += expectEqual("fft tone bin", strongestBin, kBin);

  // Forward then inverse gives the input back, N / 2^shifts times.
  Complex original[kFftSize];
  Lcg random(11);
  for (int n = 0; n < kFftSize; ++n) {
    original[n].re = random.nextQ15(12);
    original[n].im = random.nextQ15(12);
    data[n] = original[n];
  }
  const int forwardShift = fftForward(data, coefficients);
  const int inverseShift = fftInverse(data, coefficients);
  const int scale = kFftLog2 - forwardShift - inverseShift;  // log2 of the remaining gain
  for (int n = 0; n < kFftSize; ++n) {
    const int64_t re = scale >= 0 ? data[n].re >> scale : data[n].re << -scale;
    const int64_t im = scale >= 0 ? data[n].im >> scale : data[n].im << -scale;
    failures += expectNear("fft round trip re", re, original[n].re, 24);
    failures += expectNear("fft round trip im", im, original[n].im, 24);
  }
  return failures;
}

// The decimated impulse response of each channel is every other tap,
// starting with tap 1 (the output is taken on the second input step).
int checkFirBank(const Coefficients* coefficients) {
  int failures = 0;
  FirBank bank(coefficients);
  ChannelVector in;
  ChannelVector out;
  int outputs = 0;
  for (int step = 0; step < kTaps; ++step) {
    for (int ch = 0; ch < kChannels; ++ch) in.s[ch] = step == 0 ? 32767 : 0;
    if (!bank.push(in, &out)) continue;
    const int tap = 2 * outputs + 1;
    for (int ch = 0; ch < kChannels; ++ch) failures += expectNear("fir impulse", out.s[ch], coefficients->taps[ch][tap], 1);
    ++outputs;
  }
  failures += expectEqual("fir outputs", outputs, kTaps / kDecimation);

  // After a reset the bank has forgotten the impulse.
  bank.reset();
  for (int ch = 0; ch < kChannels; ++ch) in.s[ch] = 0;
  bank.push(in, &out);
  bank.push(in, &out);
  for (int ch = 0; ch < kChannels; ++ch) failures += expectEqual("fir after reset", out.s[ch], 0);
  return failures;
}

int checkDetector() {
  int failures = 0;
  Spectrum spectrum;
  spectrum.frame = 3;
  spectrum.beam = 2;
  spectrum.exponent = 0;
  for (int k = 0; k < kFftSize; ++k) spectrum.power[k] = 100 + static_cast<uint32_t>(k % 3);
  spectrum.power[10] = 5000;  // a clear peak
  spectrum.power[11] = 2500;  // its shoulder: not a second detection
  spectrum.power[20] = 300;   // below the threshold
  spectrum.power[25] = 9000;  // the strongest
  Detections found;
  detectTargets(spectrum, &found);
  failures += expectEqual("detector count", found.count, 2);
  if (found.count == 2) {
    failures += expectEqual("detector first bin", found.items[0].bin, 25);
    failures += expectEqual("detector second bin", found.items[1].bin, 10);
    failures += expectEqual("detector sub-bin towards the shoulder", found.items[1].fraction > 0, 1);
  }
  failures += expectEqual("detector frame", found.frame, 3);
  failures += expectEqual("detector beam", found.beam, 2);
  return failures;
}

}  // namespace fbtest

namespace fbtest {

// Rotation against the sine table's ideal values, vectoring against
// known angles and magnitudes.
int checkCordic() {
  int failures = 0;
  struct Point {
    uint32_t angle;
    int32_t cosine, sine;  // Q15
  };
  const Point points[] = {{0x00000000u, 32768, 0},      {0x20000000u, 23170, 23170}, {0x40000000u, 0, 32768},
                          {0x80000000u, -32768, 0},     {0xC0000000u, 0, -32768},    {0xE0000000u, 23170, -23170},
                          {0x60000000u, -23170, 23170}, {0x15555555u, 28378, 16384}};
  for (const Point& p : points) {
    const CordicResult r = cordicRotate(p.angle);
    failures += expectNear("cordic cosine", r.x, p.cosine, 2);
    failures += expectNear("cordic sine", r.y, p.sine, 2);
  }
  const CordicResult v = cordicVector(3000, 4000);
  failures += expectNear("cordic magnitude", v.x, 5000, 2);
  // atan2(4, 3) = 53.13 degrees = 0.147584 of a turn.
  failures += expectNear("cordic angle", static_cast<long long>(v.angle >> 16), 9672, 2);
  const CordicResult back = cordicVector(-1000, 0);
  failures += expectNear("cordic angle of -x", static_cast<long long>(back.angle >> 16), 0x8000, 2);
  failures += expectNear("cordic magnitude of -x", back.x, 1000, 1);
  return failures;
}

// A constant input is blocked to zero; a steady tone's gain settles inside
// its limits and moves one step per sample at most.
int checkConditioner() {
  int failures = 0;
  Conditioner dc;
  ChannelVector in;
  ChannelVector out{};
  for (int n = 0; n < 4000; ++n) {
    for (int ch = 0; ch < kChannels; ++ch) in.s[ch] = 5000;
    out = dc.push(in);
  }
  for (int ch = 0; ch < kChannels; ++ch) failures += expectNear("dc blocked", out.s[ch], 0, 8);

  Conditioner agc;
  int32_t previous = agc.gain(0);
  int32_t largestStep = 0;
  for (int n = 0; n < 6000; ++n) {
    for (int ch = 0; ch < kChannels; ++ch) in.s[ch] = mulQ15(sineAt(static_cast<uint32_t>(n) * 0x04000000u), 3000);
    agc.push(in);
    const int32_t step = agc.gain(0) > previous ? agc.gain(0) - previous : previous - agc.gain(0);
    if (step > largestStep) largestStep = step;
    previous = agc.gain(0);
  }
  failures += expectEqual("agc step", largestStep, 1);
  failures += expectEqual("agc raised a quiet channel", agc.gain(0) > 256, 1);
  failures += expectEqual("agc within its limits", agc.gain(0) <= 1024 && agc.gain(0) >= 64, 1);
  return failures;
}

}  // namespace fbtest

namespace fbtest {

// Two targets on one beam, one drifting by a quarter bin per frame and one
// fixed with a gap of two frames, and a single stray detection on another
// beam: two tracks, the stray one is no track.
int checkTracker() {
  constexpr int kFrames = 8;
  std::vector<Detections> lists(kFrames * kBeams);
  for (int frame = 0; frame < kFrames; ++frame) {
    for (int beam = 0; beam < kBeams; ++beam) {
      Detections& d = lists[static_cast<size_t>(frame * kBeams + beam)];
      d.frame = frame;
      d.beam = beam;
      d.count = 0;
    }
    Detections& beam2 = lists[static_cast<size_t>(frame * kBeams + 2)];
    const int32_t drift = 10 * 256 + 64 * frame;
    beam2.items[beam2.count++] = {drift / 256, drift % 256, 1000, 100, 45};
    if (frame != 3 && frame != 4) beam2.items[beam2.count++] = {20, 0, 900, 100, 44};
  }
  Detections& stray = lists[static_cast<size_t>(5 * kBeams + 6)];
  stray.items[stray.count++] = {7, 0, 500, 100, 40};

  TrackSummary tracks[4];
  const int count = trackTargets(lists.data(), kFrames, tracks, 4);
  int failures = expectEqual("tracker tracks", count, 2);
  if (count == 2) {
    failures += expectEqual("tracker drifting hits", tracks[0].hits, kFrames);
    failures += expectEqual("tracker drifting bins", tracks[0].highestBin - tracks[0].lowestBin, 1);
    failures += expectEqual("tracker gap hits", tracks[1].hits, kFrames - 2);
    failures += expectEqual("tracker gap last frame", tracks[1].lastFrame, kFrames - 1);
  }
  return failures;
}

}  // namespace fbtest
