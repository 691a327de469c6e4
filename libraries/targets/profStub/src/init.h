// The start-up entry of an instrumented binary and the three registration
// routines that the binary's generated part provides.
#pragma once

#include <stdio.h>

#include "prof/proflibAPI.h"

#ifdef __cplusplus
extern "C" {
#endif

PROF_API extern const InstrumentationConfig __PROF_TraceInitData;
PROF_API extern const char* __PROF_MainBinaryUid;
/* Tables that reference every hook and every wrapper. */
PROF_API extern const ProfilerFunctions __PROF_FORCE_DECLARATION_STUB;
PROF_API extern const struct ProfCStdWrappers __PROF_FORCE_DECLARATION_CSTD_WRAPPERS;

/* Generated per binary: registers its functions, globals, thread-locals. */
void __PROF_FNsInitializeFuncStruct(void);
void __PROF_LSInitGlobalInfos(FILE* WriteTo, const char* BinaryUid);
void __PROF_LSInitTLSs(FILE* WriteTo, const char* BinaryUid);

/* First entry of the initialiser array: hands the binary to the runtime. */
void __PROF_sharedLibraryInit(int argc, char** argv);

#ifdef __cplusplus
}
#endif
