#include "effect/shade_table.h"

namespace {
ShadeTable shadeTable;

uint8_t ShadeEntry(int c, int g) {
  if (g < 128) return static_cast<uint8_t>((128 + 2 * c * g) / 256);
  if (g == 128) return static_cast<uint8_t>(c);
  return static_cast<uint8_t>(c + ((g - 128) * (62 - 2 * c) + 127) / 254);
}
}  // namespace

const ShadeTable* BuildShadeTable() {
  for (int c = 0; c < 32; ++c)
    for (int g = 0; g < 256; ++g) shadeTable.entries[c * 256 + g] = ShadeEntry(c, g);
  return &shadeTable;
}

void ShadeRect(PixelSurface* frame, Rect clip, const ShadeMap* map, int32_t mapX, int32_t mapY,
               const ShadeTable* table) {
  const int32_t rows = clip.bottom - clip.top;
  const int32_t cols = clip.right - clip.left;
  if (rows <= 0 || cols <= 0) return;
  const uint8_t* t = table->entries;
  for (int32_t i = 0; i < rows; ++i) {
    const uint8_t* gray =
        map->pixels + static_cast<intptr_t>(mapY + i) * map->width + mapX;
    Pixel555* p = frame->pixels + static_cast<intptr_t>(clip.top + i) * frame->stride + clip.left;
    for (int32_t j = 0; j < cols; ++j) {
      const unsigned g = gray[j];
      const unsigned v = p[j];
      p[j] = static_cast<Pixel555>(t[((v >> 10) & 31) << 8 | g] << 10 |
                                   t[((v >> 5) & 31) << 8 | g] << 5 | t[(v & 31) << 8 | g]);
    }
  }
}
