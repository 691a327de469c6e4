#include "fir.h"

#include "hls/nuq_hls_stream.h"

static const int kTaps[3] = {1, 2, 1};

int fir(const int* samples, int count, int* out) {
  HlsStream* queue = nuq_hls_stream_create("queue", 1);
  int sum = 0;
  for (int i = 0; i < count; ++i) nuq_hls_stream_blocking_write(&queue, &samples[i], sizeof samples[i]);
  for (int i = 0; i < count; ++i) {
    int x;
    nuq_hls_stream_blocking_read(&queue, &x, sizeof x);
    out[i] = kTaps[0] * x + (i > 0 ? kTaps[1] * samples[i - 1] : 0) + (i > 1 ? kTaps[2] * samples[i - 2] : 0);
    sum += out[i];
  }
  nuq_hls_stream_delete(queue);
  return sum;
}
