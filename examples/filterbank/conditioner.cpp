// Signal conditioning ahead of the filter bank, per channel: a DC blocker
// (first-order high-pass, y[n] = x[n] - x[n-1] + a y[n-1] with a = 0.995)
// removes the sensors' offsets, and an automatic gain control scales each
// channel towards a common level so that the bank sees comparable inputs.
// The gain follows a peak envelope with a fast attack and a slow release
// and changes by at most one step per sample, as a hardware loop would.
#include <cstdint>

#include "filterbank.h"

namespace fb {

namespace {

constexpr int32_t kPoleQ15 = 32604;          // 0.995
constexpr int kExtraBits = 8;                // fraction bits kept in the blocker's state
constexpr int32_t kTargetLevel = 12000;      // envelope the gain aims at
constexpr int32_t kMinGainQ8 = 64;           // 0.25
constexpr int32_t kMaxGainQ8 = 1024;         // 4.0
constexpr int kAttackShift = 2;              // envelope rises by 1/4 of the gap
constexpr int kReleaseShift = 8;             // and falls by 1/256 of it

int32_t absolute(int32_t v) { return v < 0 ? -v : v; }

}  // namespace

Conditioner::Conditioner() {
  for (int ch = 0; ch < kChannels; ++ch) {
    previousIn_[ch] = 0;
    previousOut_[ch] = 0;
    envelope_[ch] = kTargetLevel;
    gainQ8_[ch] = 256;
  }
}

ChannelVector Conditioner::push(const ChannelVector& in) {
  ChannelVector out;
  for (int ch = 0; ch < kChannels; ++ch) {
    // DC blocker, with the state kept at kExtraBits more precision.
    const int32_t x = in.s[ch];
    const int64_t feedback = (static_cast<int64_t>(previousOut_[ch]) * kPoleQ15) >> 15;
    const int32_t y = ((x - previousIn_[ch]) << kExtraBits) + static_cast<int32_t>(feedback);
    previousIn_[ch] = in.s[ch];
    previousOut_[ch] = y;
    const int32_t blocked = y >> kExtraBits;

    // Peak envelope of the blocked signal.
    const int32_t level = absolute(blocked);
    if (level > envelope_[ch])
      envelope_[ch] += (level - envelope_[ch]) >> kAttackShift;
    else
      envelope_[ch] -= (envelope_[ch] - level) >> kReleaseShift;

    // One gain step per sample towards target / envelope.
    const int32_t wanted = envelope_[ch] <= 0 ? kMaxGainQ8 : (kTargetLevel << 8) / envelope_[ch];
    if (wanted > gainQ8_[ch] && gainQ8_[ch] < kMaxGainQ8) ++gainQ8_[ch];
    if (wanted < gainQ8_[ch] && gainQ8_[ch] > kMinGainQ8) --gainQ8_[ch];

    out.s[ch] = saturate16((static_cast<int64_t>(blocked) * gainQ8_[ch]) >> 8);
  }
  return out;
}

}  // namespace fb
