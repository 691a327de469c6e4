// CORDIC in fixed point: the shift-and-add rotations a synthesised design
// uses instead of a math library. Rotation mode turns an angle into its
// cosine and sine (the design's sine table is built with it); vectoring
// mode turns a vector into its magnitude and angle (the detector's phase
// estimate and the test bench's checks use it).
//
// Angles are 32-bit fractions of a full turn, like the oscillators' phases.
#include <cstdint>

#include "filterbank.h"

namespace fb {

namespace {

constexpr int kIterations = 24;

// atan(2^-i) as a 32-bit fraction of a turn, i = 0 .. kIterations-1.
constexpr uint32_t kAtanTable[kIterations] = {
    0x20000000u, 0x12E4051Eu, 0x09FB385Bu, 0x051111D4u, 0x028B0D43u, 0x0145D7E1u, 0x00A2F61Eu, 0x00517C55u,
    0x0028BE53u, 0x00145F2Fu, 0x000A2F98u, 0x000517CCu, 0x00028BE6u, 0x000145F3u, 0x0000A2FAu, 0x0000517Du,
    0x000028BEu, 0x0000145Fu, 0x00000A30u, 0x00000518u, 0x0000028Cu, 0x00000146u, 0x000000A3u, 0x00000051u};

// The gain of kIterations rotations, 1.646760..., undone by starting from
// 1/gain: 0.607252935 in Q30.
constexpr int64_t kInverseGainQ30 = 652032874;

}  // namespace

CordicResult cordicRotate(uint32_t angle) {
  // Rotations cover -99.9 .. +99.9 degrees: bring the angle into the right
  // half-plane first and mirror the result back.
  bool mirrored = false;
  if (angle > 0x40000000u && angle < 0xC0000000u) {
    angle += 0x80000000u;
    mirrored = true;
  }
  int64_t x = kInverseGainQ30;
  int64_t y = 0;
  int32_t z = static_cast<int32_t>(angle);
  for (int i = 0; i < kIterations; ++i) {
    const int64_t dx = y >> i;
    const int64_t dy = x >> i;
    if (z >= 0) {
      x -= dx;
      y += dy;
      z -= static_cast<int32_t>(kAtanTable[i]);
    } else {
      x += dx;
      y -= dy;
      z += static_cast<int32_t>(kAtanTable[i]);
    }
  }
  if (mirrored) {
    x = -x;
    y = -y;
  }
  CordicResult r;
  r.x = static_cast<int32_t>((x + (1 << 14)) >> 15);  // Q15
  r.y = static_cast<int32_t>((y + (1 << 14)) >> 15);
  r.angle = 0;
  return r;
}

CordicResult cordicVector(int32_t x, int32_t y) {
  // Vectoring drives y to 0; the vector is first turned into the right
  // half-plane, which adds half a turn to the angle.
  // The input is widened by kGuardBits so that the shifts keep precision.
  constexpr int kGuardBits = 16;
  uint32_t offset = 0;
  int64_t vx = static_cast<int64_t>(x) << kGuardBits;
  int64_t vy = static_cast<int64_t>(y) << kGuardBits;
  if (vx < 0) {
    vx = -vx;
    vy = -vy;
    offset = 0x80000000u;
  }
  int64_t z = 0;
  for (int i = 0; i < kIterations; ++i) {
    const int64_t dx = vy >> i;
    const int64_t dy = vx >> i;
    if (vy < 0) {
      vx -= dx;
      vy += dy;
      z -= kAtanTable[i];
    } else {
      vx += dx;
      vy -= dy;
      z += kAtanTable[i];
    }
  }
  CordicResult r;
  // The magnitude carries the CORDIC gain: multiply by its inverse.
  const int64_t magnitude = (vx >> kGuardBits) * kInverseGainQ30 + (((vx & 0xFFFF) * kInverseGainQ30) >> kGuardBits);
  r.x = static_cast<int32_t>((magnitude + (int64_t{1} << 29)) >> 30);
  r.y = 0;
  r.angle = static_cast<uint32_t>(z) + offset;
  return r;
}

}  // namespace fb
