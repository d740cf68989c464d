// The SSE2 shading loops. This is the only file built with SSE2 enabled on the
// 32-bit target, and it runs only after CpuHasSse2(); so it defines nothing but
// its own loops and uses no inline function shared with other files (a shared
// one could be emitted here with SSE2 code and picked by the linker for all).
//
// The 5-5-5 loop: the table rule, rewritten for 16-bit lanes. Below 128 a channel c under
// gray g is (c*g + 64) / 128. Above 128 the rule mirrors it: with e = 31 - c
// and h = 255 - g, 31 - T[c][g] = (e*h + 63) / 127, and g = 128 (h = 127)
// gives c back. So the light side flips every channel (c ^ 31 = 31 - c),
// shades with h = min(g, 255 - g) and flips the result back. Both sides are
// then (c*K/64 + 512) / 1024 with K = 512*h in the dark and K = 516*h in the
// light (516/64 stands for 1024/127; the tests compare every channel value
// under every gray with the table). A channel placed at the top of its lane,
// as 1024*c or 2048*c, times K in pmulhuw gives c*K/64 (or /32) in one step,
// and red's result lands in bits 10-14 without a shift.
//
// The 8-bit loop: the same mirror with 255 for 31. Below 128, c under g is
// (c*g + 64) / 128; above, 255 - T[c][g] = (e*h + 63) / 127 with e = 255 - c
// and h = 255 - g, so both sides shade a (flipped) channel with
// h = min(g, 255 - g) as N = c*h + 64 (or e*h + 63), at most 32448 in a
// 16-bit lane. N / 128 is pmulhuw by 0x8000 then a shift by 6; N / 127 is
// pmulhuw by 0x8103 then the same shift (33027/2^22 exceeds 1/127 by so
// little that the quotient is exact below 33554).
#include "effect/shade_kernels.h"

#if defined(__i386__) || defined(__x86_64__)
#include <emmintrin.h>

namespace {

// Eight pixels in place. h: min(g, 255 - g) per lane; multiplier: 512 or 516;
// flip: 0x7FFF on the light side, else 0.
inline void ShadeEight(Pixel555* pixels, __m128i h, __m128i multiplier, __m128i flip) {
  const __m128i channelTop = _mm_set1_epi16(0x7C00);
  const __m128i half = _mm_set1_epi16(512);
  const __m128i k = _mm_mullo_epi16(h, multiplier);
  const __m128i p = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels)), flip);

  // Bit 15 of p may be set; each channel below is cut out without it.
  __m128i red = _mm_mulhi_epu16(_mm_and_si128(p, channelTop), k);
  red = _mm_and_si128(_mm_add_epi16(red, half), channelTop);
  __m128i green = _mm_mulhi_epu16(_mm_and_si128(_mm_slli_epi16(p, 5), channelTop), k);
  green = _mm_and_si128(_mm_srli_epi16(_mm_add_epi16(green, half), 5), _mm_set1_epi16(0x03E0));
  // 2048*c: one shift drops the other channels; the scale is twice red's.
  __m128i blue = _mm_mulhi_epu16(_mm_slli_epi16(p, 11), k);
  blue = _mm_srli_epi16(_mm_add_epi16(blue, _mm_set1_epi16(1024)), 11);

  const __m128i shaded = _mm_or_si128(_mm_or_si128(red, green), blue);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(pixels), _mm_xor_si128(shaded, flip));
}

// Four 32-bit pixels in place. grays: each pixel's gray in all four of its
// bytes. The reserved byte is kept from the pixel.
inline __attribute__((always_inline)) void ShadeFour(uint32_t* pixels, __m128i grays) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels));
  // Signed bytes: g >= 128 is negative, so this is all ones on the light side.
  const __m128i light = _mm_cmpgt_epi8(zero, grays);
  const __m128i h = _mm_xor_si128(grays, light);
  const __m128i c = _mm_xor_si128(p, light);
  const __m128i bias = _mm_set1_epi16(64);  // 63 on the light side: 64 + (-1)
  const __m128i dark = _mm_set1_epi16(static_cast<short>(0x8000));
  const __m128i lightExtra = _mm_set1_epi16(0x0103);  // 0x8000 | 0x0103 = 0x8103

  const __m128i lightLow = _mm_unpacklo_epi8(light, light);
  __m128i low = _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(c, zero), _mm_unpacklo_epi8(h, zero)),
                              _mm_add_epi16(bias, lightLow));
  low = _mm_srli_epi16(_mm_mulhi_epu16(low, _mm_or_si128(dark, _mm_and_si128(lightLow, lightExtra))), 6);
  const __m128i lightHigh = _mm_unpackhi_epi8(light, light);
  __m128i high = _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(c, zero), _mm_unpackhi_epi8(h, zero)),
                               _mm_add_epi16(bias, lightHigh));
  high = _mm_srli_epi16(_mm_mulhi_epu16(high, _mm_or_si128(dark, _mm_and_si128(lightHigh, lightExtra))), 6);

  const __m128i shaded = _mm_xor_si128(_mm_packus_epi16(low, high), light);
  const __m128i reserved = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(pixels),
                   _mm_or_si128(_mm_and_si128(p, reserved), _mm_andnot_si128(reserved, shaded)));
}

// Eight grays (the low half of eight) into two groups of four pixels each.
inline __attribute__((always_inline)) void ShadeEightCopy(uint32_t* pixels, __m128i eightGrays) {
  const __m128i pairs = _mm_unpacklo_epi8(eightGrays, eightGrays);
  ShadeFour(pixels, _mm_unpacklo_epi16(pairs, pairs));
  ShadeFour(pixels + 4, _mm_unpackhi_epi16(pairs, pairs));
}

}  // namespace

void ShadeRectSse2(PixelSurface* frame, Rect clip, const ShadeMap* map, int32_t mapX, int32_t mapY,
                   const ShadeTable* table) {
  const int32_t rows = clip.bottom - clip.top;
  const int32_t cols = clip.right - clip.left;
  if (rows <= 0 || cols <= 0) return;
  const int32_t vectorCols = cols & ~7;

  const __m128i zero = _mm_setzero_si128();
  const __m128i four = _mm_set1_epi8(4);
  const __m128i two = _mm_set1_epi8(2);
  const __m128i low7 = _mm_set1_epi8(0x7F);
  for (int32_t i = 0; i < rows; ++i) {
    const uint8_t* gray = map->pixels + static_cast<intptr_t>(mapY + i) * map->width + mapX;
    Pixel555* p = frame->pixels + static_cast<intptr_t>(clip.top + i) * frame->stride + clip.left;
    int32_t j = 0;
    for (; j + 16 <= vectorCols; j += 16) {
      const __m128i g = _mm_loadu_si128(reinterpret_cast<const __m128i*>(gray + j));
      // Signed bytes: g >= 128 is negative, so this is all ones on the light side.
      const __m128i light = _mm_cmpgt_epi8(zero, g);
      const __m128i h = _mm_xor_si128(g, light);
      // Byte pairs unpack to 16-bit lanes: 2*256 + (0 or 4), and 0 or 0x7FFF.
      const __m128i multiplierLow = _mm_and_si128(light, four);
      const __m128i flipHigh = _mm_and_si128(light, low7);
      ShadeEight(p + j, _mm_unpacklo_epi8(h, zero), _mm_unpacklo_epi8(multiplierLow, two),
                 _mm_unpacklo_epi8(light, flipHigh));
      ShadeEight(p + j + 8, _mm_unpackhi_epi8(h, zero), _mm_unpackhi_epi8(multiplierLow, two),
                 _mm_unpackhi_epi8(light, flipHigh));
    }
    if (j < vectorCols) {
      const __m128i g = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(gray + j));
      const __m128i light = _mm_cmpgt_epi8(zero, g);
      ShadeEight(p + j, _mm_unpacklo_epi8(_mm_xor_si128(g, light), zero),
                 _mm_unpacklo_epi8(_mm_and_si128(light, four), two),
                 _mm_unpacklo_epi8(light, _mm_and_si128(light, low7)));
    }
  }
  if (vectorCols < cols)
    ShadeRectTable(frame, Rect{clip.left + vectorCols, clip.top, clip.right, clip.bottom}, map,
                   mapX + vectorCols, mapY, table);
}

void ShadeCopyRectSse2(CopySurface* surface, Rect clip, const ShadeMap* map, int32_t mapX, int32_t mapY,
                       const ChannelShadeTable* table) {
  const int32_t rows = clip.bottom - clip.top;
  const int32_t cols = clip.right - clip.left;
  if (rows <= 0 || cols <= 0) return;
  const int32_t vectorCols = cols & ~7;
  for (int32_t i = 0; i < rows; ++i) {
    const uint8_t* gray = map->pixels + static_cast<intptr_t>(mapY + i) * map->width + mapX;
    uint32_t* p = surface->pixels + static_cast<intptr_t>(clip.top + i) * surface->width + clip.left;
    int32_t j = 0;
    for (; j + 16 <= vectorCols; j += 16) {
      const __m128i g = _mm_loadu_si128(reinterpret_cast<const __m128i*>(gray + j));
      ShadeEightCopy(p + j, g);
      ShadeEightCopy(p + j + 8, _mm_unpackhi_epi64(g, g));
    }
    if (j < vectorCols) ShadeEightCopy(p + j, _mm_loadl_epi64(reinterpret_cast<const __m128i*>(gray + j)));
  }
  if (vectorCols < cols)
    ShadeCopyRectTable(surface, Rect{clip.left + vectorCols, clip.top, clip.right, clip.bottom}, map,
                       mapX + vectorCols, mapY, table);
}

#else

void ShadeRectSse2(PixelSurface* frame, Rect clip, const ShadeMap* map, int32_t mapX, int32_t mapY,
                   const ShadeTable* table) {
  ShadeRectTable(frame, clip, map, mapX, mapY, table);
}

void ShadeCopyRectSse2(CopySurface* surface, Rect clip, const ShadeMap* map, int32_t mapX, int32_t mapY,
                       const ChannelShadeTable* table) {
  ShadeCopyRectTable(surface, clip, map, mapX, mapY, table);
}

#endif
