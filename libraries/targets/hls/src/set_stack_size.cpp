// Start-up step of the simulation: raises the soft stack limit so that
// designs with large local arrays (hardware memories become stack arrays in
// software) do not overflow. Placed in the initialiser array by the start-up
// stub after the profiler's constructor; it relies only on getrlimit and
// setrlimit and never stops the process.
#include "hls/set_stack_size.h"

#include <sys/resource.h>

#include <cstdio>

namespace {
constexpr rlim_t TargetStackSize = 1073741824;  // 1 GiB
}

extern "C" void nuqSetMaxStackSize(void) {
  struct rlimit Limits;
  if (getrlimit(RLIMIT_STACK, &Limits) != 0) {
    fputs("tracing:0:0: warning: getrlimit failed, not increasing stack size.\n", stderr);
    return;
  }
  // The soft limit is set to the target whatever it was, so a larger or
  // unlimited soft limit is lowered to 1 GiB; RLIM_INFINITY compares above
  // every finite hard limit.
  rlim_t NewSoft = TargetStackSize;
  if (Limits.rlim_max < TargetStackSize) {
    fprintf(stderr,
            "tracing:0:0: warning: Cannot increase the maximum stack size to %llu bytes. Setting "
            "stack size limit to %lu instead.\nConsult your operating system manual on how to "
            "increase the hard limit of the maximum stack size (ulimit).\n",
            static_cast<unsigned long long>(TargetStackSize),
            static_cast<unsigned long>(Limits.rlim_max));
    NewSoft = Limits.rlim_max;
  }
  const struct rlimit NewLimits = {NewSoft, Limits.rlim_max};
  if (setrlimit(RLIMIT_STACK, &NewLimits) != 0)
    fprintf(stderr,
            "tracing:0:0: warning: setrlimit failed, using existing stack limit of %lu bytes.\n",
            static_cast<unsigned long>(Limits.rlim_cur));
}
