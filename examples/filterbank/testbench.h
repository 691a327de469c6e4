// The test bench's own parts: self-checks of the design's kernels against
// simple references, and the report it writes and prints.
#pragma once

#include <cstdint>
#include <cstdio>

#include "filterbank.h"

namespace fbtest {

// Each check prints one line per failure on standard error and returns
// the number of failures.
int checkFixedPoint();
int checkMatmul();
int checkFft(const fb::Coefficients* coefficients);
int checkFirBank(const fb::Coefficients* coefficients);
int checkDetector();
int checkCordic();
int checkConditioner();
int checkTracker();

// FNV-1a over every spectrum and detection list of a run.
uint32_t checksumOf(const fb::Spectrum* spectra, const fb::Detections* detections, int count);
// Index of the first spectrum or detection list that differs, or -1.
int firstDifference(const fb::Spectrum* a, const fb::Detections* da, const fb::Spectrum* b,
                    const fb::Detections* db, int count);
// Data files: one line per spectrum (frame, beam, exponent, bins) and one
// per detection. False when a file cannot be written.
bool writeSpectra(const char* path, const fb::Spectrum* spectra, int count);
bool writeDetections(const char* path, const fb::Detections* detections, int count);
// The values that passed each stream (console), and the deepest each
// stream became (data file: it depends on the threads' timing).
void printStreams(const fb::StreamStatistics statistics[fb::kStreams]);
bool writeStreamDepths(const char* path, const fb::StreamStatistics statistics[fb::kStreams]);
// Tracks of targets across frames, from the detections of a run: at most
// capacity summaries written, the number of tracks returned.
struct TrackSummary {
  int beam;
  int firstFrame;
  int lastFrame;
  int lowestBin;
  int highestBin;
  int hits;
};
int trackTargets(const fb::Detections* detections, int frames, TrackSummary* out, int capacity);
void printTracks(const TrackSummary* tracks, int count);
bool writeTracks(const char* path, const TrackSummary* tracks, int count);

// The console lines of one frame: its strongest detection per beam.
void printFrameSummary(const fb::Spectrum* spectra, const fb::Detections* detections, int frame);

}  // namespace fbtest
