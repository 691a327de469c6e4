/* main hands three values to accumulate, which scales each in a local
 * array registered with the profiler and adds it into a global. */
#include <stdint.h>
#include <stdio.h>

#include "prof/proflibAPI.h"
#include "probe.h"

#define ADDRESS(item) ((uint64_t)(uintptr_t)&(item))

int gTotal;

int accumulate(int value) {
  int window[2];
  uint32_t frame;
  if (__PROF_FNProcessFunctionStart(ADDRESS(accumulate), ADDRESS(window), &frame) != 0)
    __PROF_LSInitLocalInfo(1, 1, kWindowVar, ADDRESS(window), sizeof window);
  __PROF_LSVariable((const uint8_t*)&window[1]);
  window[1] = 3 * value;
  __PROF_LSVariable((const uint8_t*)&gTotal);
  gTotal += window[1];
  __PROF_UpdateRetBBCount();
  return window[1];
}

int main(void) {
  uint32_t frame;
  __PROF_FNProcessFunctionStart(ADDRESS(main), 0, &frame);
  for (int i = 1; i <= 3; ++i) {
    __PROF_FNProcessFunctionEntry(1, ADDRESS(accumulate), kMainId);
    const int scaled = accumulate(i);
    __PROF_FNProcessFunctionExitWithReturnValue((uint64_t)scaled);
  }
  __PROF_FNProcessFunctionEntry(0, ADDRESS(printf), kMainId);
  printf("total %d\n", gTotal);
  __PROF_FNProcessFunctionExit();
  __PROF_UpdateRetBBCount();
  return 0;
}
