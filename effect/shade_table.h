// The picture rule: how one colour channel changes under one gray level of
// the map, for the 5-bit channels of the 5-5-5 snapshot and for the 8-bit
// channels of the screen's exact copy.
#pragma once
#include <cstdint>

#include "effect/rect.h"
#include "effect/shade_map_format.h"
#include "effect/surface.h"

// entries[c * 256 + g] is channel value c (0-31) under gray level g (0-255).
struct ShadeTable {
  uint8_t entries[32 * 256];
};

// entries[g * 256 + c] is channel value c (0-255) under gray level g: the
// three channels of a pixel share one gray, and so one 256-byte row.
struct ChannelShadeTable {
  uint8_t entries[256 * 256];
};

// Fills the process-wide table and returns it; rebuilding gives the same values.
const ShadeTable* BuildShadeTable();
const ChannelShadeTable* BuildChannelShadeTable();

// Shades clip (inside frame) in place through map; (mapX, mapY) is the map pixel
// under clip's top-left corner. Bit 15 of every written pixel is clear.
void ShadeRect(PixelSurface* frame, Rect clip, const ShadeMap* map, int32_t mapX, int32_t mapY,
               const ShadeTable* table);

// The same for a 32-bit surface: red, green and blue each through the table;
// the reserved top byte of every pixel is left as it was.
void ShadeCopyRect(CopySurface* surface, Rect clip, const ShadeMap* map, int32_t mapX, int32_t mapY,
                   const ChannelShadeTable* table);
