// The design's read-only memories: one period of a sine in Q15 (from
// CORDIC rotations), from which
// the source's oscillators, the FFT's twiddle factors and the mixer's
// steering weights are read, and the band-pass filters of the bank, each a
// windowed-sinc low-pass shifted to its channel's centre frequency.
#include <cmath>
#include <cstdint>

#include "filterbank.h"

namespace fb {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Filled once by the first call of sineTable(), before any thread starts.
q15 gSine[kSineTableSize];
bool gSineReady = false;

q15 toQ15(double value) {
  const double scaled = std::floor(value * 32768.0 + 0.5);
  return saturate16(static_cast<int64_t>(scaled));
}

// Centre frequency of channel c as a fraction of the input rate: the
// channels share the band below the decimated Nyquist frequency.
double centreOf(int channel) {
  const double lowest = 0.03;
  const double spacing = (0.5 / kDecimation - 2 * lowest) / kChannels;
  return lowest + spacing * (channel + 0.5);
}

void designBandPass(int channel, q15 taps[kTaps]) {
  const double cutoff = 0.5 / kDecimation / kChannels;  // half-band of one channel
  const double centre = centreOf(channel);
  const double middle = (kTaps - 1) / 2.0;
  double gain = 0;
  double shaped[kTaps];
  for (int n = 0; n < kTaps; ++n) {
    const double t = n - middle;
    const double sinc = t == 0 ? 2 * cutoff : std::sin(2 * kPi * cutoff * t) / (kPi * t);
    const double hann = 0.5 - 0.5 * std::cos(2 * kPi * (n + 0.5) / kTaps);
    shaped[n] = sinc * hann * std::cos(2 * kPi * centre * t);
    gain += std::fabs(shaped[n]);
  }
  // Normalised so that no input can overflow the accumulator's Q15 result.
  for (int n = 0; n < kTaps; ++n) taps[n] = toQ15(shaped[n] / gain * 0.98);
}

}  // namespace

// Built by CORDIC rotations, as the hardware's table initialiser would be,
// scaled by 0.999 so that no entry saturates.
const q15* sineTable() {
  if (!gSineReady) {
    for (int i = 0; i < kSineTableSize; ++i) {
      const CordicResult r = cordicRotate(static_cast<uint32_t>(i) << (32 - kSineTableLog2));
      gSine[i] = saturate16((static_cast<int64_t>(r.y) * 32735 + (1 << 14)) >> 15);
    }
    gSineReady = true;
  }
  return gSine;
}

// The table index is the phase's top bits; the next bits interpolate.
q15 sineAt(uint32_t phase) {
  const q15* table = sineTable();
  const uint32_t index = phase >> (32 - kSineTableLog2);
  const uint32_t next = (index + 1) & (kSineTableSize - 1);
  const int32_t fraction = static_cast<int32_t>((phase >> (32 - kSineTableLog2 - 15)) & 0x7FFF);
  const int32_t a = table[index];
  const int32_t b = table[next];
  return saturate16(a + ((static_cast<int64_t>(b - a) * fraction) >> 15));
}

q15 cosineAt(uint32_t phase) { return sineAt(phase + 0x40000000u); }

void designCoefficients(Coefficients* c) {
  for (int ch = 0; ch < kChannels; ++ch) designBandPass(ch, c->taps[ch]);

  // Beam b listens in direction b: channel c is weighted by the cosine of
  // the phase difference a plane wave from that direction has across the
  // array, divided among the channels so that a beam cannot overflow.
  for (int b = 0; b < kBeams; ++b) {
    for (int ch = 0; ch < kChannels; ++ch) {
      const uint32_t phase = static_cast<uint32_t>(b * ch) * (0xFFFFFFFFu / (kBeams * kChannels)) ;
      c->mixing[b][ch] = static_cast<q15>(cosineAt(phase) / kChannels);
    }
  }

  for (int k = 0; k < kFftSize / 2; ++k) {
    const uint32_t phase = static_cast<uint32_t>(k) << (32 - kFftLog2);
    c->twiddleRe[k] = cosineAt(phase);
    c->twiddleIm[k] = static_cast<q15>(-sineAt(phase));
  }

  for (int n = 0; n < kFftSize; ++n) {
    const uint32_t phase = static_cast<uint32_t>(n) << (32 - kFftLog2);
    c->window[n] = static_cast<q15>((32767 - cosineAt(phase)) / 2);
  }
}

}  // namespace fb
