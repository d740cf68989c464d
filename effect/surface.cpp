#include "effect/surface.h"

#include <cstddef>
#include <cstring>

int32_t SurfaceStride(int32_t width) {
  if (width <= 0 || width > INT32_MAX - 1) return 0;
  return width + (width & 1);
}

int32_t SurfaceByteCount(int32_t width, int32_t height) {
  const int32_t stride = SurfaceStride(width);
  if (stride == 0 || height <= 0) return 0;
  const int64_t bytes = static_cast<int64_t>(stride) * 2 * height;
  return bytes > INT32_MAX ? 0 : static_cast<int32_t>(bytes);
}

namespace {

// The first pixel of rect and the bytes of one of its rows; false when empty.
bool RectRows(const PixelSurface* surface, Rect rect, size_t* first, size_t* rowBytes) {
  if (rect.right <= rect.left || rect.bottom <= rect.top) return false;
  *first = static_cast<size_t>(rect.top) * static_cast<size_t>(surface->stride) +
           static_cast<size_t>(rect.left);
  *rowBytes = static_cast<size_t>(rect.right - rect.left) * sizeof(Pixel555);
  return true;
}

}  // namespace

void SaveSurfaceRect(const PixelSurface* surface, Rect rect, Pixel555* buffer) {
  size_t first, rowBytes;
  if (!RectRows(surface, rect, &first, &rowBytes)) return;
  const Pixel555* from = surface->pixels + first;
  const size_t cols = static_cast<size_t>(rect.right - rect.left);
  for (int32_t y = rect.top; y < rect.bottom; ++y, from += surface->stride, buffer += cols)
    std::memcpy(buffer, from, rowBytes);
}

void RestoreSurfaceRect(PixelSurface* surface, Rect rect, const Pixel555* buffer) {
  size_t first, rowBytes;
  if (!RectRows(surface, rect, &first, &rowBytes)) return;
  Pixel555* to = surface->pixels + first;
  const size_t cols = static_cast<size_t>(rect.right - rect.left);
  for (int32_t y = rect.top; y < rect.bottom; ++y, to += surface->stride, buffer += cols)
    std::memcpy(to, buffer, rowBytes);
}
