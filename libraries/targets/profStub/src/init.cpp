// Start-up entry of an instrumented binary. The runtime's start-up must run
// before anything else of the program: it is the first entry of the
// initialiser array, and the stack-size set-up follows it.
#include "init.h"

#include "hls/set_stack_size.h"

extern "C" {

void __PROF_sharedLibraryInit(int argc, char** argv) {
  __PROF_PerSharedObjectInit(argc, argv, __PROF_MainBinaryUid, &__PROF_TraceInitData, __PROF_FNsInitializeFuncStruct,
                             __PROF_LSInitGlobalInfos, __PROF_LSInitTLSs);
}

}  // extern "C"

// The two entries are placed by explicit priority sections, which the
// linker sorts ahead of every unprioritised initialiser; the loader calls
// them with (argc, argv, envp).
__attribute__((used, section(".init_array.00101"))) static void (*const sharedLibraryInitEntry)(int, char**) =
    __PROF_sharedLibraryInit;
__attribute__((used, section(".init_array.00102"))) static void (*const nuqSetMaxStackSizeEntry)(void) =
    nuqSetMaxStackSize;
