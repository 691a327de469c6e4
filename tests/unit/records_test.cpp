// Tests of the labelled record decoder on synthetic value sequences: every
// record kind with the bracket rules of wrapped library calls and the frame
// stack, the stops (with offset and reason) on values the convention cannot
// place, and the hand-instrumented convention.
#include "tracereader/records.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using tracereader::RecordKind;
using Bytes = std::vector<uint8_t>;

Bytes values(std::initializer_list<uint64_t> vs) {
  Bytes out;
  for (uint64_t v : vs) {
    while (v >= 128) {
      out.push_back(static_cast<uint8_t>((v & 0x7F) | 0x80));
      v >>= 7;
    }
    out.push_back(static_cast<uint8_t>(v));
  }
  return out;
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const Bytes kHeader = values({24, 5, 26, 1, 1});

tracereader::RunDirectory namedRun() {
  tracereader::RunDirectory run;
  const char* names[] = {"main", "malloc", "memcpy", "pthread_setname_np", "worker", "pthread_create"};
  for (uint32_t i = 0; i < 6; ++i) {
    run.functionMapping.push_back({200 + i, "app_0", 200 + i});
    run.names.functions.push_back({"app_0", 200 + i, names[i]});
  }
  run.names.variables.push_back({false, "app_0", 5, "gTable", 64, "", 0});
  run.names.locals.push_back({"app_0", 200, 1, "buf", 16});
  run.names.locals.push_back({"app_0", 204, 9, "item", 4});
  return run;
}

struct Decoded {
  std::vector<tracereader::Record> records;
  tracereader::DecodeStatus status;
  size_t depth = 0;
};

Decoded decode(const Bytes& bytes, tracereader::Convention convention = tracereader::Convention::kDecodable,
               bool withNames = true) {
  static const tracereader::RunDirectory run = namedRun();
  static const tracereader::NameIndex names(run);
  tracereader::MemoryValues source(bytes);
  tracereader::DecoderOptions options;
  options.convention = convention;
  options.names = withNames ? &names : nullptr;
  tracereader::RecordDecoder decoder(source, options);
  Decoded d;
  tracereader::Record r;
  while (decoder.next(&r)) d.records.push_back(r);
  d.status = decoder.status();
  d.depth = decoder.depth();
  return d;
}

TEST(RecordDecoder, LabelsEveryKindUnderTheDecodableConvention) {
  const Bytes trace = kHeader + values({0, 200, 0,          // entry main
                                        3, 1, 8,            // its local buf
                                        0, 201, 200,        // malloc: a 6 allocates
                                        6, 1, 32, 4096, 2,  //
                                        6, 1, 4,            // outside: a heap access
                                        0, 202, 200,        // memcpy: accesses carry sizes
                                        6, 1, 0, 16, 5, 1, 1, 0, 16, 2,
                                        0, 205, 200, 5, 1, 1, 0, 8, 12, 1, 2,  // pthread_create
                                        0, 203, 200, 1, 3}) +
                      Bytes{'a', 'b', 'c'} +
                      values({2, 0, 203, 200, 4294967295u, 2,  // a null name
                              0, 204, 200,                      // worker
                              5, 1, 1, 4,                       // main's buf from worker
                              7, 9, 204, 1, 12, 22, 40,         // remote access, vla
                              0, 0, 204, 18, 20, 7,             // unregistered callee unwound
                              40, 99,                           // worker returns 99
                              8, 1, 64, 8192, 10, 64, 1, 14, 1, 4, 5, 0, 2});
  const Decoded d = decode(trace);
  EXPECT_EQ(d.status.state, tracereader::DecodeStatus::kEnded) << d.status.reason << " at " << d.status.offset;
  EXPECT_EQ(d.depth, 0u);
  std::vector<RecordKind> kinds;
  for (const auto& r : d.records) kinds.push_back(r.kind);
  using K = RecordKind;
  const std::vector<RecordKind> expected = {
      K::kHeader,       K::kEntry,        K::kLocalAccess, K::kEntry,     K::kHeapAlloc,     K::kExit,
      K::kHeapAccess,   K::kEntry,        K::kHeapAccess,  K::kOuterAccess, K::kExit,        K::kEntry,
      K::kOuterAccess,  K::kThreadCreate, K::kExit,        K::kEntry,     K::kThreadName,    K::kExit,
      K::kEntry,        K::kThreadNameNull, K::kExit,      K::kEntry,     K::kOuterAccess,   K::kRemoteAccess,
      K::kVla,          K::kEntry,        K::kUnwind,      K::kUnwindStop, K::kExitWithValue, K::kHeapRealloc,
      K::kHeapFree,     K::kThreadJoin,   K::kGlobalAccess, K::kExit};
  ASSERT_EQ(kinds, expected);
  const auto& r = d.records;
  EXPECT_EQ(r[1].function, "main");
  EXPECT_EQ(r[2].variable, "buf");
  EXPECT_EQ(r[4].id, 1u);
  EXPECT_EQ(r[4].value, 32u);
  EXPECT_EQ(r[4].address, 4096u);
  EXPECT_EQ(r[5].function, "malloc");
  EXPECT_EQ(r[6].value, 4u);
  EXPECT_FALSE(r[6].hasBlockSize);
  EXPECT_TRUE(r[8].hasBlockSize);
  EXPECT_EQ(r[9].blockSize, 16u);
  EXPECT_EQ(r[12].blockSize, 8u);
  EXPECT_EQ(r[16].text, "abc");
  EXPECT_EQ(r[16].id, 1u);
  EXPECT_EQ(r[22].variable, "buf") << "frame 1 is main's";
  EXPECT_EQ(r[22].depth, 2u);
  EXPECT_EQ(r[23].thread, 1u);
  EXPECT_EQ(r[23].value, 12u);
  EXPECT_EQ(r[26].id, 0u);
  EXPECT_EQ(r[28].function, "worker");
  EXPECT_EQ(r[28].value, 99u);
  EXPECT_EQ(r[30].id, 1u);
  EXPECT_EQ(r[30].value, 64u);
  EXPECT_EQ(r[32].variable, "gTable");
}

TEST(RecordDecoder, StopsWithOffsetAndReasonOnValuesItCannotPlace) {
  const Bytes main = kHeader + values({0, 200, 0});  // 9 bytes
  const struct {
    Bytes bytes;
    uint64_t offset;
    const char* reason;
  } cases[] = {
      {main + values({1}), 9, "basic-block"},
      {main + values({0, 999, 200}), 9, "functionMapping does not list"},
      {main + values({0, 201, 77}), 9, "no static id"},
      {main + values({2, 2}), 10, "exit with no frame open"},
      {main + values({5, 1, 3, 0}), 9, "frame 3"},
      {main + values({16}), 9, "cannot start a record"},
      // Accesses to variables no name line gives: what block records of
      // blocks 1 to 3 look like.
      {main + values({3, 7, 0}), 9, "no local name line gives to main"},
      {main + values({4, 9, 0}), 9, "no global or threadlocal"},
      {main + values({4, 0, 2}), 9, "unknown address with offset 2"},
      {main + Bytes{0x03, 0x01, 0x80}, 11, "ends inside a value"},
      {main + values({0, 203, 200, 2}), 15, "before the name length"},  // 2 is the named thread
      {values({24, 4, 26, 1, 1}), 0, "unknown format version"},
      {values({24, 5, 26, 0, 1, 0, 200, 0, 3, 1, 0}), 9, "without memory accesses"},
  };
  for (const auto& c : cases) {
    const Decoded d = decode(c.bytes);
    EXPECT_EQ(d.status.state, tracereader::DecodeStatus::kStopped) << c.reason;
    EXPECT_EQ(d.status.offset, c.offset) << c.reason << ": " << d.status.reason;
    EXPECT_NE(d.status.reason.find(c.reason), std::string::npos) << d.status.reason;
  }
  const Decoded unnamed = decode(main, tracereader::Convention::kDecodable, false);
  EXPECT_EQ(unnamed.status.state, tracereader::DecodeStatus::kStopped);
  EXPECT_TRUE(unnamed.records.empty()) << "no labels without the names the convention needs";
}

TEST(RecordDecoder, HandConventionPlacesSixByTheHeaderAndAcceptsUnrecordedCalls) {
  // Accesses off: a 6 is an allocation, even outside any bracket; an exit
  // may close a call whose entry left no record.
  const Decoded allocs = decode(values({24, 5, 26, 0, 1, 0, 200, 0, 2, 2, 6, 1, 8, 100}),
                                tracereader::Convention::kHandInstrumented, false);
  EXPECT_EQ(allocs.status.state, tracereader::DecodeStatus::kEnded) << allocs.status.reason;
  ASSERT_EQ(allocs.records.size(), 5u);
  EXPECT_EQ(allocs.records[3].kind, RecordKind::kExit);
  EXPECT_EQ(allocs.records[4].kind, RecordKind::kHeapAlloc);
  EXPECT_EQ(allocs.records[4].address, 100u);

  const Decoded both = decode(kHeader + values({6, 1, 8}), tracereader::Convention::kHandInstrumented, false);
  EXPECT_EQ(both.status.state, tracereader::DecodeStatus::kStopped);
  EXPECT_EQ(both.status.offset, 5u);
}

}  // namespace

namespace {

using tracereader::AccessDirection;

// Access mode 2: a store tag makes its access a write, an untagged access
// is a read, a block access takes the direction of the call's operand; in
// a trace of mode 1 the same tag is refused and nothing has a direction.
TEST(RecordDecoder, AccessModeTwoTellsReadsFromWrites) {
  const Bytes body = values({0, 200, 0,                 // main
                             50, 3, 1, 8,               // store into buf
                             3, 1, 8,                   // load from buf
                             50, 4, 5, 4,               // store into gTable
                             0, 202, 200,               // memcpy(gTable, buf)
                             4, 5, 0, 16, 5, 1, 1, 0, 16,  // destination, main's buf
                             2, 2});
  const Decoded d = decode(values({24, 5, 26, 2, 1}) + body);
  ASSERT_EQ(d.status.state, tracereader::DecodeStatus::kEnded) << d.status.reason << " at " << d.status.offset;
  ASSERT_TRUE(d.records[0].accessKinds);
  std::vector<std::pair<RecordKind, AccessDirection>> accesses;
  for (const tracereader::Record& r : d.records)
    if (r.direction != AccessDirection::kUnknown) accesses.emplace_back(r.kind, r.direction);
  const std::vector<std::pair<RecordKind, AccessDirection>> expected = {
      {RecordKind::kLocalAccess, AccessDirection::kWrite}, {RecordKind::kLocalAccess, AccessDirection::kRead},
      {RecordKind::kGlobalAccess, AccessDirection::kWrite}, {RecordKind::kGlobalAccess, AccessDirection::kWrite},
      {RecordKind::kOuterAccess, AccessDirection::kRead}};
  EXPECT_EQ(accesses, expected);
  EXPECT_EQ(d.records[2].offset, 9u);  // the record starts at its tag

  const Decoded modeOne = decode(kHeader + body);
  EXPECT_EQ(modeOne.status.state, tracereader::DecodeStatus::kStopped);
  EXPECT_EQ(modeOne.status.offset, 9u);
  EXPECT_EQ(modeOne.status.reason, "a store tag in a trace whose access mode is not 2");
  const Decoded loose = decode(values({24, 5, 26, 2, 1, 0, 200, 0, 50, 0, 1}));
  EXPECT_EQ(loose.status.reason, "a store tag followed by 0, which is no access code");
  EXPECT_EQ(decode(values({24, 5, 26, 3, 1})).status.state, tracereader::DecodeStatus::kStopped);
}

}  // namespace
