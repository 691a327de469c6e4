// Tests of the run report's analysis on a synthetic run directory: the
// inclusive count of a recursive function, the access patterns, the
// histogram's growing buckets, bytes touched by single and block accesses,
// heap blocks named by the function below the allocation bracket, sharing,
// and the streams file with a malformed line.
#include "report/report.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <fstream>
#include <initializer_list>
#include <vector>

#include "traceTestSupport.h"

namespace {

using Bytes = std::vector<uint8_t>;

void uleb(Bytes& out, std::initializer_list<uint64_t> values) {
  for (uint64_t v : values) {
    do {
      uint8_t byte = v & 0x7F;
      v >>= 7;
      if (v != 0) byte |= 0x80;
      out.push_back(byte);
    } while (v != 0);
  }
}

void writeTrace(const std::string& path, const Bytes& plain) {
  Bytes z(compressBound(plain.size()));
  uLongf size = z.size();
  ASSERT_EQ(compress2(z.data(), &size, plain.data(), plain.size(), 4), Z_OK);
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(z.data()), static_cast<std::streamsize>(size));
}

const report::VariableSummary& variable(const report::Report& r, const std::string& name) {
  for (const report::VariableSummary& v : r.variables)
    if (v.name == name) return v;
  throw std::runtime_error("no variable " + name);
}

const report::FunctionSummary& function(const report::Report& r, const std::string& name) {
  for (const report::FunctionSummary& f : r.functions)
    if (f.name == name) return f;
  throw std::runtime_error("no function " + name);
}

TEST(ReportAnalysis, SyntheticRun) {
  trace_test::ScratchDir dir;
  std::ofstream(dir.file("workingDirectory")) << "/tmp";
  std::ofstream(dir.file("commandline")) << "\"./sim\"";
  std::ofstream(dir.file("binaries")) << "app_0\n";
  std::ofstream(dir.file("lookupOrder")) << "app_0\n";
  std::ofstream(dir.file("functionMapping")) << "200 app_0 200\n201 app_0 201\n202 app_0 202\n203 app_0 203\n204 app_0 204\n";
  std::ofstream(dir.file("globalVariableMapping"))
      << "function\tapp_0\t200\tmain\nfunction\tapp_0\t201\trec\nfunction\tapp_0\t202\tmalloc\n"
         "function\tapp_0\t203\tmemcpy\nfunction\tapp_0\t204\tworker\n"
         "global\tapp_0\t1\tarr\t64\t\t0\nglobal\tapp_0\t2\tstrided\t256\t\t0\nglobal\tapp_0\t3\trnd\t64\t\t0\n"
         "global\tapp_0\t4\tbig\t4096\t\t0\nglobal\tapp_0\t5\tbuf\t32\t\t0\nglobal\tapp_0\t6\tpair\t8\t\t0\nlocal\tapp_0\t201\t1\tx\t4\n";
  std::ofstream(dir.file("streams")) << "0\tin\t4\t3\t2\t1\t1\t2\t1:3:0 -:0:2\nnot a stream line\n";

  Bytes t0;
  uleb(t0, {24, 5, 26, 1, 1, 0, 200, 0});
  for (uint64_t o = 0; o < 64; o += 4) uleb(t0, {4, 1, o});  // arr: every int in order
  uleb(t0, {0, 201, 200});
  for (uint64_t o = 0; o < 256; o += 16) uleb(t0, {4, 2, o});  // strided: every fourth int
  uleb(t0, {0, 201, 201, 3, 1, 0, 3, 1, 0, 2, 2});           // rec calls itself: two accesses to its x
  for (uint64_t o : {0, 40, 8, 56, 16, 48, 24}) uleb(t0, {4, 3, o});
  uleb(t0, {4, 4, 0, 4, 4, 4092});
  for (int i = 0; i < 3; ++i) uleb(t0, {4, 6, 0, 4, 6, 4});  // both halves in order, three times
  uleb(t0, {0, 202, 200, 6, 1, 32, 4096, 2, 6, 1, 0, 6, 1, 4});  // malloc's block, then two accesses
  uleb(t0, {0, 203, 200, 4, 5, 8, 16, 2});                     // memcpy: 16 bytes of buf from offset 8
  uleb(t0, {2});
  writeTrace(dir.file("thread0000-trace.txt"), t0);
  Bytes t1;
  uleb(t1, {24, 5, 26, 1, 1, 0, 204, 0, 4, 1, 0, 2});
  writeTrace(dir.file("thread0001-trace.txt"), t1);

  const report::Report r = report::analyseRun(tracereader::readRunDirectory(dir.file("")));
  ASSERT_EQ(r.threads.size(), 2u);
  EXPECT_TRUE(r.threads[0].complete) << r.threads[0].problem;

  const report::FunctionSummary& rec = function(r, "rec");
  EXPECT_EQ(rec.entries, 2u);
  EXPECT_EQ(rec.accessesExclusive, 18u);
  EXPECT_EQ(rec.accessesInclusive, 18u);  // the inner call's accesses once, not again for the outer
  EXPECT_EQ(function(r, "main").accessesInclusive, r.threads[0].accesses);
  EXPECT_EQ(function(r, "main").accessesExclusive, r.threads[0].accesses - 18 - 1);  // rec's, memcpy's

  const report::VariableSummary& arr = variable(r, "arr");
  EXPECT_EQ(arr.pattern.kind, report::PatternKind::kSequential);
  EXPECT_EQ(arr.pattern.stride, 4);
  EXPECT_EQ(arr.bytesTouched, 64u);
  EXPECT_EQ(arr.histogram.bucketBytes, 4u);
  std::vector<uint64_t> perInt(16, 1);
  perInt[0] = 2;  // thread 1 reads the first one too
  EXPECT_EQ(arr.histogram.counts, perInt);
  EXPECT_TRUE(arr.shared);
  EXPECT_EQ(arr.byThread, (std::map<uint32_t, uint64_t>{{0, 16}, {1, 1}}));

  const report::VariableSummary& strided = variable(r, "strided");
  EXPECT_EQ(strided.pattern.kind, report::PatternKind::kStrided);
  EXPECT_EQ(strided.pattern.stride, 16);
  EXPECT_EQ(strided.bytesTouched, 16u * 8);  // widths unknown: at most 8 bytes each
  EXPECT_EQ(variable(r, "rec::x").pattern.kind, report::PatternKind::kSingle);
  EXPECT_EQ(variable(r, "rnd").pattern.kind, report::PatternKind::kRandom);
  // Going back to the start of a loop does not make a walk random.
  EXPECT_EQ(variable(r, "pair").pattern.kind, report::PatternKind::kSequential);

  const report::VariableSummary& big = variable(r, "big");
  EXPECT_EQ(big.histogram.bucketBytes, 64u);
  ASSERT_EQ(big.histogram.counts.size(), 64u);
  EXPECT_EQ(big.histogram.counts.front(), 1u);
  EXPECT_EQ(big.histogram.counts.back(), 1u);
  EXPECT_EQ(variable(r, "buf").bytesTouched, 16u);

  const report::VariableSummary& heap = variable(r, "heap#1 (main)");
  EXPECT_EQ(heap.size, 32u);
  EXPECT_EQ(heap.byFunction, (std::map<uint32_t, uint64_t>{{200, 2}}));
  ASSERT_EQ(r.heapSites.size(), 1u);
  EXPECT_EQ(r.heapSites[0].name, "main");
  EXPECT_EQ(r.heapSites[0].bytes, 32u);

  ASSERT_EQ(r.streams.size(), 1u);
  EXPECT_EQ(r.streams[0].producers, std::vector<uint32_t>{1});
  EXPECT_EQ(r.streams[0].consumers, std::vector<uint32_t>{report::kUnknownThread});
  EXPECT_EQ(r.streams[0].line.highWater, 2u);
  EXPECT_FALSE(r.complete);
  ASSERT_EQ(r.notes.size(), 1u);
  EXPECT_EQ(r.notes[0].rfind("streams:2: ", 0), 0u) << r.notes[0];
  ASSERT_EQ(r.neverEntered.size(), 0u);
}

}  // namespace
