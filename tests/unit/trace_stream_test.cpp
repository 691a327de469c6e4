// Tests of the streaming reader and the size limit of the whole-trace
// interface: values that straddle inflation windows, truncated and damaged
// streams with the offset reached, and a decompression bomb read under an
// address-space limit in a child process.
#include "tracereader/trace_stream.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "traceTestSupport.h"
#include "tracereader/tracereader.h"

namespace {

using Bytes = std::vector<uint8_t>;

void appendUleb(Bytes& out, uint64_t v) {
  while (v >= 128) {
    out.push_back(static_cast<uint8_t>((v & 0x7F) | 0x80));
    v >>= 7;
  }
  out.push_back(static_cast<uint8_t>(v));
}

Bytes deflateAll(const Bytes& plain, int level = 4) {
  Bytes out(compressBound(plain.size()));
  uLongf size = out.size();
  EXPECT_EQ(compress2(out.data(), &size, plain.data(), plain.size(), level), Z_OK);
  out.resize(size);
  return out;
}

// Values of every length from 1 to 10 bytes, enough of them that many cut
// the 64 KiB inflation windows.
std::vector<uint64_t> mixedValues(size_t count) {
  std::mt19937_64 rng(7);
  std::vector<uint64_t> values;
  for (size_t i = 0; i < count; ++i) values.push_back(rng() >> (rng() % 64));
  return values;
}

TEST(TraceStream, StreamsValuesAcrossWindowsAndTellsCompleteFromCutAndDamaged) {
  const std::vector<uint64_t> values = mixedValues(200000);
  Bytes plain;
  for (uint64_t v : values) appendUleb(plain, v);
  const Bytes z = deflateAll(plain);

  tracereader::TraceStream whole;
  ASSERT_TRUE(whole.openMemory(z));
  tracereader::Leb128 v;
  size_t i = 0;
  while (whole.next(&v) == tracereader::ReadResult::kOk) ASSERT_EQ(v.value, values[i++]) << "value " << i;
  EXPECT_EQ(i, values.size());
  EXPECT_EQ(whole.state(), tracereader::StreamState::kComplete);
  EXPECT_EQ(whole.offset(), plain.size());

  // Cut inside a value: the reader says so and where, and the stream is truncated.
  const Bytes cut(z.begin(), z.begin() + static_cast<ptrdiff_t>(z.size() / 2));
  tracereader::TraceStream partial;
  ASSERT_TRUE(partial.openMemory(cut));
  i = 0;
  tracereader::ReadResult r;
  while ((r = partial.next(&v)) == tracereader::ReadResult::kOk) ASSERT_EQ(v.value, values[i++]);
  EXPECT_EQ(partial.state(), tracereader::StreamState::kTruncated);
  EXPECT_GT(partial.offset(), plain.size() / 4);
  EXPECT_LT(partial.offset(), plain.size());
  if (r == tracereader::ReadResult::kError) {
    EXPECT_STREQ(partial.errorText(), "the data ends inside a value");
  }

  Bytes damaged = z;
  damaged.back() ^= 0x40;  // Adler-32 no longer matches
  tracereader::TraceStream bad;
  ASSERT_TRUE(bad.openMemory(damaged));
  std::span<const uint8_t> piece;
  uint64_t total = 0;
  while (bad.chunk(&piece) == tracereader::ReadResult::kOk) total += piece.size();
  EXPECT_EQ(bad.state(), tracereader::StreamState::kCorrupt);
  EXPECT_EQ(total, plain.size()) << "everything before the damage stays readable";

  const Bytes notZlib = {'h', 'e', 'l', 'l', 'o'};
  tracereader::TraceStream text;
  ASSERT_TRUE(text.openMemory(notZlib));
  EXPECT_EQ(text.next(&v), tracereader::ReadResult::kEnd);
  EXPECT_EQ(text.state(), tracereader::StreamState::kCorrupt);

  tracereader::TraceStream missing;
  EXPECT_FALSE(missing.openFile("/nonexistent-dir/trace"));
  EXPECT_EQ(missing.state(), tracereader::StreamState::kUnreadable);
}

TEST(TraceStream, RawBytesKeepOnlyWhatWasAskedFor) {
  Bytes plain = {0x03};
  plain.insert(plain.end(), 100000, 'x');
  plain.push_back(0x07);
  const Bytes z = deflateAll(plain);
  tracereader::TraceStream s;
  ASSERT_TRUE(s.openMemory(z));
  tracereader::Leb128 v;
  ASSERT_EQ(s.next(&v), tracereader::ReadResult::kOk);
  std::string kept;
  ASSERT_EQ(s.raw(100000, &kept, 16), tracereader::ReadResult::kOk);
  EXPECT_EQ(kept, std::string(16, 'x'));
  ASSERT_EQ(s.next(&v), tracereader::ReadResult::kOk);
  EXPECT_EQ(v.value, 7u);
  EXPECT_EQ(s.raw(uint64_t{1} << 40, nullptr, 0), tracereader::ReadResult::kError) << "a damaged length ends, not grows";
}

TEST(TraceReaderLimit, WholeTraceStopsAtTheLimit) {
  const Bytes plain(3 << 20, 0);
  const Bytes z = deflateAll(plain, 9);
  const auto limited = tracereader::inflateTrace(z, 1 << 20);
  EXPECT_TRUE(limited.limitExceeded);
  EXPECT_FALSE(limited.complete);
  EXPECT_EQ(limited.bytes.size(), size_t{1} << 20);
  EXPECT_FALSE(limited.error.empty());
  const auto fits = tracereader::inflateTrace(z, plain.size());
  EXPECT_TRUE(fits.complete);
  EXPECT_FALSE(fits.limitExceeded);
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// A 1 MiB trace that inflates to 1 GiB, read with 512 MiB of address space:
// the stream reads all of it, the whole-trace interface reports its limit
// or the memory it ran out of; neither throws nor aborts.
TEST(TraceReaderLimit, DecompressionBombUnderAnAddressSpaceLimit) {
  trace_test::ScratchDir dir;
  const std::string path = dir.file("bomb");
  constexpr uint64_t kInflated = uint64_t{1} << 30;
  {
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    z_stream s{};
    ASSERT_EQ(deflateInit(&s, 9), Z_OK);
    const Bytes zeros(1 << 20, 0);
    Bytes out(1 << 16);
    for (uint64_t done = 0; done <= kInflated; done += zeros.size()) {
      const bool last = done == kInflated;
      s.next_in = const_cast<Bytef*>(zeros.data());
      s.avail_in = last ? 0 : static_cast<uInt>(zeros.size());
      do {
        s.next_out = out.data();
        s.avail_out = static_cast<uInt>(out.size());
        deflate(&s, last ? Z_FINISH : Z_NO_FLUSH);
        fwrite(out.data(), 1, out.size() - s.avail_out, f);
      } while (s.avail_out == 0);
    }
    deflateEnd(&s);
    fclose(f);
  }
  ASSERT_LT(trace_test::fileSize(path), 2 << 20);

  const auto outcome = trace_test::runInChild([&] {
    const rlimit limit{512u << 20, 512u << 20};
    if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(10);
    tracereader::TraceStream stream;
    if (!stream.openFile(path)) _exit(11);
    std::span<const uint8_t> piece;
    uint64_t total = 0;
    while (stream.chunk(&piece) == tracereader::ReadResult::kOk) total += piece.size();
    if (total != kInflated || stream.state() != tracereader::StreamState::kComplete) _exit(12);
    const auto limited = tracereader::readTraceFile(path, 128u << 20);
    if (!limited.limitExceeded || limited.complete) _exit(13);
    const auto unlimited = tracereader::readTraceFile(path);  // default limit: 1 GiB, more than there is
    if (!(unlimited.outOfMemory || unlimited.limitExceeded) || unlimited.complete) _exit(14);
    fprintf(stderr, "%s\n", unlimited.error.c_str());
  });
  ASSERT_TRUE(outcome.exited) << outcome.stderrText;
  EXPECT_EQ(outcome.status, 0) << outcome.stderrText;
}
#endif

}  // namespace
