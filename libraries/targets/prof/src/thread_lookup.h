// Cross-thread look-ups of the access classifier: another thread's
// thread-local variables and other threads' locals, found by walking the
// thread table under its lock.
#pragma once

#include <cstdint>

#include "GlobalVariables.h"
#include "commonProfInclude/common.h"
#include "prof/GProfilerState_fwd.h"

typedef struct RemoteAccessInfo {
  U64 varUID;        // 0 when nothing was found
  U64 fnUID;
  uint32_t FrameId;
  U64 offset;
  U32 threadId;
} RemoteAccessInfo_t;

// The node may belong to a thread that ends as soon as the table lock is
// released; readers that need its fields use the copying variant, which
// reads them under the lock.
const GlobalVariable* __PROF_GetTLSGlobalVariable(U64 Addr);
[[nodiscard]] bool __PROF_GetTLSGlobalVariableCopy(U64 Addr, GlobalVariable* out);
// The calling thread's own thread-local variable holding Addr (state is the
// calling thread's), or null; what the table search gives when no other
// thread's variables can hold Addr.
const GlobalVariable* __PROF_GetOwnTLSGlobalVariable(const GProfilerState_t* state, U64 Addr);
RemoteAccessInfo_t __PROF_GetRemoteAccessInfo(U64 address);
