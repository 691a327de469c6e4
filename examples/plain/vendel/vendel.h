// The design: energies of the difference of two 512-sample signals over
// 128 windows of 4 samples.
#pragma once

#include <cstdint>

constexpr int kSamples = 512;
constexpr int kWindow = 4;
constexpr int kWindows = kSamples / kWindow;

// Writes energy[0] to energy[127] and nothing else.
void vendel(int16_t* sigA, int16_t* sigB, int32_t* energy);
