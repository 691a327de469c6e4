// Compression on the runtime's own threads: a printer that hands its full
// buffers over writes the very file a printer that compresses them itself
// writes, from several writing threads at once, with records that cross
// buffers and with rings that fill (the writer then waits or compresses).
#include "trace_compression.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "traceTestSupport.h"
#include "tracereader/tracereader.h"

namespace {

using trace_test::readFile;
using trace_test::ScratchDir;
using Bytes = std::vector<uint8_t>;

// Records of varied lengths and values, as a traced thread writes them:
// LEB128 values of 1 to 10 bytes, some runs, and now and then an array
// longer than the buffer.
void writeRecords(bufferedPrinterStruct_t* p, unsigned seed, int records) {
  uint64_t x = seed * 2654435761u + 1;
  for (int i = 0; i < records; ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    PrinterLock lock(p);
    __PROF_PRINT_ULEB128(p, x % 7 == 0 ? x : x % 300);
    __PROF_PRINT_SLEB128(p, static_cast<int64_t>(x >> (x % 64)) * (x % 2 == 0 ? 1 : -1));
    if (i % 5000 == 0) {
      const Bytes big(p->buffer_size * 2 + 3, static_cast<uint8_t>(x));
      __PROF_print_array(p, big.data(), big.size());
    }
  }
}

TEST(TraceCompression, HandedOverBuffersGiveTheSameFileFromEveryThread) {
  if (compressionThreadCount() == 0) GTEST_SKIP() << "this process compresses on its own threads";
  ScratchDir dir;
  constexpr int kThreads = 4;
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&dir, t] {
      // A small buffer: many hand-overs, and full rings.
      const auto handed = dir.file("handed" + std::to_string(t));
      auto* p = createBufferedPrinter(handed.c_str(), 256);
      handOverCompression(p);
      ASSERT_EQ(p->ring.size, kTraceBuffersPerThread);
      writeRecords(p, t, 60000);
      deleteBufferedPrinter(p);
    });
  }
  for (auto& w : writers) w.join();
  for (int t = 0; t < kThreads; ++t) {
    const auto own = dir.file("own" + std::to_string(t));
    auto* p = createBufferedPrinter(own.c_str(), 256);
    writeRecords(p, t, 60000);
    deleteBufferedPrinter(p);
    const Bytes expected = readFile(own);
    EXPECT_EQ(readFile(dir.file("handed" + std::to_string(t))), expected) << "thread " << t;
    EXPECT_TRUE(tracereader::inflateTrace(expected).complete);
  }
}

TEST(TraceCompression, ALossBoundKeepsCompressionOnTheWritingThread) {
  ScratchDir dir;
  const auto path = dir.file("t");
  auto* p = createBufferedPrinter(path.c_str(), 64);
  setFlushInterval(p, 64);
  handOverCompression(p);
  EXPECT_EQ(p->ring.size, 0u) << "a flush must reach the file before the writer goes on";
  deleteBufferedPrinter(p);
}

}  // namespace
