// Runs wrap_streams_prog: every stream write and read through the wrappers
// reports its three blocks in order, also a read of an empty stream, which
// warns on standard output and leaves the destination alone.
#include <gtest/gtest.h>

#include <string>

#include "process_support.h"
#include "trace_expect.h"

using expect::Trace;

TEST(StreamWrappers, ReportTheirBlocksInOrder) {
  const std::string profile = proctest::profileDir("wrap_streams_prog");
  proctest::removeAll(profile);
  const proctest::RunResult r =
      proctest::run(proctest::programPath("wrap_streams_prog"), {}, proctest::scratchDir("wrap_streams"));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const uint64_t heapValue = expect::reported(r.out)["heap"];
  EXPECT_EQ(r.out.substr(r.out.find("read")),
            "read 1 1\nread 1 2\nread 1 3\nread 1 4\n"
            "spec:0:0: warning: Hls::stream 'hls::stream<unsigned int>_0' is read while empty, which may "
            "result in RTL simulation hanging.\n"
            "read 0 99\n");

  // Handle: global 1 (one byte); value: global 2 (4 bytes) or heap block 1.
  Trace t;
  t.entry(200, 0);
  for (int i = 0; i < 3; ++i) t.global(2, 0).size(4).global(1, 0).size(1).global(1, 0).size(1);
  t.alloc(1, 4, heapValue);
  t.heap(1, 0).size(4).global(1, 0).size(1).global(1, 0).size(1);
  for (int i = 0; i < 3; ++i) t.global(1, 0).size(1).global(2, 0).size(4).global(1, 0).size(1);
  t.global(1, 0).size(1).heap(1, 0).size(4).global(1, 0).size(1);
  t.global(1, 0).size(1).global(2, 0).size(4).global(1, 0).size(1);  // the empty read
  t.free(1, 4).exit();
  expect::expectTrace(proctest::latestRunDir(profile), 0, t);
}
