// The start-up entry of an instrumented binary and the three registration
// routines that the binary's generated part provides.
#pragma once

#include <stdio.h>

#include "prof/proflibAPI.h"
#include "profStub/stub.h"

#ifdef __cplusplus
extern "C" {
#endif

PROF_API extern const char* __PROF_MainBinaryUid;
/* Tables that reference every hook and every wrapper. */
PROF_API extern const ProfilerFunctions __PROF_FORCE_DECLARATION_STUB;
PROF_API extern const struct ProfCStdWrappers __PROF_FORCE_DECLARATION_CSTD_WRAPPERS;

/* First entry of the initialiser array: hands the binary to the runtime. */
void __PROF_sharedLibraryInit(int argc, char** argv);

#ifdef __cplusplus
}
#endif
