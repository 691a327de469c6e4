// The traffic of each stream, counted as the design uses it and written to
// the run directory's "streams" file, one line per stream, when the stream
// is deleted or, for streams still alive, at process exit. A designer reads
// there which threads produce and consume each stream, how much passes and
// how deep a FIFO would have had to be in this run.
#pragma once

#include <cstdint>

#include "hls/nuq_hls_stream.h"

// Counts of one stream by one thread (profiler thread number).
struct HlsStreamThreadCounts {
  uint32_t Thread;
  uint64_t Writes;
  uint64_t Reads;
};

struct HlsStreamStatistics {
  uint64_t Serial;       // creation order in the process, from 0
  uint32_t ElementSize;  // DataSize of the operations; 0 before the first
  uint32_t HighWater;    // largest Count the stream ever held
  uint64_t EmptyReads;   // blocking reads that found the stream empty
  HlsStreamThreadCounts* Threads;
  uint32_t ThreadCount;
  uint32_t ThreadCapacity;
  uint32_t LastThread;  // index of the slot used last: streams have one or two users
  // Links of the registry of live streams (for the exit-time lines).
  HlsStream* PreviousLive;
  HlsStream* NextLive;
};

// Writing through a null block would corrupt memory far from the cause, so
// the model's memory exhaustion ends the simulation, the way the runtime's
// fatal path does (no exit handlers, no stream flushing).
[[noreturn]] void HlsOutOfMemory();

// Attaches fresh statistics to a new stream and registers it as live.
void HlsStatisticsCreate(HlsStream* Stream);
// Called under the caller's discipline for the stream, like the operation
// itself; no lock is taken.
void HlsStatisticsWrote(HlsStream* Stream, uint32_t DataSize);
void HlsStatisticsRead(HlsStream* Stream, uint32_t DataSize);
void HlsStatisticsEmptyRead(HlsStream* Stream, uint32_t DataSize);
// Writes the stream's line (with its elements still queued) and releases
// the statistics; before the stream's elements are freed.
void HlsStatisticsDelete(HlsStream* Stream);
