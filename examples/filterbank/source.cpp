// The sensors' signal: per channel up to four tones from phase-accumulator
// oscillators, at frequencies that fall into different channels of the
// bank, plus a little noise from a linear-feedback shift register. The
// sequence depends only on the configuration, so the dataflow run and the
// reference see the same samples.
#include <cstdint>

#include "filterbank.h"

namespace fb {

namespace {

// Frequency of tone t of channel c as a 32-bit phase step per sample: near
// the centre of bank channel (c + 3t) mod kChannels, a little off it so
// that the detector's sub-bin estimate has something to find.
uint32_t toneStep(int channel, int tone) {
  const uint32_t lowest = 0x0A3D70A4u;   // 0.04 of the sampling rate
  const uint32_t spacing = 0x06147AE1u;  // 0.02375: the bank's channel spacing
  const uint32_t offset = 0x00418937u;   // 0.001
  const uint32_t band = static_cast<uint32_t>((channel + 3 * tone) % kChannels);
  return lowest + spacing * band + offset * static_cast<uint32_t>(tone);
}

}  // namespace

SignalSource::SignalSource(const Config& config) : tones_(config.tones), lfsr_(config.seed | 1u) {
  if (tones_ < 1) tones_ = 1;
  if (tones_ > 4) tones_ = 4;
  for (int ch = 0; ch < kChannels; ++ch) {
    for (int t = 0; t < 4; ++t) {
      phase_[ch][t] = static_cast<uint32_t>(ch) * 0x1000000u * static_cast<uint32_t>(t + 1);
      step_[ch][t] = toneStep(ch, t);
      // Amplitudes shrink with the tone number and sum to below one half.
      amplitude_[ch][t] = static_cast<q15>(12000 >> t);
    }
  }
}

// Galois LFSR with the taps of x^32 + x^22 + x^2 + x + 1.
uint32_t SignalSource::noise() {
  const uint32_t out = lfsr_ & 1u;
  lfsr_ >>= 1;
  if (out != 0) lfsr_ ^= 0x80200003u;
  return lfsr_;
}

ChannelVector SignalSource::next() {
  ChannelVector v;
  for (int ch = 0; ch < kChannels; ++ch) {
    int32_t sum = 0;
    for (int t = 0; t < tones_; ++t) {
      sum += mulQ15(sineAt(phase_[ch][t]), amplitude_[ch][t]);
      phase_[ch][t] += step_[ch][t];
    }
    // Noise of about -50 dB: the low 6 bits of the register, centred.
    sum += static_cast<int32_t>(noise() & 0x3F) - 32;
    v.s[ch] = saturate16(sum);
  }
  ++produced_;
  return v;
}

}  // namespace fb
