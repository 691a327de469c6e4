// The generated part of the start-up stub of this binary: its functions
// (static ids from 200) and no globals or thread-local variables. The
// library functions are registered with the same addresses that the call
// sites pass to the entry hook. Its run directory holds no name lines.
#include <cstdio>

#include "profStub/stub.h"
#include "vendel.h"

int main();

#define VENDEL_FUNCTIONS(F) \
  F(200, main)              \
  F(201, fopen)             \
  F(202, fprintf)           \
  F(203, fclose)            \
  F(204, printf)            \
  F(205, vendel)

PROF_STUB_UNNAMED(VENDEL_FUNCTIONS, PROF_STUB_NONE, PROF_STUB_NONE)
