// Tests of the trace reader: complete, truncated and damaged zlib streams,
// and LEB128 decoding including the ten-byte forms and short data.
#include "tracereader/tracereader.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <vector>

#include "traceTestSupport.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes compressLevel4(const Bytes& plain) {
  Bytes out(compressBound(plain.size()));
  uLongf size = out.size();
  EXPECT_EQ(compress2(out.data(), &size, plain.data(), plain.size(), 4), Z_OK);
  out.resize(size);
  return out;
}

TEST(TraceReaderInflate, CompleteTruncatedAndDamagedStreams) {
  const Bytes plain = trace_test::noise(300000);
  Bytes z = compressLevel4(plain);

  auto whole = tracereader::inflateTrace(z);
  EXPECT_TRUE(whole.complete);
  EXPECT_FALSE(whole.corrupt);
  EXPECT_EQ(whole.bytes, plain);

  // A dead process leaves whole 64 KiB chunks: readable as far as they go.
  auto cut = tracereader::inflateTrace(std::span(z).first(65536));
  EXPECT_FALSE(cut.complete);
  EXPECT_FALSE(cut.corrupt);
  EXPECT_GT(cut.bytes.size(), 30000u);
  EXPECT_TRUE(std::equal(cut.bytes.begin(), cut.bytes.end(), plain.begin()));

  auto nothing = tracereader::inflateTrace({});
  EXPECT_FALSE(nothing.complete);
  EXPECT_TRUE(nothing.bytes.empty());

  Bytes withTrailer = z;
  withTrailer.push_back(0x55);
  EXPECT_EQ(tracereader::inflateTrace(withTrailer).trailingBytes, 1u);

  z.back() ^= 1;  // Adler-32 no longer matches
  auto damaged = tracereader::inflateTrace(z);
  EXPECT_FALSE(damaged.complete);
  EXPECT_TRUE(damaged.corrupt);
  EXPECT_EQ(damaged.bytes, plain);

  EXPECT_FALSE(tracereader::readTraceFile("/nonexistent-dir/trace").readable);
}

TEST(TraceReaderCursor, DecodesLeb128AndRawBytes) {
  const Bytes data = {
      0x80, 0x28,                                                  // uleb 5120
      0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01,  // uleb 2^64-1
      0xBF, 0x7F,                                                  // sleb -65
      0xC0, 0x00,                                                  // sleb 64
      0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01,  // sleb -2^63
      0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xBF, 0x01,  // sleb -2^62-1
      0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xBF, 0x7F,  // same, sign-extended
      0x61, 0x62,                                                  // raw "ab"
      0x80, 0x80,                                                  // cut-off value
  };
  tracereader::Cursor cur(data);
  EXPECT_EQ(cur.uleb(), 5120u);
  EXPECT_EQ(cur.uleb(), UINT64_MAX);
  EXPECT_EQ(cur.sleb(), -65);
  EXPECT_EQ(cur.sleb(), 64);
  EXPECT_EQ(cur.sleb(), INT64_MIN);
  EXPECT_EQ(cur.sleb(), -(int64_t{1} << 62) - 1);
  EXPECT_EQ(cur.sleb(), -(int64_t{1} << 62) - 1);
  auto raw = cur.raw(2);
  ASSERT_TRUE(raw.has_value());
  EXPECT_EQ(Bytes(raw->begin(), raw->end()), (Bytes{'a', 'b'}));

  const size_t before = cur.position();
  EXPECT_FALSE(cur.uleb().has_value());
  EXPECT_FALSE(cur.sleb().has_value());
  EXPECT_FALSE(cur.raw(3).has_value());
  EXPECT_EQ(cur.position(), before) << "failed reads consume nothing";
  EXPECT_EQ(cur.remaining(), 2u);

  const Bytes overlong(11, 0x80);
  tracereader::Cursor tooLong(overlong);
  EXPECT_FALSE(tooLong.uleb().has_value());
}

}  // namespace
