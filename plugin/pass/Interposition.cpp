#include "Interposition.h"

namespace prof {

namespace {

constexpr unsigned kAll = ~0u;

// Sized operator delete releases like the unsized one; its size argument is
// dropped. vfork is refused like fork.
const WrappedFunction kWrapped[] = {
    {"_Znwm", "__PROF__Znwm", "operator new", true, kAll},
    {"_Znam", "__PROF__Znam", "operator new[]", true, kAll},
    {"_ZdlPv", "__PROF__ZdlPv", "operator delete", true, kAll},
    {"_ZdaPv", "__PROF__ZdaPv", "operator delete[]", true, kAll},
    {"_ZdlPvm", "__PROF__ZdlPv", "operator delete", true, 1},
    {"_ZdaPvm", "__PROF__ZdaPv", "operator delete[]", true, 1},
    {"malloc", "__PROF_Malloc", "malloc", true, kAll},
    {"valloc", "__PROF_Valloc", "valloc", true, kAll},
    {"pvalloc", "__PROF_PValloc", "pvalloc", true, kAll},
    {"calloc", "__PROF_Calloc", "calloc", true, kAll},
    {"realloc", "__PROF_Realloc", "realloc", true, kAll},
    {"free", "__PROF_Free", "free", true, kAll},
    {"strdup", "__PROF_strdup", "strdup", true, kAll},
    {"strndup", "__PROF_strndup", "strndup", true, kAll},
    {"memalign", "__PROF_memalign", "memalign", true, kAll},
    {"posix_memalign", "__PROF_posix_memalign", "posix_memalign", true, kAll},
    {"mmap", "__PROF_Mmap", "mmap", true, kAll},
    {"mmap64", "__PROF_Mmap64", "mmap64", true, kAll},
    {"munmap", "__PROF_Munmap", "munmap", true, kAll},
    {"sem_open", "__PROF_Sem_open", "sem_open", true, kAll},
    {"xmalloc", "__PROF_Xmalloc", "xmalloc", true, kAll},
    {"tpk_alloc", "__PROF_TPKalloc", "tpk_alloc", true, kAll},
    {"tpk_free", "__PROF_TPKfree", "tpk_free", true, kAll},
    {"fork", "__PROF_Fork", "fork", false, kAll},
    {"vfork", "__PROF_Fork", "vfork", false, kAll},
    {"exit", "__PROF_Exit", "exit", false, kAll},
    {"abort", "__PROF_Abort", "abort", false, kAll},
    {"fread", "__PROF_Fread", "fread", false, kAll},
    {"fwrite", "__PROF_Fwrite", "fwrite", false, kAll},
    {"signal", "__PROF_Signal", "signal", false, kAll},
    {"__sysv_signal", "__PROF___sysv_Signal", "__sysv_signal", false, kAll},
    {"sigaction", "__PROF_Sigaction", "sigaction", false, kAll},
    {"pthread_create", "__PROF_pthread_create", "pthread_create", false, kAll},
    {"pthread_join", "__PROF_pthread_join", "pthread_join", false, kAll},
    {"pthread_setname_np", "__PROF_pthread_setname_np", "pthread_setname_np", false, kAll},
    {"nuq_hls_stream_blocking_write", "__PROF_nuq_hls_stream_blocking_write", "nuq_hls_stream_blocking_write",
     false, kAll},
    {"nuq_hls_stream_blocking_read", "__PROF_nuq_hls_stream_blocking_read", "nuq_hls_stream_blocking_read",
     false, kAll},
};

}  // namespace

const WrappedFunction* findWrapped(llvm::StringRef name) {
  for (const WrappedFunction& w : kWrapped)
    if (w.name == name) return &w;
  return nullptr;
}

}  // namespace prof
