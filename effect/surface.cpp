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

int32_t CopySurfaceByteCount(int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) return 0;
  const int64_t bytes = static_cast<int64_t>(width) * 4 * height;
  return bytes > INT32_MAX ? 0 : static_cast<int32_t>(bytes);
}

namespace {

// The first pixel of rect in a surface whose row y starts at element
// y * stride, and rect's width; false when rect is empty.
bool RectStart(int32_t stride, Rect rect, size_t* first, size_t* cols) {
  if (rect.right <= rect.left || rect.bottom <= rect.top) return false;
  *first = static_cast<size_t>(rect.top) * static_cast<size_t>(stride) + static_cast<size_t>(rect.left);
  *cols = static_cast<size_t>(rect.right - rect.left);
  return true;
}

template <typename P>
void SaveRows(const P* pixels, int32_t stride, Rect rect, P* buffer) {
  size_t first, cols;
  if (!RectStart(stride, rect, &first, &cols)) return;
  const P* from = pixels + first;
  for (int32_t y = rect.top; y < rect.bottom; ++y, from += stride, buffer += cols)
    std::memcpy(buffer, from, cols * sizeof(P));
}

template <typename P>
void RestoreRows(P* pixels, int32_t stride, Rect rect, const P* buffer) {
  size_t first, cols;
  if (!RectStart(stride, rect, &first, &cols)) return;
  P* to = pixels + first;
  for (int32_t y = rect.top; y < rect.bottom; ++y, to += stride, buffer += cols)
    std::memcpy(to, buffer, cols * sizeof(P));
}

}  // namespace

void SaveSurfaceRect(const PixelSurface* surface, Rect rect, Pixel555* buffer) {
  SaveRows(surface->pixels, surface->stride, rect, buffer);
}

void RestoreSurfaceRect(PixelSurface* surface, Rect rect, const Pixel555* buffer) {
  RestoreRows(surface->pixels, surface->stride, rect, buffer);
}

void SaveCopyRect(const CopySurface* surface, Rect rect, uint32_t* buffer) {
  SaveRows(surface->pixels, surface->width, rect, buffer);
}

void RestoreCopyRect(CopySurface* surface, Rect rect, const uint32_t* buffer) {
  RestoreRows(surface->pixels, surface->width, rect, buffer);
}
