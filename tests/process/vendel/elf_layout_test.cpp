// The executable's start-up layout, read from its ELF file: the runtime's
// start-up entry comes first in the initialiser array with the stack-size
// set-up right after it, and the NUQ note lies in its own SHT_NOTE section
// inside a PT_NOTE segment, after the ABI-tag note, pointing at the UID
// pointer of the trace configuration.
#include <elf.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "process_support.h"

namespace {

class ElfFile {
 public:
  explicit ElfFile(const std::string& path) {
    const std::string text = proctest::readFile(path);
    bytes_.assign(text.begin(), text.end());
  }

  template <typename T>
  T at(size_t offset) const {
    T value;
    memcpy(&value, bytes_.data() + offset, sizeof value);
    return value;
  }

  Elf64_Ehdr header() const { return at<Elf64_Ehdr>(0); }
  Elf64_Shdr section(size_t i) const { return at<Elf64_Shdr>(header().e_shoff + i * sizeof(Elf64_Shdr)); }
  Elf64_Phdr segment(size_t i) const { return at<Elf64_Phdr>(header().e_phoff + i * sizeof(Elf64_Phdr)); }

  const Elf64_Shdr* findSection(const std::string& name, Elf64_Shdr* out) const {
    const Elf64_Shdr names = section(header().e_shstrndx);
    for (size_t i = 0; i < header().e_shnum; ++i) {
      const Elf64_Shdr s = section(i);
      if (name == reinterpret_cast<const char*>(bytes_.data() + names.sh_offset + s.sh_name)) {
        *out = s;
        return out;
      }
    }
    return nullptr;
  }

  // Name of the symbol at address, or "" when there is none.
  std::string symbolAt(uint64_t address) const {
    Elf64_Shdr symtab{}, strtab{};
    if (findSection(".symtab", &symtab) == nullptr || findSection(".strtab", &strtab) == nullptr) return "";
    for (size_t off = 0; off < symtab.sh_size; off += sizeof(Elf64_Sym)) {
      const Elf64_Sym sym = at<Elf64_Sym>(symtab.sh_offset + off);
      if (sym.st_value == address && ELF64_ST_TYPE(sym.st_info) == STT_FUNC)
        return reinterpret_cast<const char*>(bytes_.data() + strtab.sh_offset + sym.st_name);
    }
    return "";
  }

  uint64_t symbol(const std::string& name) const {
    Elf64_Shdr symtab{}, strtab{};
    if (findSection(".symtab", &symtab) == nullptr || findSection(".strtab", &strtab) == nullptr) return 0;
    for (size_t off = 0; off < symtab.sh_size; off += sizeof(Elf64_Sym)) {
      const Elf64_Sym sym = at<Elf64_Sym>(symtab.sh_offset + off);
      if (name == reinterpret_cast<const char*>(bytes_.data() + strtab.sh_offset + sym.st_name)) return sym.st_value;
    }
    return 0;
  }

 private:
  std::vector<unsigned char> bytes_;
};

TEST(ElfLayout, StartUpEntryComesFirstThenTheStackSizeSetUp) {
  const ElfFile elf(proctest::programPath("vendel_under_test"));
  Elf64_Shdr initArray{};
  ASSERT_NE(elf.findSection(".init_array", &initArray), nullptr);
  std::vector<uint64_t> entries;
  for (uint64_t off = 0; off < initArray.sh_size; off += 8) entries.push_back(elf.at<uint64_t>(initArray.sh_offset + off));

  // Only initialisers of the priorities reserved for the implementation
  // (a sanitizer's module constructors) may come before the runtime's.
  size_t first = 0;
  while (first < entries.size() && elf.symbolAt(entries[first]).rfind("_sub_I_000", 0) == 0) ++first;
  ASSERT_LT(first + 1, entries.size());
  EXPECT_EQ(entries[first], elf.symbol("__PROF_sharedLibraryInit"));
  EXPECT_EQ(entries[first + 1], elf.symbol("nuqSetMaxStackSize"));
}

TEST(ElfLayout, NuqNoteSitsInANoteSegmentAfterTheAbiTag) {
  const ElfFile elf(proctest::programPath("vendel_under_test"));
  Elf64_Shdr note{};
  ASSERT_NE(elf.findSection(".note.nuq", &note), nullptr);
  EXPECT_EQ(note.sh_type, static_cast<uint32_t>(SHT_NOTE));
  EXPECT_EQ(note.sh_addralign, 4u);
  EXPECT_EQ(note.sh_size, 24u);
  EXPECT_EQ(elf.at<uint32_t>(note.sh_offset), 4u);
  EXPECT_EQ(elf.at<uint32_t>(note.sh_offset + 4), 8u);
  EXPECT_EQ(elf.at<uint32_t>(note.sh_offset + 8), 0u);
  EXPECT_EQ(elf.at<uint32_t>(note.sh_offset + 12), 0x0051554Eu);  // "NUQ\0"
  EXPECT_EQ(elf.at<uint64_t>(note.sh_offset + 16), elf.symbol("__PROF_TraceInitData") + 8);

  bool inNoteSegment = false;
  for (size_t i = 0; i < elf.header().e_phnum; ++i) {
    const Elf64_Phdr p = elf.segment(i);
    if (p.p_type != PT_NOTE || note.sh_addr < p.p_vaddr || note.sh_addr + 24 > p.p_vaddr + p.p_memsz) continue;
    inNoteSegment = true;
    // Walk the segment's notes up to ours: the ABI tag must come before it.
    bool abiTagSeen = false;
    for (uint64_t off = p.p_offset; off < note.sh_offset;) {
      const uint32_t namesz = elf.at<uint32_t>(off);
      const uint32_t descsz = elf.at<uint32_t>(off + 4);
      if (elf.at<uint32_t>(off + 8) == NT_GNU_ABI_TAG) abiTagSeen = true;
      off += 12 + ((namesz + 3) & ~3u) + ((descsz + 3) & ~3u);
    }
    EXPECT_TRUE(abiTagSeen);
  }
  EXPECT_TRUE(inNoteSegment);
}

}  // namespace
