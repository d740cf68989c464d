#include "effect/drift_path.h"

#include <cstdlib>

namespace {
uint32_t randomState = 1;
}

void SeedRandom(uint32_t seed) { randomState = seed; }

uint32_t NextRandom() {
  randomState = randomState * 214013u + 2531011u;
  return (randomState >> 16) & 0x7FFF;
}

DriftSegment BeginSegment(int32_t sx, int32_t sy, int32_t tx, int32_t ty) {
  const int32_t dx = tx - sx;
  const int32_t dy = ty - sy;
  const int32_t longer = std::abs(dx) > std::abs(dy) ? std::abs(dx) : std::abs(dy);
  return DriftSegment{sx, sy, dx, dy, longer / 5, 0, 0};
}

Rect PatchRect(const DriftSegment* segment, int32_t mapWidth, int32_t mapHeight) {
  // Signed divisions truncating toward zero, as C++ does.
  const int32_t left = segment->accX / segment->steps - (mapWidth >> 1) + segment->sx;
  const int32_t top = segment->accY / segment->steps - (mapHeight >> 1) + segment->sy;
  return Rect{left, top, left + mapWidth, top + mapHeight};
}

void AdvanceSegment(DriftSegment* segment) {
  segment->accX += segment->dx;
  segment->accY += segment->dy;
}
