// Start-up entry of an instrumented binary. The runtime's start-up must run
// before anything else of the program: it is the first entry of the
// initialiser array, and the stack-size set-up follows it.
#include "init.h"

#include "hls/set_stack_size.h"

extern "C" {

__attribute__((constructor(101))) void __PROF_sharedLibraryInit(int argc, char** argv) {
  __PROF_PerSharedObjectInit(argc, argv, __PROF_MainBinaryUid, &__PROF_TraceInitData, __PROF_FNsInitializeFuncStruct,
                             __PROF_LSInitGlobalInfos, __PROF_LSInitTLSs);
}

// Runs after the runtime's start-up and before main.
__attribute__((used, section(".init_array.00102"))) static void (*const nuqSetMaxStackSizeEntry)(void) =
    nuqSetMaxStackSize;

}  // extern "C"
