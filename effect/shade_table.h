// The picture rule: how one 5-bit channel changes under one gray level of the map.
#pragma once
#include <cstdint>

#include "effect/rect.h"
#include "effect/shade_map_format.h"
#include "effect/surface.h"

// entries[c * 256 + g] is channel value c (0-31) under gray level g (0-255).
struct ShadeTable {
  uint8_t entries[32 * 256];
};

// Fills the process-wide table and returns it; rebuilding gives the same values.
const ShadeTable* BuildShadeTable();

// Shades clip (inside frame) in place through map; (mapX, mapY) is the map pixel
// under clip's top-left corner. Bit 15 of every written pixel is clear.
void ShadeRect(PixelSurface* frame, Rect clip, const ShadeMap* map, int32_t mapX, int32_t mapY,
               const ShadeTable* table);
