// Finds each instrumented binary's note among the loaded objects' PT_NOTE
// segments and writes the UID it designates (through two pointers).
#include "Elf.h"

#include <cstdint>
#include <cstring>

#include "prof/Elf.h"

namespace {

constexpr size_t AlignUp4(size_t n) { return (n + 3) & ~static_cast<size_t>(3); }

uint32_t readWord(const unsigned char* p) {
  uint32_t v;
  memcpy(&v, p, sizeof v);
  return v;
}

}  // namespace

const char** findNuqNote(const unsigned char* segment, size_t memsz) {
  size_t offset = 0;
  while (offset + sizeof(__PROF_NUQ_Note) <= memsz) {
    const unsigned char* note = segment + offset;
    const uint32_t namesz = readWord(note);
    const uint32_t descsz = readWord(note + 4);
    if (namesz == 4 && memcmp(note + 12, "NUQ", 4) == 0) {
      const char** uid;
      memcpy(&uid, note + 16, sizeof uid);
      return uid;
    }
    offset += (namesz == 0) ? 4 : 12 + AlignUp4(namesz) + AlignUp4(descsz);
  }
  return nullptr;
}

int writeBinaryIdFromElf(struct dl_phdr_info* Info, size_t, void* Data) {
  if (Info->dlpi_phnum == 0) return 0;
  auto* Fd = static_cast<FILE*>(Data);
  for (ElfW(Half) i = 0; i < Info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& ph = Info->dlpi_phdr[i];
    if (ph.p_type != PT_NOTE || ph.p_memsz < sizeof(__PROF_NUQ_Note)) continue;
    const auto* segment = reinterpret_cast<const unsigned char*>(Info->dlpi_addr + ph.p_vaddr);
    if (const char** uid = findNuqNote(segment, ph.p_memsz)) {
      fprintf(Fd, "%s\n", *uid);
      return 0;
    }
  }
  return 0;
}

void __PROF_writeAllBinaryUids(FILE* Fd) { dl_iterate_phdr(writeBinaryIdFromElf, Fd); }
