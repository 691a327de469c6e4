// The design's top function: five processes in a dataflow region, each on
// its own thread, joined by FIFO streams that live in the top function's
// frame (as a synthesised region's FIFOs live in the region):
//
//   source --raw--> conditioner --steps--> bank --decimated--> mixer --beams-->
//     spectral --spectra--> sink
//
// The sink stores each spectrum and runs the detector on it.
// The source and the bank count frames; the mixer closes the run with an
// end-of-run block, which the spectral stage passes on to the sink.
#include <pthread.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "filterbank.h"
#include "stream.h"

namespace fb {

namespace {

struct Region {
  const Config* config;
  const Coefficients* coefficients;
  Stream<ChannelVector>* raw;
  Stream<ChannelVector>* steps;
  Stream<ChannelVector>* decimated;
  Stream<BeamBlock>* beams;
  Stream<Spectrum>* spectra;
  Spectrum* results;
  Detections* detections;
  uint64_t sinkCount;
};

void* sourceProcess(void* arg) {
  Region* region = static_cast<Region*>(arg);
  SignalSource source(*region->config);
  const int steps = region->config->frames * kFrameIn;
  for (int i = 0; i < steps; ++i) region->raw->write(source.next());
  return nullptr;
}

void* conditionerProcess(void* arg) {
  Region* region = static_cast<Region*>(arg);
  Conditioner conditioner;
  const int steps = region->config->frames * kFrameIn;
  ChannelVector in;
  for (int i = 0; i < steps; ++i) {
    region->raw->read(&in);
    region->steps->write(conditioner.push(in));
  }
  return nullptr;
}

void* bankProcess(void* arg) {
  Region* region = static_cast<Region*>(arg);
  FirBank bank(region->coefficients);
  const int steps = region->config->frames * kFrameIn;
  ChannelVector in;
  ChannelVector out;
  for (int i = 0; i < steps; ++i) {
    region->steps->read(&in);
    if (bank.push(in, &out)) region->decimated->write(out);
  }
  return nullptr;
}

// Collects one decimated frame column by column, mixes it, sends the beams.
void* mixerProcess(void* arg) {
  Region* region = static_cast<Region*>(arg);
  q15 channels[kChannels][kFrameOut];
  q15 mixed[kBeams][kFrameOut];
  BeamBlock block;
  ChannelVector column;
  for (int frame = 0; frame < region->config->frames; ++frame) {
    for (int t = 0; t < kFrameOut; ++t) {
      region->decimated->read(&column);
      for (int ch = 0; ch < kChannels; ++ch) channels[ch][t] = column.s[ch];
    }
    mixFrame(region->coefficients, channels, mixed);
    for (int b = 0; b < kBeams; ++b) {
      block.frame = frame;
      block.beam = b;
      memcpy(block.samples, mixed[b], sizeof block.samples);
      region->beams->write(block);
    }
  }
  block.frame = kEndOfRun;
  block.beam = 0;
  memset(block.samples, 0, sizeof block.samples);
  region->beams->write(block);
  return nullptr;
}

void* spectralProcess(void* arg) {
  Region* region = static_cast<Region*>(arg);
  // Both blocks are large for a thread's stack in hardware terms but small
  // here; they stay on the heap like the design's other large buffers.
  BeamBlock* block = static_cast<BeamBlock*>(malloc(sizeof(BeamBlock)));
  Spectrum* spectrum = static_cast<Spectrum*>(malloc(sizeof(Spectrum)));
  for (;;) {
    region->beams->read(block);
    if (block->frame == kEndOfRun) break;
    beamSpectrum(*block, region->coefficients, spectrum);
    region->spectra->write(*spectrum);
  }
  spectrum->frame = kEndOfRun;
  region->spectra->write(*spectrum);
  free(spectrum);
  free(block);
  return nullptr;
}

void* sinkProcess(void* arg) {
  Region* region = static_cast<Region*>(arg);
  Spectrum spectrum;
  for (;;) {
    region->spectra->read(&spectrum);
    if (spectrum.frame == kEndOfRun) break;
    const int slot = spectrum.frame * kBeams + spectrum.beam;
    memcpy(&region->results[slot], &spectrum, sizeof spectrum);
    detectTargets(spectrum, &region->detections[slot]);
    ++region->sinkCount;
  }
  return nullptr;
}

}  // namespace

void filterbankTop(const Config& config, const Coefficients* coefficients, Spectrum* spectra,
                   Detections* detections, StreamStatistics statistics[kStreams]) {
  Stream<ChannelVector> raw("raw");
  Stream<ChannelVector> steps("steps");
  Stream<ChannelVector> decimated("decimated");
  Stream<BeamBlock> beams("beams");
  Stream<Spectrum> spectraOut("spectra");
  Region region{&config, coefficients, &raw, &steps, &decimated, &beams, &spectraOut, spectra, detections, 0};

  void* (*const processes[])(void*) = {sourceProcess, conditionerProcess, bankProcess, mixerProcess,
                                              spectralProcess, sinkProcess};
  static const char* const names[] = {"source", "conditioner", "bank", "mixer", "spectral", "sink"};
  constexpr int kProcesses = sizeof processes / sizeof processes[0];
  pthread_t threads[kProcesses];
  for (int p = 0; p < kProcesses; ++p) {
    if (pthread_create(&threads[p], nullptr, processes[p], &region) != 0) {
      fprintf(stderr, "filterbank: cannot start process %s\n", names[p]);
      abort();
    }
    pthread_setname_np(threads[p], names[p]);
  }
  for (int p = 0; p < kProcesses; ++p) pthread_join(threads[p], nullptr);

  const StreamStatistics measured[kStreams] = {{"raw", raw.written(), raw.deepest()},
                                               {"steps", steps.written(), steps.deepest()},
                                               {"decimated", decimated.written(), decimated.deepest()},
                                               {"beams", beams.written(), beams.deepest()},
                                               {"spectra", spectraOut.written(), spectraOut.deepest()}};
  for (int s = 0; s < kStreams; ++s) statistics[s] = measured[s];

  if (region.sinkCount != static_cast<uint64_t>(config.frames) * kBeams)
    fprintf(stderr, "filterbank: %llu spectra arrived, %d expected\n",
            static_cast<unsigned long long>(region.sinkCount), config.frames * kBeams);
}

}  // namespace fb
