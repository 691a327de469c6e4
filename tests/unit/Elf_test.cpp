// The note walk that finds an instrumented binary's UID in a PT_NOTE
// segment, over hand-built segments and over this test's own process.
#include "Elf.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

void appendNote(std::vector<unsigned char>& seg, const char* name, uint32_t namesz, const void* desc,
                uint32_t descsz) {
  auto word = [&](uint32_t v) {
    unsigned char b[4];
    memcpy(b, &v, 4);
    seg.insert(seg.end(), b, b + 4);
  };
  word(namesz);
  word(descsz);
  word(0);
  const size_t nameBytes = (namesz + 3) & ~3u;
  std::vector<unsigned char> n(nameBytes, 0);
  memcpy(n.data(), name, namesz);
  seg.insert(seg.end(), n.begin(), n.end());
  const size_t descBytes = (descsz + 3) & ~3u;
  std::vector<unsigned char> d(descBytes, 0);
  memcpy(d.data(), desc, descsz);
  seg.insert(seg.end(), d.begin(), d.end());
}

const char* const kUid = "lib_7";
const char* const* const kUidSlot = &kUid;

TEST(NuqNote, FoundAfterOtherNotes) {
  std::vector<unsigned char> seg;
  const unsigned char buildId[20] = {1, 2, 3};
  appendNote(seg, "GNU", 4, buildId, sizeof buildId);
  const unsigned char abi[16] = {};
  appendNote(seg, "GNU", 4, abi, sizeof abi);
  appendNote(seg, "NUQ", 4, &kUidSlot, 8);
  const char** slot = findNuqNote(seg.data(), seg.size());
  ASSERT_NE(slot, nullptr);
  EXPECT_STREQ(*slot, "lib_7");
}

TEST(NuqNote, AbsentOrCutShortYieldsNothing) {
  std::vector<unsigned char> seg;
  const unsigned char abi[16] = {};
  appendNote(seg, "GNU", 4, abi, sizeof abi);
  EXPECT_EQ(findNuqNote(seg.data(), seg.size()), nullptr);
  appendNote(seg, "NUQ", 4, &kUidSlot, 8);
  EXPECT_EQ(findNuqNote(seg.data(), seg.size() - 1), nullptr);  // the note must fit whole
}

TEST(NuqNote, OtherFourByteNamesAreSkipped) {
  std::vector<unsigned char> seg;
  const char* other = "not_me";
  appendNote(seg, "NUX", 4, &other, 8);
  appendNote(seg, "NUQ", 4, &kUidSlot, 8);
  const char** slot = findNuqNote(seg.data(), seg.size());
  ASSERT_NE(slot, nullptr);
  EXPECT_STREQ(*slot, "lib_7");
}

TEST(NuqNote, ProcessWithoutInstrumentedBinariesListsNothing) {
  char* text = nullptr;
  size_t size = 0;
  FILE* f = open_memstream(&text, &size);
  __PROF_writeAllBinaryUids(f);
  fclose(f);
  EXPECT_EQ(std::string(text, size), "");
  free(text);
}

}  // namespace
