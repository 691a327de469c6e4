/* Fixed-width integer names shared by the runtime, the start-up stub and the
 * instrumented program. Compiles as C and as C++. */
#ifndef COMMONPROFINCLUDE_COMMON_H
#define COMMONPROFINCLUDE_COMMON_H

#include <stdint.h>

typedef uint8_t U8;
typedef uint32_t U32;
typedef uint64_t U64;
typedef int64_t S64;

#endif
