// The pixel and surface types the shading code works on, free of the platform.
#pragma once
#include <cstdint>

#include "effect/rect.h"

// Blue in bits 0-4, green in 5-9, red in 10-14; the effect always writes bit 15 clear.
using Pixel555 = uint16_t;

// A top-down surface of Pixel555 values. Row y starts at element y * stride:
// the platform pads bitmap rows to 4 bytes, so an odd width has stride width + 1.
struct PixelSurface {
  int32_t width;
  int32_t height;
  int32_t stride;
  Pixel555* pixels;
};

// Elements per row of a 16-bit bitmap row padded to 4 bytes; 0 when out of range.
int32_t SurfaceStride(int32_t width);

// Bytes of a surface of that size with padded rows; 0 when it cannot be
// addressed with 32-bit signed offsets.
int32_t SurfaceByteCount(int32_t width, int32_t height);

// Copies rect (inside the surface) to / from buffer, whose rows follow one
// another with no gaps: (right - left) x (bottom - top) elements. An empty
// rect copies nothing.
void SaveSurfaceRect(const PixelSurface* surface, Rect rect, Pixel555* buffer);
void RestoreSurfaceRect(PixelSurface* surface, Rect rect, const Pixel555* buffer);

// A top-down surface of 32-bit pixels, 0x00RRGGBB: the screen exactly as it
// was, which a 16-, 24- or 32-bit display takes back bit for bit, and the
// picture the full-screen lens is shaded in. Its rows need no padding, so row
// y starts at element y * width.
struct CopySurface {
  int32_t width;
  int32_t height;
  uint32_t* pixels;
};

// Bytes of a copy surface of that size; 0 when it cannot be addressed with
// 32-bit signed offsets.
int32_t CopySurfaceByteCount(int32_t width, int32_t height);

void SaveCopyRect(const CopySurface* surface, Rect rect, uint32_t* buffer);
void RestoreCopyRect(CopySurface* surface, Rect rect, const uint32_t* buffer);
