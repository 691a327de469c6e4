// The sequential reference of the whole chain: the same kernels, called
// one after the other on one thread, with the naive matrix product in
// place of the tiled one. The dataflow run must match it bit for bit.
#include <cstdint>
#include <cstring>

#include "filterbank.h"

namespace fb {

void runReference(const Config& config, const Coefficients* coefficients, Spectrum* spectra,
                  Detections* detections) {
  SignalSource source(config);
  Conditioner conditioner;
  FirBank bank(coefficients);
  q15 channels[kChannels][kFrameOut];
  q15 beams[kBeams][kFrameOut];
  BeamBlock block;

  for (int frame = 0; frame < config.frames; ++frame) {
    int produced = 0;
    for (int step = 0; step < kFrameIn; ++step) {
      ChannelVector out;
      if (bank.push(conditioner.push(source.next()), &out)) {
        for (int ch = 0; ch < kChannels; ++ch) channels[ch][produced] = out.s[ch];
        ++produced;
      }
    }
    matmulNaive(&coefficients->mixing[0][0], kChannels, &channels[0][0], kFrameOut, &beams[0][0], kFrameOut, kBeams,
                kFrameOut, kChannels);
    for (int b = 0; b < kBeams; ++b) {
      block.frame = frame;
      block.beam = b;
      memcpy(block.samples, beams[b], sizeof block.samples);
      beamSpectrum(block, coefficients, &spectra[frame * kBeams + b]);
      detectTargets(spectra[frame * kBeams + b], &detections[frame * kBeams + b]);
    }
  }
}

}  // namespace fb
