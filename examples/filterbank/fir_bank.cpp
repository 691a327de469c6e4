// The filter bank: one band-pass FIR filter per channel, computed only for
// the samples the decimation keeps. Each channel's delay line is a circular
// buffer of kTaps samples; all lines share one head index because every
// channel advances by one sample per input step. The delay memory lives on
// the heap, as the bank's state survives between frames.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "filterbank.h"

namespace fb {

FirBank::FirBank(const Coefficients* coefficients)
    : coefficients_(coefficients), delay_(static_cast<q15*>(calloc(kChannels * kTaps, sizeof(q15)))) {
  if (delay_ == nullptr) abort();
}

FirBank::~FirBank() { free(delay_); }

void FirBank::reset() {
  memset(delay_, 0, kChannels * kTaps * sizeof(q15));
  head_ = 0;
  phase_ = 0;
}

// y = sum_n h[n] x[newest - n], accumulated in 32 bits (kTaps products of
// two Q15 values cannot overflow 32 bits after the gain normalisation of
// the taps), then rounded to Q15.
q15 FirBank::filterChannel(int channel) const {
  const q15* taps = coefficients_->taps[channel];
  const q15* line = delay_ + channel * kTaps;
  int64_t acc = 0;
  int index = head_;
  for (int n = 0; n < kTaps; ++n) {
    acc += static_cast<int32_t>(taps[n]) * line[index];
    index = index == 0 ? kTaps - 1 : index - 1;
  }
  return roundQ15(acc);
}

bool FirBank::push(const ChannelVector& in, ChannelVector* out) {
  head_ = head_ == kTaps - 1 ? 0 : head_ + 1;
  for (int ch = 0; ch < kChannels; ++ch) delay_[ch * kTaps + head_] = in.s[ch];
  if (++phase_ < kDecimation) return false;
  phase_ = 0;
  for (int ch = 0; ch < kChannels; ++ch) out->s[ch] = filterChannel(ch);
  return true;
}

}  // namespace fb
