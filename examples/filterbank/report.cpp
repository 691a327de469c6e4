// What the test bench leaves behind: a checksum of a run, the comparison of
// two runs, the data files and the console summary.
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "testbench.h"

using namespace fb;

namespace fbtest {

namespace {

constexpr uint32_t kFnvOffset = 2166136261u;
constexpr uint32_t kFnvPrime = 16777619u;

uint32_t fnv(uint32_t hash, uint32_t value) {
  for (int byte = 0; byte < 4; ++byte) {
    hash ^= (value >> (8 * byte)) & 0xFFu;
    hash *= kFnvPrime;
  }
  return hash;
}

// Fields one by one: the structures' padding bytes are not part of a run.
bool sameSpectrum(const Spectrum& a, const Spectrum& b) {
  if (a.frame != b.frame || a.beam != b.beam || a.exponent != b.exponent) return false;
  for (int k = 0; k < kFftSize; ++k)
    if (a.power[k] != b.power[k]) return false;
  return true;
}

bool sameDetections(const Detections& a, const Detections& b) {
  if (a.frame != b.frame || a.beam != b.beam || a.count != b.count) return false;
  for (int i = 0; i < a.count; ++i) {
    const Detection& x = a.items[i];
    const Detection& y = b.items[i];
    if (x.bin != y.bin || x.fraction != y.fraction || x.power != y.power || x.threshold != y.threshold ||
        x.confidence != y.confidence)
      return false;
  }
  return true;
}

}  // namespace

uint32_t checksumOf(const Spectrum* spectra, const Detections* detections, int count) {
  uint32_t hash = kFnvOffset;
  for (int i = 0; i < count; ++i) {
    const Spectrum& s = spectra[i];
    hash = fnv(hash, static_cast<uint32_t>(s.frame));
    hash = fnv(hash, static_cast<uint32_t>(s.beam));
    hash = fnv(hash, static_cast<uint32_t>(s.exponent));
    for (int k = 0; k < kFftSize; ++k) hash = fnv(hash, s.power[k]);
    const Detections& d = detections[i];
    hash = fnv(hash, static_cast<uint32_t>(d.count));
    for (int j = 0; j < d.count; ++j) {
      hash = fnv(hash, static_cast<uint32_t>(d.items[j].bin));
      hash = fnv(hash, static_cast<uint32_t>(d.items[j].fraction));
      hash = fnv(hash, d.items[j].power);
    }
  }
  return hash;
}

int firstDifference(const Spectrum* a, const Detections* da, const Spectrum* b, const Detections* db, int count) {
  for (int i = 0; i < count; ++i)
    if (!sameSpectrum(a[i], b[i]) || !sameDetections(da[i], db[i])) return i;
  return -1;
}

bool writeSpectra(const char* path, const Spectrum* spectra, int count) {
  FILE* file = fopen(path, "w");
  if (file == nullptr) return false;
  for (int i = 0; i < count; ++i) {
    const Spectrum& s = spectra[i];
    fprintf(file, "%d %d %d", s.frame, s.beam, s.exponent);
    for (int k = 0; k < kFftSize / 2; ++k) fprintf(file, " %" PRIu32, s.power[k]);
    fputc('\n', file);
  }
  return fclose(file) == 0;
}

bool writeDetections(const char* path, const Detections* detections, int count) {
  FILE* file = fopen(path, "w");
  if (file == nullptr) return false;
  for (int i = 0; i < count; ++i) {
    const Detections& d = detections[i];
    for (int j = 0; j < d.count; ++j) {
      const Detection& x = d.items[j];
      fprintf(file, "%d %d %d %+.3f %" PRIu32 " %" PRIu32 " %d\n", d.frame, d.beam, x.bin, x.fraction / 256.0,
              x.power, x.threshold, x.confidence);
    }
  }
  return fclose(file) == 0;
}

void printStreams(const StreamStatistics statistics[kStreams]) {
  for (int s = 0; s < kStreams; ++s)
    printf("stream %s: %llu values\n", statistics[s].name, static_cast<unsigned long long>(statistics[s].values));
}

bool writeStreamDepths(const char* path, const StreamStatistics statistics[kStreams]) {
  FILE* file = fopen(path, "w");
  if (file == nullptr) return false;
  for (int s = 0; s < kStreams; ++s) fprintf(file, "%s %" PRIu32 "\n", statistics[s].name, statistics[s].deepest);
  return fclose(file) == 0;
}

void printFrameSummary(const Spectrum* spectra, const Detections* detections, int frame) {
  for (int b = 0; b < kBeams; ++b) {
    const int slot = frame * kBeams + b;
    const Peak peak = findPeak(spectra[slot]);
    const Detections& d = detections[slot];
    if (d.count == 0) {
      printf("frame %d beam %d: peak bin %d, no detection\n", frame, b, peak.bin);
      continue;
    }
    printf("frame %d beam %d: peak bin %d, %d detection%s, strongest at bin %d%+.2f\n", frame, b, peak.bin, d.count,
           d.count == 1 ? "" : "s", d.items[0].bin, d.items[0].fraction / 256.0);
  }
}

}  // namespace fbtest
