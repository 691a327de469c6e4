#include "codec_timing.h"

#include <time.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include <isa-l/igzip_lib.h>

namespace designbench {

namespace {

constexpr size_t kOutputArea = 65536;

double threadCpuMs() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

[[noreturn]] void codecFailed(const char* what, int code) {
  fprintf(stderr, "%s failed (%d)\n", what, code);
  exit(1);
}

// The output area of a replay, emptied into the result whenever it fills.
template <typename Stream>
struct OutputArea {
  uint8_t bytes[kOutputArea];
  void reset(Stream* s) {
    s->next_out = bytes;
    s->avail_out = kOutputArea;
  }
  void drain(Stream* s, Compressed* into) {
    into->bytes.insert(into->bytes.end(), bytes, bytes + (kOutputArea - s->avail_out));
    reset(s);
  }
};

size_t chunkAt(std::span<const uint8_t> plain, size_t at) {
  return plain.size() - at < kPrinterBufferSize ? plain.size() - at : kPrinterBufferSize;
}

size_t isalLevelBuffer(int level) {
  switch (level) {
    case 1: return ISAL_DEF_LVL1_DEFAULT;
    case 2: return ISAL_DEF_LVL2_DEFAULT;
    default: return ISAL_DEF_LVL3_DEFAULT;
  }
}

// ISA-L's deflate with zlib framing, fed like the printer feeds zlib.
Compressed isalAsPrinter(std::span<const uint8_t> plain, int level) {
  Compressed result;
  result.bytes.reserve(plain.size() / 2 + 64);
  auto area = std::make_unique<OutputArea<isal_zstream>>();
  auto s = std::make_unique<isal_zstream>();
  std::vector<uint8_t> levelBuffer(isalLevelBuffer(level));
  const double start = threadCpuMs();
  isal_deflate_init(s.get());
  s->gzip_flag = IGZIP_ZLIB;
  s->level = static_cast<uint32_t>(level);
  s->level_buf = levelBuffer.data();
  s->level_buf_size = static_cast<uint32_t>(levelBuffer.size());
  s->flush = NO_FLUSH;
  area->reset(s.get());
  size_t at = 0;
  do {
    const size_t n = chunkAt(plain, at);
    s->next_in = const_cast<uint8_t*>(plain.data() + at);
    s->avail_in = static_cast<uint32_t>(n);
    at += n;
    s->end_of_stream = at == plain.size();
    while (true) {
      const int r = isal_deflate(s.get());
      if (r != COMP_OK) codecFailed("isal_deflate", r);
      const bool done = s->end_of_stream ? s->internal_state.state == ZSTATE_END : s->avail_in == 0;
      if (done) break;
      area->drain(s.get(), &result);
    }
  } while (at < plain.size());
  area->drain(s.get(), &result);
  result.cpuMs = threadCpuMs() - start;
  return result;
}

}  // namespace

Compressed deflateAsPrinter(std::span<const uint8_t> plain, int level) {
  Compressed result;
  result.bytes.reserve(plain.size() / 2 + 64);
  auto area = std::make_unique<OutputArea<z_stream>>();
  z_stream s{};
  const double start = threadCpuMs();
  int r = deflateInit(&s, level);
  if (r != Z_OK) codecFailed("deflateInit", r);
  area->reset(&s);
  for (size_t at = 0; at < plain.size(); at += kPrinterBufferSize) {
    s.next_in = const_cast<Bytef*>(plain.data() + at);
    s.avail_in = static_cast<uInt>(chunkAt(plain, at));
    while (true) {
      r = deflate(&s, Z_NO_FLUSH);
      if (r == Z_STREAM_ERROR) codecFailed("deflate", r);
      if (s.avail_in == 0) break;
      area->drain(&s, &result);
    }
  }
  do {
    r = deflate(&s, Z_FINISH);
    if (r != Z_OK && r != Z_STREAM_END && r != Z_BUF_ERROR) codecFailed("deflate(Z_FINISH)", r);
    area->drain(&s, &result);
  } while (r != Z_STREAM_END);
  deflateEnd(&s);
  result.cpuMs = threadCpuMs() - start;
  return result;
}

std::vector<Codec> replayCodecs() {
  std::vector<Codec> codecs = {{"zlib 4", deflateAsPrinter, 4}, {"zlib 1", deflateAsPrinter, 1}};
  codecs.push_back({"ISA-L 1", isalAsPrinter, 1});
  codecs.push_back({"ISA-L 2", isalAsPrinter, 2});
  codecs.push_back({"ISA-L 3", isalAsPrinter, 3});
  return codecs;
}

}  // namespace designbench
