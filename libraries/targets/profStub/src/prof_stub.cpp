// The part of the start-up stub that is the same for every instrumented
// binary: its trace configuration, its UID with the note that lets the
// runtime find it in memory, and the two tables that keep every hook and
// wrapper linked into the executable.
//
// Built into each executable with PROF_PROFILE_DIR, PROF_TRACE_MEM and
// PROF_TRACE_ALLOCS defined by the build, PROF_TRACE_FLUSH_KIB when the
// build bounds the traces' loss, PROF_TRACE_COMPRESSION_LEVEL when it
// chose zlib at a faster level than 4, PROF_TRACE_CODEC_KIND when it
// chose another deflate than zlib's (1: ISA-L's) and
// PROF_TRACE_COMPRESSION_THREADS when it fixed the number of compression
// threads instead of leaving it to the machine.
#include <cstddef>
#include <cstdint>

#include "init.h"
#include "prof/Elf.h"
#include "prof/Wrappers.h"
#include "prof/proflibAPI.h"

#ifndef PROF_PROFILE_DIR
#error "PROF_PROFILE_DIR (absolute profile directory) must be defined by the build"
#endif
#ifndef PROF_TRACE_MEM
#define PROF_TRACE_MEM 1
#endif
#ifndef PROF_TRACE_ALLOCS
#define PROF_TRACE_ALLOCS 1
#endif

namespace {
constexpr char kBinaryUid[] = "app_0";
}

// The note below addresses the UID pointer as the record's second word.
static_assert(offsetof(InstrumentationConfig, BinaryUid) == 8);

extern "C" {

const InstrumentationConfig __PROF_TraceInitData = {
    PROF_PROFILE_DIR, kBinaryUid, PROF_TRACE_MEM != 0, PROF_TRACE_ALLOCS != 0};

// Writable, and the same string as the configuration's UID.
const char* __PROF_MainBinaryUid = kBinaryUid;

#if defined(PROF_TRACE_FLUSH_KIB) && PROF_TRACE_FLUSH_KIB > 0
// Every trace is flushed to its file at least once per this many KiB of
// records; without it, only when the trace is finished.
extern const uint32_t __PROF_TraceFlushKiB = PROF_TRACE_FLUSH_KIB;
#endif

#if defined(PROF_TRACE_COMPRESSION_LEVEL) && PROF_TRACE_COMPRESSION_LEVEL != 4
// The zlib level of every trace; without it, level 4.
extern const uint32_t __PROF_TraceCompressionLevel = PROF_TRACE_COMPRESSION_LEVEL;
#endif

#if defined(PROF_TRACE_CODEC_KIND) && PROF_TRACE_CODEC_KIND != 0
// The deflate of every trace, 1 for ISA-L's at its level 1 (still a zlib
// stream); without it, zlib's.
extern const uint32_t __PROF_TraceCodec = PROF_TRACE_CODEC_KIND;
#endif

#if defined(PROF_TRACE_COMPRESSION_THREADS)
// How many threads compress the traces; 0: each traced thread compresses
// its own. Without it, one fewer than the processors available.
extern const uint32_t __PROF_TraceCompressionThreads = PROF_TRACE_COMPRESSION_THREADS;
#endif

// The note's descriptor points at the configuration's UID pointer; it lives
// in its own allocated SHT_NOTE section so that the linker puts it into the
// executable's PT_NOTE segment.
__asm__(
    ".pushsection .note.nuq,\"a\",@note\n"
    ".balign 4\n"
    ".globl __PROF_NuqNote\n"
    ".type __PROF_NuqNote, @object\n"
    ".size __PROF_NuqNote, 24\n"
    "__PROF_NuqNote:\n"
    ".long 4\n"
    ".long 8\n"
    ".long 0\n"
    ".asciz \"NUQ\"\n"
    ".quad __PROF_TraceInitData+8\n"
    ".popsection\n");

const ProfilerFunctions __PROF_FORCE_DECLARATION_STUB = {
    __PROF_FNInitializeFuncStruct,
    __PROF_FNProcessFunctionEntry,
    __PROF_FNProcessFunctionExit,
    __PROF_FNProcessFunctionExitWithReturnValue,
    __PROF_FNProcessFunctionStart,
    __PROF_FNProcessFunctionUnwind,
    __PROF_UpdateRetBBCount,
    __PROF_LSInitGlobalInfo,
    __PROF_LSInitTLS,
    __PROF_LSInitLocalInfo,
    __PROF_LSStackSave,
    __PROF_LSStackRestore,
    __PROF_LSInitVla,
    __PROF_LSInitByvalScope,
    __PROF_LSInitByval,
    __PROF_LSBlock,
    __PROF_LSVariable,
    __PROF_LSOffset,
    __PROF_LSInsertHeapInfo,
    __PROF_LSReallocHeapInfo,
    __PROF_LSFreeHeap,
    __PROF_TRBasicBlockEntry,
    __PROF_TRPrintU64,
    __PROF_TRPrintString,
};

const ProfCStdWrappers __PROF_FORCE_DECLARATION_CSTD_WRAPPERS = {
    __PROF__Znwm,
    __PROF__Znam,
    __PROF__ZdlPv,
    __PROF__ZdaPv,
    __PROF_Malloc,
    __PROF_Valloc,
    __PROF_PValloc,
    __PROF_Fork,
    __PROF_Calloc,
    __PROF_Realloc,
    __PROF_Free,
    __PROF_strdup,
    __PROF_strndup,
    __PROF_Exit,
    __PROF_Abort,
    __PROF_Fread,
    __PROF_Fwrite,
    __PROF_Signal,
    __PROF___sysv_Signal,
    __PROF_Sigaction,
    __PROF_spec_Xmalloc,
    __PROF_gcc_Xmalloc,
    __PROF_memalign,
    __PROF_posix_memalign,
    __PROF_Mmap,
    __PROF_Mmap64,
    __PROF_Munmap,
    __PROF_Sem_open,
    __PROF_TPKalloc,
    __PROF_TPKfree,
    __PROF_pthread_create,
    __PROF_pthread_join,
    __PROF_pthread_setname_np,
    __PROF_nuq_hls_stream_blocking_write,
    __PROF_nuq_hls_stream_blocking_read,
};

}  // extern "C"
