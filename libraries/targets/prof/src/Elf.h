// The load-order walk: writes the UID of every loaded object that carries
// a NUQ note, in the dynamic loader's object order.
#pragma once

#include <link.h>

#include <cstddef>
#include <cstdio>

void __PROF_writeAllBinaryUids(FILE* Fd);
int writeBinaryIdFromElf(struct dl_phdr_info* Info, size_t Size, void* Data);
// The UID pointer slot of the NUQ note in a PT_NOTE segment, or null.
const char** findNuqNote(const unsigned char* segment, size_t memsz);
