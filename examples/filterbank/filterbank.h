// A sensor-array front end in the style of an HLS design: a bank of
// band-pass FIR filters with decimation per channel, a beam mixer that
// multiplies every frame by a mixing matrix (a tiled matrix product), and a
// fixed-point FFT per beam that yields power spectra. The stages run as a
// dataflow of threads joined by FIFO streams; a sequential model of the same
// arithmetic serves the test bench as its reference.
//
// Numbers are fixed point throughout: samples and coefficients are Q15
// (int16_t, 1.0 = 32768), products are accumulated in 32 or 64 bits and
// rounded back to Q15 with saturation, as the hardware would.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fb {

// Geometry of the design. The FFT length is the decimated frame length.
constexpr int kChannels = 8;                    // sensors
constexpr int kBeams = 8;                       // mixer outputs
constexpr int kTaps = 32;                       // FIR taps per channel
constexpr int kDecimation = 2;                  // FIR output rate divisor
constexpr int kFrameIn = 128;                   // input samples per channel and frame
constexpr int kFrameOut = kFrameIn / kDecimation;  // samples per channel after the bank
constexpr int kFftLog2 = 6;
constexpr int kFftSize = 1 << kFftLog2;
constexpr int kTile = 4;                        // edge of the mixer's square tiles
constexpr int kSineTableLog2 = 10;
constexpr int kSineTableSize = 1 << kSineTableLog2;
constexpr int kMaxFrames = 256;

static_assert(kFftSize == kFrameOut, "one FFT per beam and frame");
static_assert(kFrameIn % kDecimation == 0, "whole output frames");
static_assert(kChannels % kTile == 0 && kBeams % kTile == 0 && kFrameOut % kTile == 0,
              "the mixer's tiles cover the matrices exactly");

using q15 = int16_t;

// One time step of every channel: what the source hands to the bank.
struct ChannelVector {
  q15 s[kChannels];
};

// A complex fixed-point value inside the FFT.
struct Complex {
  int32_t re;
  int32_t im;
};

// One beam of one frame after the mixer: the FFT's input.
struct BeamBlock {
  int32_t frame;
  int32_t beam;
  q15 samples[kFrameOut];
};

// The power spectrum of one beam of one frame: the sink's input.
struct Spectrum {
  int32_t frame;
  int32_t beam;
  int32_t exponent;          // block-floating-point shift applied by the FFT
  uint32_t power[kFftSize];  // |X[k]|^2, scaled down by 2^exponent twice
};

// What the test bench learns about one spectrum.
struct Peak {
  int32_t bin;
  uint32_t power;
  uint64_t energy;
};

// Parameters of the whole run, fixed by the test bench.
struct Config {
  int frames;         // frames to process, 1 .. kMaxFrames
  uint32_t seed;      // noise generator seed
  int tones;          // tones per channel, 1 .. 4
};

// What the dataflow run reports about its FIFOs: values that passed each
// stream, and the most values one held at a time (the FIFO depth the
// hardware would need for this run; it depends on the threads' timing).
constexpr int kStreams = 5;
struct StreamStatistics {
  const char* name;
  uint64_t values;
  uint32_t deepest;
};

// The coefficient memories of the design (filled by designCoefficients).
struct Coefficients {
  q15 taps[kChannels][kTaps];      // band-pass filter of each channel
  q15 mixing[kBeams][kChannels];   // mixer matrix
  q15 twiddleRe[kFftSize / 2];     // cos(2 pi k / N)
  q15 twiddleIm[kFftSize / 2];     // -sin(2 pi k / N)
  q15 window[kFftSize];            // Hann window applied before the FFT
};

// ---- fixed_point.cpp
q15 saturate16(int64_t value);
q15 roundQ15(int64_t productQ30);
q15 mulQ15(q15 a, q15 b);
int32_t mulQ15Wide(int32_t a, q15 b);
uint32_t isqrt64(uint64_t value);
int countLeadingSignBits(int32_t value);

// ---- cordic.cpp: shift-and-add rotations.
struct CordicResult {
  int32_t x;       // rotation: cosine in Q15; vectoring: magnitude
  int32_t y;       // rotation: sine in Q15; vectoring: 0
  uint32_t angle;  // vectoring: the vector's angle as a fraction of a turn
};
CordicResult cordicRotate(uint32_t angle);
CordicResult cordicVector(int32_t x, int32_t y);

// ---- conditioner.cpp: DC removal and automatic gain control per channel.
class Conditioner {
 public:
  Conditioner();
  ChannelVector push(const ChannelVector& in);
  // Gain of a channel in Q8 (256 = 1.0).
  int32_t gain(int channel) const { return gainQ8_[channel]; }

 private:
  q15 previousIn_[kChannels];
  int32_t previousOut_[kChannels];  // Q15 with 8 extra fraction bits
  int32_t envelope_[kChannels];
  int32_t gainQ8_[kChannels];
};

// ---- tables.cpp
const q15* sineTable();  // kSineTableSize entries of one sine period
q15 sineAt(uint32_t phase);    // phase: 32-bit fraction of a period
q15 cosineAt(uint32_t phase);
void designCoefficients(Coefficients* c);

// ---- source.cpp: the signal the sensors see.
class SignalSource {
 public:
  SignalSource(const Config& config);
  // The next time step of every channel.
  ChannelVector next();
  uint64_t produced() const { return produced_; }

 private:
  uint32_t noise();
  uint32_t phase_[kChannels][4];
  uint32_t step_[kChannels][4];
  q15 amplitude_[kChannels][4];
  int tones_;
  uint32_t lfsr_;
  uint64_t produced_ = 0;
};

// ---- fir_bank.cpp: the per-channel band-pass filters with decimation.
class FirBank {
 public:
  explicit FirBank(const Coefficients* coefficients);
  ~FirBank();
  FirBank(const FirBank&) = delete;
  FirBank& operator=(const FirBank&) = delete;
  // Takes one input step; returns true and fills *out on every kDecimation-th.
  bool push(const ChannelVector& in, ChannelVector* out);
  void reset();

 private:
  q15 filterChannel(int channel) const;
  const Coefficients* coefficients_;
  q15* delay_;     // kChannels circular delay lines of kTaps samples, on the heap
  int head_ = 0;   // index of the newest sample in every delay line
  int phase_ = 0;  // input steps since the last output
};

// ---- matmul.cpp: tiled matrix products.
// C[m][n] = sum_k A[m][k] * B[k][n] in Q15, with row strides.
void matmulTiled(const q15* a, int lda, const q15* b, int ldb, q15* c, int ldc, int m, int n, int k);
void matmulNaive(const q15* a, int lda, const q15* b, int ldb, q15* c, int ldc, int m, int n, int k);
// Mixes one decimated frame: beams[kBeams][kFrameOut] = mixing x channels.
void mixFrame(const Coefficients* coefficients, const q15 channels[kChannels][kFrameOut],
              q15 beams[kBeams][kFrameOut]);

// ---- fft.cpp: fixed-point radix-2 FFT with block floating point.
// In place on kFftSize values; returns the total right shift applied.
int fftForward(Complex* data, const Coefficients* coefficients);
// The inverse transform (conjugate twiddles); returns its right shift.
int fftInverse(Complex* data, const Coefficients* coefficients);
void bitReverse(Complex* data, int log2n);
// Windows a beam, transforms it and writes its power spectrum.
void beamSpectrum(const BeamBlock& block, const Coefficients* coefficients, Spectrum* out);
Peak findPeak(const Spectrum& spectrum);

// ---- detector.cpp: cell-averaging CFAR detection on a power spectrum.
constexpr int kMaxDetections = 8;
constexpr int kGuardCells = 1;
constexpr int kTrainingCells = 4;
struct Detection {
  int32_t bin;         // strongest cell of the detection
  int32_t fraction;    // sub-bin position in 1/256 of a bin, -128 .. 127
  int32_t confidence;  // atan2(power - threshold, threshold) in degrees: 45 at twice the threshold
  uint32_t power;
  uint32_t threshold;  // the noise estimate times the CFAR factor
};
struct Detections {
  int32_t frame;
  int32_t beam;
  int32_t count;
  Detection items[kMaxDetections];
};
void detectTargets(const Spectrum& spectrum, Detections* out);

// ---- model.cpp: the sequential reference of the whole chain.
void runReference(const Config& config, const Coefficients* coefficients, Spectrum* spectra,
                  Detections* detections);

// ---- dataflow.cpp: the design's top function. Writes frames * kBeams
// spectra and as many detection lists in (frame, beam) order.
void filterbankTop(const Config& config, const Coefficients* coefficients, Spectrum* spectra,
                   Detections* detections, StreamStatistics statistics[kStreams]);

}  // namespace fb
