// Finishing a trace from the crash handler: the stream ends at the last
// whole record when its thread was stopped inside one, keeps everything
// when it was between records, shows when a drain had already split the
// record, and drops whatever the thread writes afterwards; ISA-L's stream
// finishes there like zlib's.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

#include "bufferedPrinter.h"
#include "trace_compression.h"
#include "traceTestSupport.h"
#include "tracereader/tracereader.h"

namespace {

using trace_test::readFile;
using trace_test::ScratchDir;
using Bytes = std::vector<uint8_t>;

// One whole record under the printer's lock.
void record(bufferedPrinterStruct_t* p, const Bytes& bytes) {
  PrinterLock lock(p);
  for (uint8_t b : bytes) __PROF_print_char(p, b);
}

// A record whose thread is stopped after its first bytes: the record lock
// stays held, as it would by a thread stopped in the crash handler.
std::optional<PrinterLock> stopped;
void stoppedRecord(bufferedPrinterStruct_t* p, const Bytes& head) {
  stopped.emplace(p);
  for (uint8_t b : head) __PROF_print_char(p, b);
}

// Finishes the stream from the first `keep` buffered bytes and returns what
// the file inflates to; then releases the printer as the process end would.
Bytes finish(bufferedPrinterStruct_t* p, size_t keep, const std::string& path, bool wasStopped) {
  FILE* file = p->out_file;
  EXPECT_TRUE(finishStreamAfterCrash(p, keep));
  const auto trace = tracereader::inflateTrace(readFile(path));
  EXPECT_TRUE(trace.complete) << trace.error;
  if (wasStopped) stopped.reset();
  const Bytes before = readFile(path);
  record(p, {0x55, 0x56});
  __PROF_print_char(p, 0x57);
  EXPECT_EQ(readFile(path), before) << "output after the finish reached the file";
  deflateEnd(&p->c.strm);
  deleteBufferedPrinter(p);
  fclose(file);
  return trace.bytes;
}

TEST(CrashFinish, StoppedInsideARecordTheStreamEndsAtTheLastWholeOne) {
  ScratchDir dir;
  const auto path = dir.file("t");
  auto* p = createBufferedPrinter(path.c_str(), 64);
  record(p, {1, 2, 3});
  record(p, {4, 5});
  stoppedRecord(p, {6, 7});
  EXPECT_EQ(p->record_start, 5u);
  EXPECT_EQ(finish(p, p->record_start, path, true), (Bytes{1, 2, 3, 4, 5}));
}

TEST(CrashFinish, BetweenRecordsEverythingIsKeptAcrossDrains) {
  ScratchDir dir;
  const auto path = dir.file("t");
  auto* p = createBufferedPrinter(path.c_str(), 8);
  Bytes all;
  for (uint8_t i = 0; i < 10; ++i) {
    record(p, {i, static_cast<uint8_t>(i + 100), static_cast<uint8_t>(i + 200)});
    all.insert(all.end(), {i, static_cast<uint8_t>(i + 100), static_cast<uint8_t>(i + 200)});
  }
  EXPECT_GT(p->c.strm.total_in, 0u) << "some records were drained already";
  EXPECT_EQ(finish(p, p->current_count, path, false), all);
}

// A drain in the middle of a record hands its first bytes to the compressor;
// they cannot be taken back, and the mark says so.
TEST(CrashFinish, ARecordSplitByADrainIsMarked) {
  ScratchDir dir;
  const auto path = dir.file("t");
  auto* p = createBufferedPrinter(path.c_str(), 8);
  record(p, {1, 2, 3});
  record(p, {4, 5, 6});
  stoppedRecord(p, {7, 8, 9});
  EXPECT_EQ(p->record_start, kRecordSplit);
  EXPECT_EQ(finish(p, 0, path, true), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
}

// Buffers handed to a compression thread and not yet compressed belong to
// the trace: the crash finish compresses them, in order, before the rest.
TEST(CrashFinish, HandedOverBuffersAreCompressedBeforeTheCurrentOne) {
  ScratchDir dir;
  const auto path = dir.file("t");
  if (compressionThreadCount() == 0) GTEST_SKIP() << "this process compresses on its own threads";
  auto* p = createBufferedPrinter(path.c_str(), 8);
  handOverCompression(p);
  // Holding the stream as the crash handler does keeps every compression
  // thread away from it: five buffers stay handed over.
  pthread_mutex_lock(&p->ring.stream_mutex);
  Bytes all;
  for (uint8_t i = 0; i < 14; ++i) {
    record(p, {i, static_cast<uint8_t>(i + 100), static_cast<uint8_t>(i + 200)});
    all.insert(all.end(), {i, static_cast<uint8_t>(i + 100), static_cast<uint8_t>(i + 200)});
  }
  EXPECT_EQ(p->ring.handed.load() - p->ring.compressed.load(), 5u);
  FILE* file = p->out_file;
  EXPECT_TRUE(finishStreamAfterCrash(p, p->current_count));
  pthread_mutex_unlock(&p->ring.stream_mutex);
  const auto trace = tracereader::inflateTrace(readFile(path));
  EXPECT_TRUE(trace.complete) << trace.error;
  EXPECT_EQ(trace.bytes, all);
  deflateEnd(&p->c.strm);
  deleteBufferedPrinter(p);
  fclose(file);
}

// The faster codec's stream through every step a crashed thread's trace
// can see: drains that fill whole output chunks, a loss-bound flush, more
// bytes and the finish from the signal handler, whose writes bypass stdio.
TEST(CrashFinish, AnIsalStreamFinishedAfterACrashInflatesToEveryByte) {
  ScratchDir dir;
  const auto path = dir.file("t");
  FILE* file = fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  setvbuf(file, nullptr, _IONBF, 0);
  auto c = std::make_unique<compressor>();
  do_init(c.get(), file, TraceCodec{TraceCodecKind::isal, 1});
  // Half noise, half repetition: more than a chunk of output either way.
  Bytes all(400000);
  uint32_t x = 1;
  for (size_t i = 0; i < all.size(); ++i) {
    x = x * 1103515245u + 12345u;
    all[i] = (i / 1000) % 2 == 0 ? static_cast<uint8_t>(x >> 24) : static_cast<uint8_t>(i % 13);
  }
  constexpr size_t kDrained = 200 * 1024, kAfterCrash = 150000;
  for (size_t at = 0; at < kDrained; at += 5120) EXPECT_EQ(do_compress(c.get(), 5120, all.data() + at), 5120u);
  do_sync_flush(c.get());
  const auto flushed = tracereader::inflateTrace(readFile(path));
  EXPECT_EQ(flushed.bytes, Bytes(all.begin(), all.begin() + kDrained)) << "the flush wrote everything drained";
  ASSERT_TRUE(compressAfterCrash(c.get(), fileno(file), all.data() + kDrained, kAfterCrash));
  ASSERT_TRUE(finishCompressorAfterCrash(c.get(), fileno(file), all.data() + kDrained + kAfterCrash,
                                         all.size() - kDrained - kAfterCrash));
  fclose(file);
  const Bytes stream = readFile(path);
  ASSERT_GE(stream.size(), 2u);
  EXPECT_EQ((stream[0] << 8 | stream[1]) % 31, 0) << "a zlib header";
  const auto trace = tracereader::inflateTrace(stream);
  EXPECT_TRUE(trace.complete) << trace.error;
  EXPECT_EQ(trace.bytes, all);
  free(c->isal);  // the crash-time finish frees nothing
}

}  // namespace
