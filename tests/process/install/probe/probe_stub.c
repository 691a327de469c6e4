/* The probe's registration routines. */
#include <stdio.h>

#include "probe.h"
#include "profStub/stub.h"

#define PROBE_FUNCTIONS(F) F(kMainId, main) F(kAccumulateId, accumulate) F(kPrintfId, printf)
#define PROBE_GLOBALS(G) G(kTotalVar, gTotal)
#define PROBE_LOCALS(L) L(kAccumulateId, kWindowVar, window, 2 * sizeof(int))

PROF_STUB(PROBE_FUNCTIONS, PROBE_GLOBALS, PROF_STUB_NONE, PROBE_LOCALS)
