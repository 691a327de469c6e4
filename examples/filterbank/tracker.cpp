// Target tracks across frames, built by the test bench from the design's
// detections: per beam, a detection continues the track whose predicted
// position (an alpha-beta filter on the sub-bin position) is nearest and
// within the gate; otherwise it starts a new track. A track that misses
// more than kMaxMisses frames in a row ends. Positions are in 1/256 bin.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "testbench.h"

using namespace fb;

namespace fbtest {

namespace {

constexpr int32_t kGate = 2 * 256;  // two bins
constexpr int kMaxMisses = 2;
constexpr int32_t kAlphaQ8 = 160;   // 0.625
constexpr int32_t kBetaQ8 = 64;     // 0.25

struct Track {
  int beam;
  int firstFrame;
  int lastFrame;
  int32_t position;  // 1/256 bin
  int32_t velocity;  // 1/256 bin per frame
  int32_t lowestBin;
  int32_t highestBin;
  int hits;
  int misses;
  bool open;
};

int32_t positionOf(const Detection& d) { return d.bin * 256 + d.fraction; }

int32_t distance(int32_t a, int32_t b) { return a > b ? a - b : b - a; }

}  // namespace

int trackTargets(const Detections* detections, int frames, TrackSummary* out, int capacity) {
  std::vector<Track> tracks;
  for (int frame = 0; frame < frames; ++frame) {
    for (int beam = 0; beam < kBeams; ++beam) {
      const Detections& list = detections[frame * kBeams + beam];
      std::vector<bool> used(static_cast<size_t>(list.count), false);
      for (Track& t : tracks) {
        if (!t.open || t.beam != beam) continue;
        const int32_t predicted = t.position + t.velocity;
        int best = -1;
        for (int i = 0; i < list.count; ++i) {
          if (used[static_cast<size_t>(i)]) continue;
          const int32_t gap = distance(positionOf(list.items[i]), predicted);
          if (gap <= kGate && (best < 0 || gap < distance(positionOf(list.items[best]), predicted))) best = i;
        }
        if (best < 0) {
          if (++t.misses > kMaxMisses) t.open = false;
          continue;
        }
        used[static_cast<size_t>(best)] = true;
        const int32_t measured = positionOf(list.items[best]);
        const int32_t residual = measured - predicted;
        t.position = predicted + ((residual * kAlphaQ8) >> 8);
        t.velocity += (residual * kBetaQ8) >> 8;
        t.lastFrame = frame;
        t.misses = 0;
        ++t.hits;
        if (list.items[best].bin < t.lowestBin) t.lowestBin = list.items[best].bin;
        if (list.items[best].bin > t.highestBin) t.highestBin = list.items[best].bin;
      }
      for (int i = 0; i < list.count; ++i) {
        if (used[static_cast<size_t>(i)]) continue;
        const Detection& d = list.items[i];
        tracks.push_back({beam, frame, frame, positionOf(d), 0, d.bin, d.bin, 1, 0, true});
      }
    }
  }
  int count = 0;
  for (const Track& t : tracks) {
    if (t.hits < 2) continue;  // a single detection is not a track
    if (count < capacity) out[count] = {t.beam, t.firstFrame, t.lastFrame, t.lowestBin, t.highestBin, t.hits};
    ++count;
  }
  return count;
}

void printTracks(const TrackSummary* tracks, int count) {
  printf("tracks: %d\n", count);
  for (int i = 0; i < count; ++i) {
    const TrackSummary& t = tracks[i];
    printf("track %d: beam %d, frames %d-%d, bins %d-%d, %d detections\n", i, t.beam, t.firstFrame, t.lastFrame,
           t.lowestBin, t.highestBin, t.hits);
  }
}

bool writeTracks(const char* path, const TrackSummary* tracks, int count) {
  FILE* file = fopen(path, "w");
  if (file == nullptr) return false;
  for (int i = 0; i < count; ++i) {
    const TrackSummary& t = tracks[i];
    fprintf(file, "%d %d %d %d %d %d\n", t.beam, t.firstFrame, t.lastFrame, t.lowestBin, t.highestBin, t.hits);
  }
  return fclose(file) == 0;
}

}  // namespace fbtest
