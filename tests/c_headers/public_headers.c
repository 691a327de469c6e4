/* The public headers are part of a C ABI: they must compile as C. */
#include "commonProfInclude/TracingConstants.h"
#include "commonProfInclude/bitfields.h"
#include "commonProfInclude/common.h"
#include "hls/nuq_hls_stream.h"
#include "hls/set_stack_size.h"
#include "prof/Elf.h"
#include "prof/GProfilerState_fwd.h"
#include "prof/Wrappers.h"
#include "prof/ordered_set_fwd.h"
#include "prof/proflibAPI.h"
#include "profStub/stub.h"

_Static_assert(sizeof(__PROF_NUQ_Note) == 24, "the note is 24 bytes");
_Static_assert(sizeof(ProfilerFunctions) == 24 * sizeof(void*), "one slot per hook");
_Static_assert(sizeof(ProfCStdWrappers) == 35 * sizeof(void*), "one slot per wrapper");
_Static_assert(sizeof(Configuration) == 2, "two trace-mode bytes");

int main(void) { return FunctionId_FirstAvailable_ == 200 && cb_iterate == 48 ? 0 : 1; }
