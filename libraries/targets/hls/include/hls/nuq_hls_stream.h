/* Software semantics of the design's hardware FIFO streams: an unbounded
 * first-in-first-out queue of byte copies whose writes never block and
 * whose reads of an empty stream return at once with a warning (the RTL
 * simulation would hang there). The design's stream objects hold an
 * HlsStream* handle and call these functions. Streams have no locks: one
 * stream is used by one thread at a time, and streams with generated names
 * are created from one thread. Each stream's traffic (writes and reads per
 * thread, empty reads, elements left, occupancy high-water mark) is written
 * to the run directory's "streams" file when the stream is deleted, or at
 * process exit for streams still alive. Compiles as C and as C++. */
#ifndef HLS_NUQ_HLS_STREAM_H
#define HLS_NUQ_HLS_STREAM_H

#include <stdint.h>

#define NUQ_HLS_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/* One queued value: a pointer to the next newer element, then the value's
 * bytes in the same allocation. Elements do not record their size. */
typedef struct HlsStreamElement HlsStreamElement;
/* What the model counts about one stream for the run directory's "streams"
 * file; owned by the stream, private to the model. */
typedef struct HlsStreamStatistics HlsStreamStatistics;

typedef struct HlsStream {
  HlsStreamElement* Front; /* oldest element, read next; null when empty */
  HlsStreamElement* Back;  /* newest element; null when empty */
  char* Name;              /* owned display name used in warnings */
  uint32_t Count;          /* number of queued elements */
  HlsStreamStatistics* Statistics; /* owned; the model's counts */
} HlsStream;

/* New empty stream. Name is copied, except that "<prefix>::stream()" with
 * IsUserGivenName 0 becomes "<prefix>_<n>", n a process-wide hex counter. */
NUQ_HLS_API HlsStream* nuq_hls_stream_create(const char* Name, int IsUserGivenName);
/* Always 0: a stream is unbounded. */
NUQ_HLS_API int nuq_hls_stream_full(HlsStream* Stream);
/* 1 when no element is queued, else 0. */
NUQ_HLS_API int nuq_hls_stream_empty(HlsStream* Stream);
/* Number of queued elements. */
NUQ_HLS_API uint32_t nuq_hls_stream_size(HlsStream* Stream);
/* Queues a copy of DataSize (>= 1) bytes at Data; never blocks. */
NUQ_HLS_API void nuq_hls_stream_blocking_write(HlsStream** StreamPtr, const void* Data,
                                               uint32_t DataSize);
/* As the blocking write; returns 1. */
NUQ_HLS_API int nuq_hls_stream_non_blocking_write(HlsStream** StreamPtr, const void* Data,
                                                  uint32_t DataSize);
/* Moves the oldest value (DataSize bytes, no more than written) to Data and
 * returns 1; when empty, warns on stdout, leaves Data alone and returns 0. */
NUQ_HLS_API int nuq_hls_stream_blocking_read(HlsStream** StreamPtr, void* Data,
                                             uint32_t DataSize);
/* As the blocking read, but an empty stream returns 0 silently. */
NUQ_HLS_API int nuq_hls_stream_non_blocking_read(HlsStream** StreamPtr, void* Data,
                                                 uint32_t DataSize);
/* Lists the queued values on stdout, oldest first, each as hex bytes. */
NUQ_HLS_API void nuq_hls_print_stream(HlsStream* Stream, uint32_t DataSize);
/* Warns on stdout when data is left, then frees the stream; null is a no-op. */
NUQ_HLS_API void nuq_hls_stream_delete(HlsStream* Stream);

#ifdef __cplusplus
}
#endif

#endif
