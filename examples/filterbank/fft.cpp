// The spectral stage: a radix-2 decimation-in-time FFT on 16-bit data kept
// in 32-bit words, with block floating point. Before each butterfly stage
// the block is scaled down by one bit when any value could overflow 16 bits
// in that stage; the shifts are counted and handed on with the spectrum, so
// spectra of different beams and frames stay comparable.
#include <cstdint>

#include "filterbank.h"

namespace fb {

namespace {

// A butterfly stage can double a value: values must stay within 15 bits
// (plus sign) before it to fit 16 after it.
constexpr int32_t kStageHeadroomLimit = 1 << 14;

int32_t magnitudeBound(const Complex* data, int n) {
  int32_t bound = 0;
  for (int i = 0; i < n; ++i) {
    const int32_t re = data[i].re < 0 ? -data[i].re : data[i].re;
    const int32_t im = data[i].im < 0 ? -data[i].im : data[i].im;
    if (re > bound) bound = re;
    if (im > bound) bound = im;
  }
  return bound;
}

void scaleDown(Complex* data, int n) {
  for (int i = 0; i < n; ++i) {
    data[i].re >>= 1;
    data[i].im >>= 1;
  }
}

// (a + jb)(c + jd) with the twiddle in Q15.
Complex twiddleProduct(const Complex& x, q15 wr, q15 wi) {
  Complex p;
  const int64_t re = static_cast<int64_t>(x.re) * wr - static_cast<int64_t>(x.im) * wi;
  const int64_t im = static_cast<int64_t>(x.re) * wi + static_cast<int64_t>(x.im) * wr;
  p.re = static_cast<int32_t>((re + (1 << 14)) >> 15);
  p.im = static_cast<int32_t>((im + (1 << 14)) >> 15);
  return p;
}

uint32_t reverseBits(uint32_t value, int bits) {
  uint32_t out = 0;
  for (int i = 0; i < bits; ++i) {
    out = (out << 1) | (value & 1u);
    value >>= 1;
  }
  return out;
}

}  // namespace

void bitReverse(Complex* data, int log2n) {
  const int n = 1 << log2n;
  for (int i = 0; i < n; ++i) {
    const int j = static_cast<int>(reverseBits(static_cast<uint32_t>(i), log2n));
    if (j > i) {
      const Complex t = data[i];
      data[i] = data[j];
      data[j] = t;
    }
  }
}

namespace {

// The butterfly network shared by both directions; sign = -1 conjugates
// the twiddles for the inverse transform.
int transform(Complex* data, const Coefficients* coefficients, int sign) {
  bitReverse(data, kFftLog2);
  int shift = 0;
  for (int stage = 1; stage <= kFftLog2; ++stage) {
    if (magnitudeBound(data, kFftSize) >= kStageHeadroomLimit) {
      scaleDown(data, kFftSize);
      ++shift;
    }
    const int span = 1 << stage;
    const int half = span >> 1;
    const int twiddleStep = kFftSize / span;
    for (int group = 0; group < kFftSize; group += span) {
      for (int k = 0; k < half; ++k) {
        const q15 wr = coefficients->twiddleRe[k * twiddleStep];
        const q15 wi = static_cast<q15>(sign * coefficients->twiddleIm[k * twiddleStep]);
        Complex& top = data[group + k];
        Complex& bottom = data[group + k + half];
        const Complex t = twiddleProduct(bottom, wr, wi);
        bottom.re = top.re - t.re;
        bottom.im = top.im - t.im;
        top.re = top.re + t.re;
        top.im = top.im + t.im;
      }
    }
  }
  return shift;
}

}  // namespace

int fftForward(Complex* data, const Coefficients* coefficients) { return transform(data, coefficients, 1); }

// The inverse of fftForward up to the factor 1/N, which the caller folds
// into the returned shift: x = IFFT(X) * 2^(shift) / N.
int fftInverse(Complex* data, const Coefficients* coefficients) { return transform(data, coefficients, -1); }

void beamSpectrum(const BeamBlock& block, const Coefficients* coefficients, Spectrum* out) {
  Complex data[kFftSize];
  for (int n = 0; n < kFftSize; ++n) {
    data[n].re = mulQ15(block.samples[n], coefficients->window[n]);
    data[n].im = 0;
  }
  out->frame = block.frame;
  out->beam = block.beam;
  out->exponent = fftForward(data, coefficients);
  for (int k = 0; k < kFftSize; ++k) {
    const int64_t re = data[k].re;
    const int64_t im = data[k].im;
    // At most 2 * (2^16)^2: scaled to fit 32 bits.
    out->power[k] = static_cast<uint32_t>((re * re + im * im) >> 2);
  }
}

// The strongest bin of the lower half (the input is real: the upper half
// mirrors it), and the energy of the whole spectrum.
Peak findPeak(const Spectrum& spectrum) {
  Peak peak{0, 0, 0};
  for (int k = 0; k < kFftSize; ++k) {
    peak.energy += spectrum.power[k];
    if (k < kFftSize / 2 && spectrum.power[k] > peak.power) {
      peak.power = spectrum.power[k];
      peak.bin = k;
    }
  }
  return peak;
}

}  // namespace fb
