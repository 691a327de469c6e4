#pragma once

#ifdef __cplusplus
extern "C" {
#endif

enum { kSamples = 8 };

extern int gFrames;          /* multi_main.cpp */
extern int gSmoothed;        /* multi_filter.cpp */
extern int gFilled;          /* multi_helper.c */
extern unsigned gChecksums;  /* multi_library.cpp */

void fillRamp(int* out, int n, int offset);          /* multi_helper.c */
void smooth(int* values, int n);                     /* multi_filter.cpp */
unsigned libraryChecksum(const int* values, int n);  /* multi_library.cpp, in the static library */

#ifdef __cplusplus
}
#endif
