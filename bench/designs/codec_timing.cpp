#include "codec_timing.h"

#include <time.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>

namespace designbench {

namespace {

constexpr size_t kOutputArea = 65536;

double threadCpuMs() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

[[noreturn]] void zlibFailed(const char* what, int code) {
  fprintf(stderr, "zlib %s failed (%d)\n", what, code);
  exit(1);
}

}  // namespace

Deflated deflateAsPrinter(std::span<const uint8_t> plain, int level) {
  Deflated result;
  result.bytes.reserve(plain.size() / 2 + 64);
  static uint8_t area[kOutputArea];
  z_stream s{};
  const double start = threadCpuMs();
  int r = deflateInit(&s, level);
  if (r != Z_OK) zlibFailed("deflateInit", r);
  auto drainArea = [&] {
    result.bytes.insert(result.bytes.end(), area, area + (kOutputArea - s.avail_out));
    s.next_out = area;
    s.avail_out = kOutputArea;
  };
  s.next_out = area;
  s.avail_out = kOutputArea;
  for (size_t at = 0; at < plain.size(); at += kPrinterBufferSize) {
    const size_t n = plain.size() - at < kPrinterBufferSize ? plain.size() - at : kPrinterBufferSize;
    s.next_in = const_cast<Bytef*>(plain.data() + at);
    s.avail_in = static_cast<uInt>(n);
    while (true) {
      r = deflate(&s, Z_NO_FLUSH);
      if (r == Z_STREAM_ERROR) zlibFailed("deflate", r);
      if (s.avail_in == 0) break;
      drainArea();
    }
  }
  do {
    r = deflate(&s, Z_FINISH);
    if (r != Z_OK && r != Z_STREAM_END && r != Z_BUF_ERROR) zlibFailed("deflate(Z_FINISH)", r);
    drainArea();
  } while (r != Z_STREAM_END);
  deflateEnd(&s);
  result.cpuMs = threadCpuMs() - start;
  return result;
}

}  // namespace designbench
