// Definitions of the runtime's process-wide state (see globals.h for what
// each lock guards).
#include "globals.h"

Configuration __PROF_Configuration = {true, true};
int nuq_profiler_debug = 0;

pthread_mutex_t __PROF_ExecutionInitializedMutex = PTHREAD_MUTEX_INITIALIZER;
bool __PROF_ExecutionInitialized = false;
pthread_mutex_t __PROF_FunctionMappingFdMutex = PTHREAD_MUTEX_INITIALIZER;

const char* __PROF_execDirectory = nullptr;
FILE* __PROF_FunctionMappingFd = nullptr;
FILE* __PROF_GlobalVariablesMappingFd = nullptr;
FILE* __PROF_BinariesFd = nullptr;

Functions* __PROF_FunctionTable = nullptr;
GlobalVariables* __PROF_GlobVarTreePtr = nullptr;

uint64_t __PROF_HeapUID = 1;
pthread_mutex_t __PROF_HeapUIDMutex = PTHREAD_MUTEX_INITIALIZER;
