// The design's top function in its instrumented form: besides the
// computation it reports its start, five empty call events, the byte
// offset of every store into its output array and its return.
#include "vendel.h"

#include "prof/proflibAPI.h"

namespace {
constexpr uint32_t kVendelId = 205;  // static id of vendel in this binary
}

void vendel(int16_t* sigA, int16_t* sigB, int32_t* energy) {
  uint32_t frameId;
  __PROF_FNProcessFunctionStart(reinterpret_cast<uint64_t>(&vendel), 0, &frameId);

  for (int k = 0; k < 5; ++k) {
    __PROF_FNProcessFunctionEntry(0, 0, kVendelId);
    __PROF_FNProcessFunctionExit();
  }

  for (int i = 0; i <= kSamples - 1; i += kWindow) {
    int32_t sum = 0;
    for (int j = 0; j < kWindow; ++j) {
      const int16_t diff = static_cast<int16_t>(sigA[i + j] - sigB[i + j]);
      sum += diff * diff;
    }
    __PROF_LSOffset(static_cast<int64_t>((i / kWindow) * 4));
    energy[i / kWindow] = sum;
  }

  __PROF_UpdateRetBBCount();
}
