#include "effect/surface.h"

int32_t SurfaceStride(int32_t width) {
  if (width <= 0 || width > INT32_MAX - 1) return 0;
  return width + (width & 1);
}
