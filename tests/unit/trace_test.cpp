// Tests of the trace record emitters: the exact bytes of every record as
// they come out of a closed trace file, and that a close from another
// thread always falls between whole records.
#include "trace.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "traceTestSupport.h"
#include "tracereader/tracereader.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Runs body against a fresh printer, closes it and returns the inflated trace.
template <typename Body>
Bytes traceOf(Body body) {
  trace_test::ScratchDir dir;
  const auto path = dir.file("thread0000-trace.txt");
  auto* p = createBufferedPrinter(path.c_str(), 5120);
  body(p);
  deleteBufferedPrinter(p);
  const auto trace = tracereader::readTraceFile(path);
  EXPECT_TRUE(trace.complete);
  return trace.bytes;
}

TEST(TraceRecords, HeaderCarriesVersionAndTraceModes) {
  for (bool mem : {false, true}) {
    for (bool alloc : {false, true}) {
      const Bytes got = traceOf([&](auto* p) { __PROF_TRInitTrace(p, Configuration{mem, alloc}); });
      EXPECT_EQ(got, (Bytes{0x18, 0x05, 0x1A, uint8_t(mem), uint8_t(alloc)}));
    }
  }
}

TEST(TraceRecords, FunctionEvents) {
  EXPECT_EQ(traceOf([](auto* p) { __PROF_TRFunctionEntry(p, 0, 5); }), (Bytes{0x00, 0x05, 0x00}));
  // Function id before caller; 32-bit values are never sign-extended.
  EXPECT_EQ(traceOf([](auto* p) { __PROF_TRFunctionEntry(p, 0xFFFFFFFFu, 200); }),
            (Bytes{0x00, 0xC8, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F}));
  EXPECT_EQ(traceOf([](auto* p) { __PROF_TRFunctionExit(p); }), Bytes{0x02});
  EXPECT_EQ(traceOf([](auto* p) { __PROF_TRFunctionExitWithReturn(p, 300); }), (Bytes{0x28, 0xAC, 0x02}));
  EXPECT_EQ(traceOf([](auto* p) { __PROF_TRFunctionExitUnwind(p); }), Bytes{0x12});
  EXPECT_EQ(traceOf([](auto* p) { __PROF_TRFunctionExitUnwindStop(p, 300); }), (Bytes{0x14, 0xAC, 0x02}));
  EXPECT_EQ(traceOf([](auto* p) { __PROF_TRFunctionVlaInit(p, 0); }), (Bytes{0x16, 0x00}));
}

TEST(TraceRecords, HeapAndThreadEvents) {
  EXPECT_EQ(traceOf([](auto* p) { __PROF_TRMemAlloc(p, 1, 16, 0x1000); }),
            (Bytes{0x06, 0x01, 0x10, 0x80, 0x20}));
  EXPECT_EQ(traceOf([](auto* p) { __PROF_TRMemRealloc(p, 1, 32, 0x2000); }),
            (Bytes{0x08, 0x01, 0x20, 0x80, 0x40}));
  // Size before identifier, unlike the two records above.
  EXPECT_EQ(traceOf([](auto* p) { __PROF_TRMemFree(p, 1, 16); }), (Bytes{0x0A, 0x10, 0x01}));
  EXPECT_EQ(traceOf([](auto* p) { __PROF_TRPthreadCreate(p, 1); }), (Bytes{0x0C, 0x01}));
  EXPECT_EQ(traceOf([](auto* p) { __PROF_TRPthreadJoin(p, 0xFFFFFFFFu); }),
            (Bytes{0x0E, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F}));
}

TEST(TraceRecords, MemoryAccesses) {
  EXPECT_EQ(traceOf([](auto* p) { __PROF_TRLocalAccess(p, 1, 2); }), (Bytes{0x03, 0x01, 0x02}));
  EXPECT_EQ(traceOf([](auto* p) { __PROF_TRGlobalAccess(p, 0, 0); }), (Bytes{0x04, 0x00, 0x00}));
  EXPECT_EQ(traceOf([](auto* p) { __PROF_TRArgAccess(p, 1, 3, 200); }), (Bytes{0x05, 0x01, 0x03, 0xC8, 0x01}));
  EXPECT_EQ(traceOf([](auto* p) { __PROF_TRHeapAccess(p, 5, 8); }), (Bytes{0x06, 0x05, 0x08}));
  // Owning thread before offset.
  EXPECT_EQ(traceOf([](auto* p) { __PROF_TRRemoteAccess(p, 2, 3, 4, 1); }),
            (Bytes{0x07, 0x02, 0x03, 0x01, 0x04}));
}

TEST(TraceRecords, UntaggedValues) {
  const uint8_t ab[] = {'a', 'b'};
  EXPECT_EQ(traceOf([&](auto* p) { __PROF_TRPrintArray(p, ab, 2); }), (Bytes{0x02, 0x61, 0x62}));
  EXPECT_EQ(traceOf([](auto* p) { __PROF_TRPrintArray(p, nullptr, 0); }), Bytes{0x00});
  EXPECT_EQ(traceOf([](auto* p) { __PROF_TRPrintS64(p, -65); }), (Bytes{0xBF, 0x7F}));

  // An array longer than the plain buffer keeps its length prefix and bytes.
  const Bytes big = trace_test::noise(6000);
  Bytes expected = {0xF0, 0x2E};
  expected.insert(expected.end(), big.begin(), big.end());
  EXPECT_EQ(traceOf([&](auto* p) { __PROF_TRPrintArray(p, big.data(), big.size()); }), expected);
}

// The finalising thread force-closes a printer while its owner is still
// writing: the file must hold the header and a run of whole records.
TEST(TraceRecords, ConcurrentCloseFallsBetweenRecords) {
  trace_test::ScratchDir dir;
  const auto path = dir.file("t");
  auto* p = createBufferedPrinter(path.c_str(), 5120);
  __PROF_TRInitTrace(p, Configuration{true, true});

  std::atomic<uint64_t> written{0};
  std::atomic<bool> stop{false};
  std::thread owner([&] {
    for (uint64_t uid = 1; !stop.load(); ++uid) {
      // Lengths vary with uid so record ends fall everywhere in the buffer.
      __PROF_TRMemAlloc(p, uid, uid << (uid % 40), ~uid);
      written.store(uid);
    }
  });
  while (written.load() < 20000) std::this_thread::yield();
  // Every record finished before the close began must be in the file; the
  // owner goes on writing (into the closed printer) while the close runs.
  const uint64_t beforeClose = written.load();
  forceFlush(p);
  stop.store(true);
  owner.join();
  deleteBufferedPrinter(p);

  const auto trace = tracereader::readTraceFile(path);
  ASSERT_TRUE(trace.complete);
  tracereader::Cursor cur(trace.bytes);
  ASSERT_TRUE(cur.raw(5).has_value());
  uint64_t uid = 0;
  while (!cur.atEnd()) {
    ++uid;
    ASSERT_EQ(cur.uleb(), uint64_t{6}) << "record " << uid;
    ASSERT_EQ(cur.uleb(), uid);
    ASSERT_EQ(cur.uleb(), uid << (uid % 40));
    ASSERT_EQ(cur.uleb(), ~uid);
  }
  EXPECT_GE(uid, beforeClose);
}

}  // namespace
