/* The library's start-up, built without the plugin: it announces the
 * library to the runtime as a binary of its own, as every instrumented
 * binary's start-up does. */
#include <stdio.h>

#include "prof/proflibAPI.h"

extern int gLoads;

static void noFunctions(void) {}
static void noVariables(FILE* mapping, const char* binary) {
  (void)mapping;
  (void)binary;
}

static const InstrumentationConfig kLibraryConfig = {PROF_PROFILE_DIR, "lib_1", true, true};

__attribute__((constructor)) static void announce(void) {
  ++gLoads;
  __PROF_PerSharedObjectInit(0, NULL, "lib_1", &kLibraryConfig, noFunctions, noVariables, noVariables);
}
