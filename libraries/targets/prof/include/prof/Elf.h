/* The ELF note through which the runtime finds each instrumented binary's
 * UID in memory: a note named "NUQ" whose descriptor is the run-time address
 * of the binary's UID pointer. Compiles as C and as C++. */
#ifndef PROF_ELF_H
#define PROF_ELF_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* 24 bytes, little-endian, in its own SHT_NOTE section ".note.nuq". */
typedef struct __PROF_NUQ_Note {
  uint32_t n_namesz;      /* 4 */
  uint32_t n_descsz;      /* 8 */
  uint32_t n_type;        /* 0 */
  char Name[4];           /* "NUQ" and a zero byte */
  const char** BinaryUid; /* address of the binary's UID pointer */
} __attribute__((packed, aligned(4))) __PROF_NUQ_Note;

#ifdef __cplusplus
static_assert(sizeof(__PROF_NUQ_Note) == 24, "the note layout is fixed");
}
#endif

#endif
