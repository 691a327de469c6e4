// The test bench: checks the design's kernels, runs the sequential model
// and the dataflow design on the same signal, compares them bit for bit,
// follows the detected targets across frames, writes the spectra,
// detections, tracks and the depths the streams reached to four data
// files, and prints the values that passed each stream, the tracks and a
// summary of the first and last frames.
//
// Usage: filterbank [frames [seed [tones]]]; defaults 16 frames, seed 1,
// three tones per channel.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "filterbank.h"
#include "testbench.h"

namespace {

bool parseInt(const char* text, long low, long high, long* value) {
  char* end = nullptr;
  const long parsed = strtol(text, &end, 10);
  if (end == text || *end != '\0' || parsed < low || parsed > high) return false;
  *value = parsed;
  return true;
}

bool parseConfig(int argc, char** argv, fb::Config* config) {
  config->frames = 16;
  config->seed = 1;
  config->tones = 3;
  long value = 0;
  if (argc > 1) {
    if (!parseInt(argv[1], 1, fb::kMaxFrames, &value)) return false;
    config->frames = static_cast<int>(value);
  }
  if (argc > 2) {
    if (!parseInt(argv[2], 0, 0x7FFFFFFF, &value)) return false;
    config->seed = static_cast<uint32_t>(value);
  }
  if (argc > 3) {
    if (!parseInt(argv[3], 1, 4, &value)) return false;
    config->tones = static_cast<int>(value);
  }
  return argc <= 4;
}

int runKernelChecks(const fb::Coefficients* coefficients) {
  int failures = 0;
  failures += fbtest::checkFixedPoint();
  failures += fbtest::checkMatmul();
  failures += fbtest::checkFft(coefficients);
  failures += fbtest::checkFirBank(coefficients);
  failures += fbtest::checkDetector();
  failures += fbtest::checkCordic();
  failures += fbtest::checkConditioner();
  failures += fbtest::checkTracker();
  return failures;
}

}  // namespace

int main(int argc, char** argv) {
  fb::Config config;
  if (!parseConfig(argc, argv, &config)) {
    fprintf(stderr, "usage: %s [frames 1..%d [seed [tones 1..4]]]\n", argv[0], fb::kMaxFrames);
    return 2;
  }

  auto* coefficients = new fb::Coefficients;
  fb::designCoefficients(coefficients);

  const int failures = runKernelChecks(coefficients);
  if (failures != 0) {
    printf("filterbank: %d kernel check%s failed: FAIL\n", failures, failures == 1 ? "" : "s");
    delete coefficients;
    return 1;
  }
  printf("filterbank: kernel checks passed\n");

  const int count = config.frames * fb::kBeams;
  std::vector<fb::Spectrum> reference(count);
  std::vector<fb::Detections> referenceDetections(count);
  std::vector<fb::Spectrum> design(count);
  std::vector<fb::Detections> designDetections(count);

  fb::runReference(config, coefficients, reference.data(), referenceDetections.data());
  fb::StreamStatistics streams[fb::kStreams];
  fb::filterbankTop(config, coefficients, design.data(), designDetections.data(), streams);
  fbtest::printStreams(streams);

  fbtest::printFrameSummary(design.data(), designDetections.data(), 0);
  if (config.frames > 1) fbtest::printFrameSummary(design.data(), designDetections.data(), config.frames - 1);

  constexpr int kMaxTracks = 32;
  fbtest::TrackSummary tracks[kMaxTracks];
  const int trackCount = fbtest::trackTargets(designDetections.data(), config.frames, tracks, kMaxTracks);
  const int listed = trackCount < kMaxTracks ? trackCount : kMaxTracks;
  fbtest::printTracks(tracks, listed);
  if (!fbtest::writeTracks("fb_tracks.dat", tracks, listed))
    fprintf(stderr, "filterbank: warning: cannot write fb_tracks.dat\n");

  if (!fbtest::writeSpectra("fb_spectra.dat", design.data(), count))
    fprintf(stderr, "filterbank: warning: cannot write fb_spectra.dat\n");
  if (!fbtest::writeDetections("fb_detections.dat", designDetections.data(), count))
    fprintf(stderr, "filterbank: warning: cannot write fb_detections.dat\n");

  if (!fbtest::writeStreamDepths("fb_streams.dat", streams))
    fprintf(stderr, "filterbank: warning: cannot write fb_streams.dat\n");

  const int diff = fbtest::firstDifference(design.data(), designDetections.data(), reference.data(),
                                           referenceDetections.data(), count);
  const uint32_t sum = fbtest::checksumOf(design.data(), designDetections.data(), count);
  delete coefficients;
  if (diff >= 0) {
    printf("filterbank: frame %d beam %d differs from the reference: FAIL\n", diff / fb::kBeams, diff % fb::kBeams);
    return 1;
  }
  printf("filterbank: %d frames, %d beams, checksum %08x: PASS\n", config.frames, fb::kBeams, sum);
  return 0;
}
