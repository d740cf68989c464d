#include "effect/shade_table.h"

#include "effect/shade_kernels.h"

#if defined(__i386__)
#include <cpuid.h>
#endif

namespace {
ShadeTable shadeTable;
ChannelShadeTable channelShadeTable;

// Channel value c (0 ... top) under gray g: scaled by g/128 below 128, moved
// (g - 128)/127 of the way to top above it, rounded to nearest.
uint8_t ShadeEntry(int c, int g, int top) {
  if (g < 128) return static_cast<uint8_t>((128 + 2 * c * g) / 256);
  if (g == 128) return static_cast<uint8_t>(c);
  return static_cast<uint8_t>(c + ((g - 128) * (2 * top - 2 * c) + 127) / 254);
}
}  // namespace

const ShadeTable* BuildShadeTable() {
  for (int c = 0; c < 32; ++c)
    for (int g = 0; g < 256; ++g) shadeTable.entries[c * 256 + g] = ShadeEntry(c, g, 31);
  return &shadeTable;
}

const ChannelShadeTable* BuildChannelShadeTable() {
  for (int g = 0; g < 256; ++g)
    for (int c = 0; c < 256; ++c) channelShadeTable.entries[g * 256 + c] = ShadeEntry(c, g, 255);
  return &channelShadeTable;
}

void ShadeRectTable(PixelSurface* frame, Rect clip, const ShadeMap* map, int32_t mapX, int32_t mapY,
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

void ShadeCopyRectTable(CopySurface* surface, Rect clip, const ShadeMap* map, int32_t mapX, int32_t mapY,
                        const ChannelShadeTable* table) {
  const int32_t rows = clip.bottom - clip.top;
  const int32_t cols = clip.right - clip.left;
  if (rows <= 0 || cols <= 0) return;
  for (int32_t i = 0; i < rows; ++i) {
    const uint8_t* gray = map->pixels + static_cast<intptr_t>(mapY + i) * map->width + mapX;
    uint32_t* p = surface->pixels + static_cast<intptr_t>(clip.top + i) * surface->width + clip.left;
    for (int32_t j = 0; j < cols; ++j) {
      const uint8_t* t = table->entries + (static_cast<unsigned>(gray[j]) << 8);
      const uint32_t v = p[j];
      p[j] = (v & 0xFF000000u) | static_cast<uint32_t>(t[v >> 16 & 255]) << 16 |
             static_cast<uint32_t>(t[v >> 8 & 255]) << 8 | t[v & 255];
    }
  }
}

#if defined(__x86_64__)
// Part of the 64-bit instruction set itself.
bool CpuHasSse2() { return true; }
#elif defined(__i386__)
bool CpuHasSse2() {
  unsigned eax, ebx, ecx, edx;
  // __get_cpuid first toggles the EFLAGS ID bit, so a 386 or an early 486
  // without CPUID answers "no" instead of faulting.
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  return (edx & bit_SSE2) != 0;
}
#else
bool CpuHasSse2() { return false; }
#endif

namespace {
// The table loops run everywhere; the vector loops only once the caller that
// knows both the processor and the system has said so.
bool sse2Chosen = false;
}  // namespace

void UseSse2Shading(bool chosen) { sse2Chosen = chosen; }

bool ShadeRectUsesSse2() { return sse2Chosen; }

void ShadeRect(PixelSurface* frame, Rect clip, const ShadeMap* map, int32_t mapX, int32_t mapY,
               const ShadeTable* table) {
  if (sse2Chosen)
    ShadeRectSse2(frame, clip, map, mapX, mapY, table);
  else
    ShadeRectTable(frame, clip, map, mapX, mapY, table);
}

void ShadeCopyRect(CopySurface* surface, Rect clip, const ShadeMap* map, int32_t mapX, int32_t mapY,
                   const ChannelShadeTable* table) {
  if (sse2Chosen)
    ShadeCopyRectSse2(surface, clip, map, mapX, mapY, table);
  else
    ShadeCopyRectTable(surface, clip, map, mapX, mapY, table);
}
