// The record lock biased towards the printer's own thread: another thread
// that closes the printer while the owner writes as fast as it can must
// find it between two records every time, and the owner must go on (its
// later records dropped) without hanging.
#include "bufferedPrinter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "traceTestSupport.h"
#include "tracereader/tracereader.h"

namespace {

using trace_test::readFile;
using trace_test::ScratchDir;

constexpr size_t kRecordLength = 13;  // crosses buffer ends at every offset

TEST(PrinterLock, ACloseFromAnotherThreadNeverCutsARecord) {
  ScratchDir dir;
  for (int round = 0; round < 40; ++round) {
    const auto path = dir.file("t" + std::to_string(round));
    bufferedPrinterStruct_t* p = nullptr;
    std::atomic<bool> created{false};
    std::atomic<long> written{0};
    std::atomic<bool> stop{false};
    std::thread owner([&] {
      p = createBufferedPrinter(path.c_str(), 64);
      created.store(true);
      for (uint64_t i = 0; !stop.load(std::memory_order_relaxed); ++i) {
        PrinterLock lock(p);
        for (size_t b = 0; b < kRecordLength; ++b) __PROF_print_char(p, static_cast<uint8_t>(i));
        written.fetch_add(1, std::memory_order_relaxed);
      }
    });
    while (!created.load()) std::this_thread::yield();
    while (written.load() < 1000 + round * 500) std::this_thread::yield();
    forceFlush(p);  // the exit path's close, from a thread that does not own the printer
    const long atClose = written.load();
    while (written.load() < atClose + 1000) std::this_thread::yield();
    stop.store(true);
    owner.join();

    const auto trace = tracereader::inflateTrace(readFile(path));
    ASSERT_TRUE(trace.complete) << trace.error;
    ASSERT_EQ(trace.bytes.size() % kRecordLength, 0u) << "round " << round << ": a record was cut";
    for (size_t r = 0; r < trace.bytes.size() / kRecordLength; ++r)
      for (size_t b = 0; b < kRecordLength; ++b)
        ASSERT_EQ(trace.bytes[r * kRecordLength + b], static_cast<uint8_t>(r)) << "round " << round << ", record " << r;
    deleteBufferedPrinter(p);
  }
}

}  // namespace
