// Start-up of the runtime. The first binary to start up creates the run
// directory and its manifest and arranges finalisation at exit; every
// binary then registers its functions and globals; every thread opens its
// own trace file on its first profiled call.
#include "proflibAPI_internal.h"

#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "Elf.h"
#include "bufferedPrinter.h"
#include "trace_compression.h"
#include "commonProfInclude/TracingConstants.h"
#include "crash.h"
#include "finalize.h"
#include "globals.h"
#include "profiler_state.h"
#include "suspend.h"
#include "thread_profile_utils.h"
#include "trace.h"
#include "utils.h"

// The executable's loss bound in KiB of records, defined by its start-up
// stub only when the build asked for one; absent, every trace is flushed
// only when it is finished.
extern "C" __attribute__((weak)) const uint32_t __PROF_TraceFlushKiB;

namespace {

constexpr size_t kTraceBufferSize = 5120;

// Bytes of records after which a trace is flushed; 0 for never.
size_t traceFlushBytes() {
  return &__PROF_TraceFlushKiB == nullptr ? 0 : static_cast<size_t>(__PROF_TraceFlushKiB) * 1024;
}

struct ThreadsToResumeList {
  void* Key;  // suspension counter of a thread queued before start-up
  ThreadsToResumeList* Next;
};

struct TlsInitializers {
  InitTlsGlobalVariablesFunc_t InitFunc;
  std::atomic<bool> MappingWritten;  // the mapping stream went to this routine already
  const char* BinaryUid;
};

// Guarded by __PROF_ExecutionInitializedMutex.
ThreadsToResumeList* __PROF_ThreadsToResumeList = nullptr;

// Grows during binary start-up only; read without a lock by every thread's
// start-up, which cannot begin before the last binary has started.
TlsInitializers* __PROF_TlsInitializerList = nullptr;
uint32_t __PROF_TlsInitializerListCount = 0;
std::atomic<bool> CanCallAppendToTlsInitializerList{false};

// A queued thread that ends before start-up drops its key here, so that
// start-up never lowers a counter that no longer exists.
pthread_key_t resumeListKey;
pthread_once_t resumeListKeyOnce = PTHREAD_ONCE_INIT;

void dropQueuedThread(void* key) {
  MutexGuard lock(&__PROF_ExecutionInitializedMutex);
  for (ThreadsToResumeList** link = &__PROF_ThreadsToResumeList; *link != nullptr; link = &(*link)->Next) {
    if ((*link)->Key == key) {
      ThreadsToResumeList* node = *link;
      *link = node->Next;
      free(node);
      return;
    }
  }
}

void createResumeListKey() { pthread_key_create(&resumeListKey, dropQueuedThread); }

// Lifts the suspension of every queued thread. The list is released: its
// threads are tracing now and nothing refers to the nodes any more.
void resumeThreadsToResume() {
  while (ThreadsToResumeList* node = __PROF_ThreadsToResumeList) {
    __PROF_ThreadsToResumeList = node->Next;
    __PROF_trace_resume_thread(node->Key);
    free(node);
  }
}

void AppendToTlsInitializerList(const char* BinaryUid, InitTlsGlobalVariablesFunc_t InitFunc) {
  const uint32_t count = __PROF_TlsInitializerListCount;
  const size_t bytes = sizeof(TlsInitializers) * (count + 1);
  __PROF_TlsInitializerList = static_cast<TlsInitializers*>(
      count == 0 ? ProfMalloc(bytes) : ProfRealloc(__PROF_TlsInitializerList, bytes));
  TlsInitializers* entry = new (&__PROF_TlsInitializerList[count]) TlsInitializers{};
  entry->InitFunc = InitFunc;
  entry->BinaryUid = BinaryUid;
  entry->MappingWritten.store(false);
  __PROF_TlsInitializerListCount = count + 1;
}

void __PROF_PerExecutionInit(char** argv, int argc, const char* MainBinaryUid,
                             const InstrumentationConfig* InstrConfig) {
  __PROF_ExecutionInitialized = true;
  __PROF_Configuration.TraceMemoryAccesses = InstrConfig->TraceMem;
  __PROF_Configuration.TraceMemoryAllocation = InstrConfig->TraceAllocs;

  if (__PROF_mk_unique_dir(InstrConfig->GlobalExecDirectory, MainBinaryUid, &__PROF_execDirectory) == 0)
    __PROF_fatal_exit("spec:0:0: error: [TRACE] Could not create a unique trace directory '%s/%s_<number>'\n",
                      InstrConfig->GlobalExecDirectory, MainBinaryUid);

  char* cwd = __PROF_get_cwd();
  __PROF_writeFile(__PROF_execDirectory, "workingDirectory", cwd);
  free(cwd);
  __PROF_writeCommandline(argc, argv);

  __PROF_FunctionMappingFd = __PROF_open(__PROF_execDirectory, "functionMapping", "wb");
  __PROF_GlobalVariablesMappingFd = __PROF_open(__PROF_execDirectory, "globalVariableMapping", "w");
  __PROF_BinariesFd = __PROF_open(__PROF_execDirectory, "binaries", "wb");

  // The waiter first, so that it runs after the finalisation (exit runs its
  // handlers in reverse order of registration).
  atexit(__PROF_AwaitFinalizeInstrumentationAll);
  atexit(__PROF_FinalizeInstrumentationAll);
  __PROF_Crash_install();
  resumeThreadsToResume();
}

}  // namespace

void __PROF_writeCommandline(int argc, char** argv) {
  FILE* f = __PROF_open(__PROF_execDirectory, "commandline", "wb");
  auto put = [f](char c) {
    if (fputc(c, f) == EOF) __PROF_manifestWriteFailed(__PROF_execDirectory, "commandline", errno);
  };
  for (int i = 0; i < argc; ++i) {
    if (i != 0) put(' ');
    put('"');
    for (const char* c = argv[i]; *c != '\0'; ++c) {
      if (*c == '\\' || *c == '"') put('\\');
      put(*c);
    }
    put('"');
  }
  __PROF_closeChecked(f, __PROF_execDirectory, "commandline");
}

void __PROF_PerSharedObjectInit(int argc, char** argv, const char* MainBinaryUid,
                                const InstrumentationConfig* InstrConfig,
                                void (*InitFunctions)(void),
                                void (*InitGlobalVariables)(FILE*, const char*),
                                void (*InitTLSGlobalVariables)(FILE*, const char*)) {
  {
    MutexGuard lock(&__PROF_ExecutionInitializedMutex);
    if (!__PROF_ExecutionInitialized) __PROF_PerExecutionInit(argv, argc, MainBinaryUid, InstrConfig);
  }

  FILE* lookupOrder = __PROF_open(__PROF_execDirectory, "lookupOrder", "wb");
  __PROF_writeAllBinaryUids(lookupOrder);
  __PROF_closeChecked(lookupOrder, __PROF_execDirectory, "lookupOrder");

  if (fprintf(__PROF_BinariesFd, "%s\n", InstrConfig->BinaryUid) < 0)
    __PROF_manifestWriteFailed(__PROF_execDirectory, "binaries", errno);
  __PROF_flushChecked(__PROF_BinariesFd, __PROF_execDirectory, "binaries");

  InitFunctions();
  {
    MutexGuard lock(&__PROF_FunctionMappingFdMutex);
    if (__PROF_FunctionMappingFd != nullptr)
      __PROF_flushChecked(__PROF_FunctionMappingFd, __PROF_execDirectory, "functionMapping");
  }
  InitGlobalVariables(__PROF_GlobalVariablesMappingFd, InstrConfig->BinaryUid);
  __PROF_flushChecked(__PROF_GlobalVariablesMappingFd, __PROF_execDirectory, "globalVariableMapping");

  if (CanCallAppendToTlsInitializerList.load())
    __PROF_fatal_exit(
        "spec:0:0: error: Loading instrumented shared libraries dynamically (via dlopen()) is not supported.\n");
  AppendToTlsInitializerList(InstrConfig->BinaryUid, InitTLSGlobalVariables);
}

void __PROF_addThreadToResumeList(void* key) {
  pthread_once(&resumeListKeyOnce, createResumeListKey);
  auto* node = ProfAlloc<ThreadsToResumeList>();
  node->Key = key;
  node->Next = __PROF_ThreadsToResumeList;
  __PROF_ThreadsToResumeList = node;
  pthread_setspecific(resumeListKey, key);
}

void __PROF_PerThreadInit(void) {
  CanCallAppendToTlsInitializerList.store(true);
  __PROF_InitTrace();
  for (uint32_t i = 0; i < __PROF_TlsInitializerListCount; ++i) {
    TlsInitializers& entry = __PROF_TlsInitializerList[i];
    if (!entry.MappingWritten.exchange(true)) {
      entry.InitFunc(__PROF_GlobalVariablesMappingFd, entry.BinaryUid);
      __PROF_flushChecked(__PROF_GlobalVariablesMappingFd, __PROF_execDirectory, "globalVariableMapping");
    } else {
      entry.InitFunc(nullptr, entry.BinaryUid);
    }
  }
}

const char* __PROF_getRunDirectory(void) { return __PROF_execDirectory; }

uint32_t __PROF_getThreadNumber(void) {
  const thread_profile_t* profile = __PROF_get_thread_profile_or_null();
  return profile == nullptr ? ThreadId_Invalid_ : profile->thread_id;
}

void __PROF_InitTrace(void) {
  if (__PROF_execDirectory == nullptr)
    __PROF_fatal_exit("%s\n",
                      "ERROR: [SIM 211-200] Code was executed before tracing was properly initialized, which is "
                      "unsupported. This may be due to uses of the .init or .ctor sections, or similar mechanisms, "
                      "that run before tracing initialization.");
  const thread_profile_t* profile = __PROF_get_thread_profile_or_null();
  if (profile == nullptr || __PROF_is_profile_finalized(profile)) return;

  const U32 id = __PROF_thread_profile_get_thread_id();
  const int length = snprintf(nullptr, 0, "%s/thread%04u-trace.txt", __PROF_execDirectory, id);
  char name[length + 1];
  snprintf(name, sizeof name, "%s/thread%04u-trace.txt", __PROF_execDirectory, id);
  // A bound below the buffer's size needs a smaller buffer: records reach
  // the compressor only when it is drained.
  const size_t flushBytes = traceFlushBytes();
  bufferedPrinterStruct_t* printer = createBufferedPrinter(
      name, flushBytes != 0 && flushBytes < kTraceBufferSize ? flushBytes : kTraceBufferSize);
  setFlushInterval(printer, flushBytes);
  if (compressionThreadCount() > 0) handOverCompression(printer);
  profile->prof_state->TraceBuffPrinterPtr = printer;
  __PROF_TRInitTrace(printer, __PROF_Configuration);
  __PROF_Crash_threadStart(profile->prof_state, id);
}
