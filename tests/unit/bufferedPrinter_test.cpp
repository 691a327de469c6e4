// Tests of the compressed buffered printer: the zlib container it writes,
// where drains happen, when compressed bytes reach the file, closing, the
// exact LEB128 bytes, and the fatal paths (in forked children).
#include "bufferedPrinter.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <zlib.h>

#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "traceTestSupport.h"
#include "tracereader/tracereader.h"

namespace {

using trace_test::fileSize;
using trace_test::noise;
using trace_test::readFile;
using trace_test::runInChild;
using trace_test::ScratchDir;
using Bytes = std::vector<uint8_t>;

// Bytes handed to the compressor so far: tells drains apart from buffering.
uLong drained(const bufferedPrinterStruct_t* p) { return p->c.strm.total_in; }

Bytes buffered(const bufferedPrinterStruct_t* p) { return Bytes(p->buf, p->buf + p->current_count); }

TEST(BufferedPrinterStream, EmptyPrinterWritesACompleteEmptyStream) {
  ScratchDir dir;
  const auto path = dir.file("empty");
  deleteBufferedPrinter(createBufferedPrinter(path.c_str(), 5120));
  EXPECT_EQ(readFile(path), (Bytes{0x78, 0x5E, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01}));
  forceFlush(nullptr);  // ignored
}

TEST(BufferedPrinterStream, DrainsOnlyWhenTheNextByteDoesNotFit) {
  ScratchDir dir;
  const auto path = dir.file("t");
  auto* p = createBufferedPrinter(path.c_str(), 8);
  Bytes expected;
  auto put = [&](uint8_t b) {
    __PROF_print_char(p, b);
    expected.push_back(b);
  };
  auto putArray = [&](const Bytes& a) {
    __PROF_print_array(p, a.data(), a.size());
    expected.insert(expected.end(), a.begin(), a.end());
  };

  for (uint8_t i = 0; i < 8; ++i) put(i);
  EXPECT_EQ(p->current_count, 8u) << "exactly full stays undrained";
  EXPECT_EQ(drained(p), 0u);
  putArray({});
  EXPECT_EQ(drained(p), 0u) << "an empty array writes nothing";
  put(8);
  EXPECT_EQ(drained(p), 8u);
  EXPECT_EQ(buffered(p), Bytes{8});

  for (uint8_t i = 9; i < 16; ++i) put(i);
  putArray({16, 17, 18});
  EXPECT_EQ(drained(p), 16u) << "a full buffer is drained before an array";
  EXPECT_EQ(buffered(p), (Bytes{16, 17, 18}));

  putArray({19, 20, 21, 22, 23});
  EXPECT_EQ(drained(p), 24u) << "an array that fills the buffer drains at once";
  EXPECT_EQ(p->current_count, 0u);

  const Bytes big = noise(3 * 8 + 1);
  putArray(big);
  EXPECT_EQ(drained(p), 48u);
  EXPECT_EQ(buffered(p), Bytes{big.back()});

  deleteBufferedPrinter(p);
  const auto trace = tracereader::readTraceFile(path);
  EXPECT_TRUE(trace.complete);
  EXPECT_EQ(trace.bytes, expected);
}

TEST(BufferedPrinterStream, LargeArrayAndZeroSizedBufferRoundTrip) {
  ScratchDir dir;
  const Bytes big = noise(3 * 5120 + 1);
  for (size_t bufferSize : {size_t{5120}, size_t{0}}) {
    const auto path = dir.file("t" + std::to_string(bufferSize));
    auto* p = createBufferedPrinter(path.c_str(), bufferSize);
    __PROF_print_array(p, big.data(), big.size());
    __PROF_print_char(p, 0xAB);
    deleteBufferedPrinter(p);
    const auto trace = tracereader::readTraceFile(path);
    Bytes expected = big;
    expected.push_back(0xAB);
    EXPECT_TRUE(trace.complete) << bufferSize;
    EXPECT_EQ(trace.bytes, expected) << bufferSize;
  }
}

// Chunked Z_NO_FLUSH feeding plus one Z_FINISH must give the same bytes as
// one-shot level-4 compression, and nothing but whole 64 KiB chunks may
// reach the file before the close.
TEST(BufferedPrinterStream, FileIsLevel4CompressionWrittenInWholeChunks) {
  ScratchDir dir;
  const auto path = dir.file("t");
  auto* p = createBufferedPrinter(path.c_str(), 5120);
  const Bytes filler = noise(40000);
  for (int round = 0; round < 8; ++round) {
    for (uint64_t v = 0; v < 3000; ++v) {
      __PROF_PRINT_ULEB128(p, v * v * 977);
      __PROF_PRINT_SLEB128(p, -static_cast<int64_t>(v << (v % 50)));
      __PROF_print_char(p, static_cast<U8>(v));
    }
    __PROF_print_array(p, filler.data() + round * 1000, filler.size() - round * 1000);
  }
  const long openSize = fileSize(path);
  EXPECT_GT(openSize, 0);
  EXPECT_EQ(openSize % 65536, 0);
  deleteBufferedPrinter(p);

  const Bytes file = readFile(path);
  const auto trace = tracereader::inflateTrace(file);
  ASSERT_TRUE(trace.complete);
  Bytes oneShot(compressBound(trace.bytes.size()));
  uLongf oneShotSize = oneShot.size();
  ASSERT_EQ(compress2(oneShot.data(), &oneShotSize, trace.bytes.data(), trace.bytes.size(), 4), Z_OK);
  oneShot.resize(oneShotSize);
  EXPECT_EQ(file, oneShot);
}

TEST(BufferedPrinterStream, NothingReachesTheFileBeforeAChunkFills) {
  ScratchDir dir;
  const auto path = dir.file("t");
  auto* p = createBufferedPrinter(path.c_str(), 5120);
  for (uint64_t i = 0; i < 100000; ++i) __PROF_PRINT_ULEB128(p, i % 300);
  EXPECT_GT(drained(p), 0u);
  EXPECT_EQ(fileSize(path), 0);
  deleteBufferedPrinter(p);
  EXPECT_TRUE(tracereader::readTraceFile(path).complete);
}

TEST(BufferedPrinterStream, ForceFlushFinishesOnceAndLaterOutputIsDropped) {
  ScratchDir dir;
  const auto path = dir.file("t");
  auto* p = createBufferedPrinter(path.c_str(), 16);
  const Bytes content = {'a', 'b', 'c'};
  __PROF_print_array(p, content.data(), content.size());
  forceFlush(p);
  const Bytes closedFile = readFile(path);

  const Bytes late = noise(1000);
  __PROF_print_array(p, late.data(), late.size());
  __PROF_print_char(p, 1);
  __PROF_PRINT_ULEB128(p, ~0ull);
  forceFlush(p);
  deleteBufferedPrinter(p);

  EXPECT_EQ(readFile(path), closedFile);
  const auto trace = tracereader::inflateTrace(closedFile);
  EXPECT_TRUE(trace.complete);
  EXPECT_EQ(trace.trailingBytes, 0u);
  EXPECT_EQ(trace.bytes, content);
  const uLong adler = adler32(adler32(0, nullptr, 0), content.data(), content.size());
  ASSERT_GE(closedFile.size(), 4u);
  EXPECT_EQ(Bytes(closedFile.end() - 4, closedFile.end()),
            (Bytes{uint8_t(adler >> 24), uint8_t(adler >> 16), uint8_t(adler >> 8), uint8_t(adler)}));
}

// The LEB128 writers fill the plain buffer directly; with room for the
// whole value no drain happens, so the buffer shows the exact bytes.
Bytes ulebBytes(uint64_t v) {
  ScratchDir dir;
  auto* p = createBufferedPrinter(dir.file("u").c_str(), 64);
  __PROF_PRINT_ULEB128(p, v);
  Bytes out = buffered(p);
  deleteBufferedPrinter(p);
  return out;
}

Bytes slebBytes(int64_t v) {
  ScratchDir dir;
  auto* p = createBufferedPrinter(dir.file("s").c_str(), 64);
  __PROF_PRINT_SLEB128(p, v);
  Bytes out = buffered(p);
  deleteBufferedPrinter(p);
  return out;
}

Bytes repeat(size_t n, uint8_t b, Bytes tail) {
  Bytes out(n, b);
  out.insert(out.end(), tail.begin(), tail.end());
  return out;
}

TEST(BufferedPrinterLeb128, UnsignedExamples) {
  EXPECT_EQ(ulebBytes(0), Bytes{0x00});
  EXPECT_EQ(ulebBytes(127), Bytes{0x7F});
  EXPECT_EQ(ulebBytes(128), (Bytes{0x80, 0x01}));
  EXPECT_EQ(ulebBytes(5120), (Bytes{0x80, 0x28}));
  EXPECT_EQ(ulebBytes(4294967295u), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x0F}));
  EXPECT_EQ(ulebBytes(UINT64_MAX), repeat(9, 0xFF, {0x01}));
}

TEST(BufferedPrinterLeb128, SignedExamples) {
  EXPECT_EQ(slebBytes(0), Bytes{0x00});
  EXPECT_EQ(slebBytes(-1), Bytes{0x7F});
  EXPECT_EQ(slebBytes(63), Bytes{0x3F});
  EXPECT_EQ(slebBytes(64), (Bytes{0xC0, 0x00}));
  EXPECT_EQ(slebBytes(-64), Bytes{0x40});
  EXPECT_EQ(slebBytes(-65), (Bytes{0xBF, 0x7F}));
  EXPECT_EQ(slebBytes(-128), (Bytes{0x80, 0x7F}));
  EXPECT_EQ(slebBytes(int64_t{1} << 62), repeat(8, 0x80, {0xC0, 0x00}));
  EXPECT_EQ(slebBytes(-(int64_t{1} << 62) - 1), repeat(8, 0xFF, {0xBF, 0x01}));
  EXPECT_EQ(slebBytes(INT64_MIN), repeat(9, 0x80, {0x01}));
  EXPECT_EQ(slebBytes(INT64_MAX), repeat(9, 0xFF, {0x00}));
}

// With a 3-byte buffer every multi-byte value takes the per-byte path and
// crosses drains; the values must still decode unchanged, in order.
TEST(BufferedPrinterLeb128, ValuesSplitAcrossDrainsDecodeUnchanged) {
  ScratchDir dir;
  const auto path = dir.file("t");
  auto* p = createBufferedPrinter(path.c_str(), 3);
  const std::vector<int64_t> values = {0, -1, 64, -65, INT64_MIN, INT64_MAX, -(int64_t{1} << 62) - 1, 5120};
  for (int64_t v : values) {
    __PROF_PRINT_SLEB128(p, v);
    __PROF_PRINT_ULEB128(p, static_cast<uint64_t>(v));
  }
  deleteBufferedPrinter(p);
  const auto trace = tracereader::readTraceFile(path);
  ASSERT_TRUE(trace.complete);
  tracereader::Cursor cur(trace.bytes);
  for (int64_t v : values) {
    EXPECT_EQ(cur.sleb(), v);
    EXPECT_EQ(cur.uleb(), static_cast<uint64_t>(v));
  }
  EXPECT_TRUE(cur.atEnd());
}

void expectFatal(const trace_test::ChildOutcome& outcome, const std::string& message) {
  EXPECT_TRUE(outcome.exited);
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.stderrText, message);
}

const char kWriteFailed5[] = "spec:0:0: error: [TRACE] Trace buffer cannot be written to, exiting...5\n";

TEST(BufferedPrinterFailure, UnopenableFileIsFatal) {
  expectFatal(runInChild([] { (void)createBufferedPrinter("/nonexistent-dir/trace", 16); }),
              "spec:0:0: error: [TRACE] Trace file (/nonexistent-dir/trace) cannot be opened, exiting...\n");
}

TEST(BufferedPrinterFailure, WriteFailuresAreFatal) {
  // A small trace only reaches the file at the close.
  expectFatal(runInChild([] {
                auto* p = createBufferedPrinter("/dev/full", 16);
                __PROF_print_char(p, 1);
                deleteBufferedPrinter(p);
              }),
              kWriteFailed5);

  // A chunk written while draining runs into the file-size limit.
  ScratchDir dir;
  const auto path = dir.file("limited");
  expectFatal(runInChild([&] {
                signal(SIGXFSZ, SIG_IGN);
                rlimit limit{};
                getrlimit(RLIMIT_FSIZE, &limit);
                limit.rlim_cur = 1000;
                setrlimit(RLIMIT_FSIZE, &limit);
                auto* p = createBufferedPrinter(path.c_str(), 5120);
                const Bytes data = noise(200000);
                __PROF_print_array(p, data.data(), data.size());
              }),
              kWriteFailed5);
}

TEST(BufferedPrinterFailure, BrokenCompressorIsFatal) {
  ScratchDir dir;
  const auto path = dir.file("t");
  expectFatal(runInChild([&] {
                auto* p = createBufferedPrinter(path.c_str(), 16);
                deflateEnd(&p->c.strm);
                __PROF_print_char(p, 1);
                dumpBufferToFile(p);
              }),
              "spec:0:0: error: Z_STREAM_ERROR");

  // A count beyond zlib's 32-bit input count is not what gets compressed.
  expectFatal(runInChild([&] {
                auto* p = createBufferedPrinter(path.c_str(), 16);
                p->current_count = (size_t{1} << 32) + 1;
                dumpBufferToFile(p);
              }),
              "spec:0:0: error: [FAILURE - bufferedPrinter] Incorrect write to the output file, exiting...\n");
}

// Finishing must end instead of looping for ever when deflate can never
// reach the end of the stream.
TEST(BufferedPrinterFailure, UnfinishableStreamIsFatal) {
  EXPECT_EQ(finishStepFor(Z_STREAM_END), FinishStep::Done);
  EXPECT_EQ(finishStepFor(Z_OK), FinishStep::Continue);
  EXPECT_EQ(finishStepFor(Z_BUF_ERROR), FinishStep::Continue);
  EXPECT_EQ(finishStepFor(Z_STREAM_ERROR), FinishStep::Fail);
  EXPECT_EQ(finishStepFor(Z_DATA_ERROR), FinishStep::Fail);

  ScratchDir dir;
  const auto path = dir.file("t");
  expectFatal(runInChild([&] {
                auto* p = createBufferedPrinter(path.c_str(), 16);
                deflateEnd(&p->c.strm);
                do_close(&p->c);
              }),
              "spec:0:0: error: [TRACE] Trace stream cannot be finished, exiting...\n");
}

}  // namespace
