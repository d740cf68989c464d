// The path of the shade map across the screen: straight segments between
// random points, 5 pixels a step along the longer axis. Pure arithmetic.
#pragma once
#include <cstdint>

#include "effect/rect.h"

// The process-wide pseudo-random generator of the drift: state * 214013 +
// 2531011, returning bits 16-30 (0 ... 32767). The state is 1 until seeded.
void SeedRandom(uint32_t seed);
uint32_t NextRandom();

// One segment from (sx, sy) towards (sx + dx, sy + dy). Frame i of the segment
// is drawn with accX = i * dx and accY = i * dy, built up by adding.
struct DriftSegment {
  int32_t sx, sy;
  int32_t dx, dy;
  int32_t steps;  // frames in the segment: max(|dx|, |dy|) / 5
  int32_t accX, accY;
};

// Starts a segment from (sx, sy) to (tx, ty) at its first frame.
DriftSegment BeginSegment(int32_t sx, int32_t sy, int32_t tx, int32_t ty);
// Where the whole map lies in the segment's current frame.
Rect PatchRect(const DriftSegment* segment, int32_t mapWidth, int32_t mapHeight);
// Moves to the next frame of the segment.
void AdvanceSegment(DriftSegment* segment);
