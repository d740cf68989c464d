#include "effect/shade_table.h"

#include "effect/shade_kernels.h"

#if defined(__i386__)
#include <cpuid.h>
#endif

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
// The table loop runs everywhere; the vector loop only once the caller that
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
