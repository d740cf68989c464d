#include "effect/shade_kernels.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tests/support/sse2_cases.h"
#include "tests/support/xorshift.h"

namespace {

struct Patch {
  std::vector<Pixel555> pixels;  // exact size: the sanitizers see any stray access
  std::vector<uint8_t> grays;
  PixelSurface surface;
  ShadeMap map;
};

using Kernel = void (*)(PixelSurface*, Rect, const ShadeMap*, int32_t, int32_t, const ShadeTable*);

// The pixels after kernel shades a copy of patch.
std::vector<Pixel555> ShadedBy(Kernel kernel, const Patch& patch, Rect clip, int32_t mapX,
                               int32_t mapY) {
  std::vector<Pixel555> pixels = patch.pixels;
  PixelSurface surface = patch.surface;
  surface.pixels = pixels.data();
  kernel(&surface, clip, &patch.map, mapX, mapY, BuildShadeTable());
  return pixels;
}

// Row r holds channel value r % 32 in channel (r / 32) % 3, with bit 15 set
// from row 96 on; column x sits under gray x. The other two channels vary
// along the row so a channel leaking into another shows up.
TEST(ShadeKernels, Sse2EqualsTableForEveryChannelValueUnderEveryGray) {
  SKIP_WITHOUT_SSE2();
  constexpr int32_t kWidth = 256, kRows = 2 * 3 * 32;
  Patch patch{std::vector<Pixel555>(kWidth * kRows), std::vector<uint8_t>(kWidth * kRows), {}, {}};
  for (int32_t r = 0; r < kRows; ++r)
    for (int32_t x = 0; x < kWidth; ++x) {
      const unsigned value = r % 32, shift = 5 * ((r / 32) % 3);
      const unsigned around = ((x * 7u + r) & 31) * 0x421u;  // the same value in all three
      unsigned pixel = (around ^ 0x5555u) & 0x7FFF & ~(31u << shift);
      pixel |= value << shift | (r >= 96 ? 0x8000u : 0);
      patch.pixels[r * kWidth + x] = static_cast<Pixel555>(pixel);
      patch.grays[r * kWidth + x] = static_cast<uint8_t>(x);
    }
  patch.surface = {kWidth, kRows, kWidth, patch.pixels.data()};
  patch.map = {kWidth, kRows, patch.grays.data()};

  const Rect all{0, 0, kWidth, kRows};
  const std::vector<Pixel555> table = ShadedBy(ShadeRectTable, patch, all, 0, 0);
  const std::vector<Pixel555> sse2 = ShadedBy(ShadeRectSse2, patch, all, 0, 0);
  const ShadeTable* t = BuildShadeTable();
  for (int32_t r = 0; r < kRows; ++r)
    for (int32_t x = 0; x < kWidth; ++x) {
      const size_t at = static_cast<size_t>(r) * kWidth + x;
      const unsigned shift = 5 * ((r / 32) % 3);
      ASSERT_EQ(sse2[at], table[at]) << "channel value " << r % 32 << " at bit " << shift
                                     << " under gray " << x << (r >= 96 ? ", bit 15 set" : "");
      ASSERT_EQ((table[at] >> shift) & 31, t->entries[(r % 32) * 256 + x]);
    }
}

// A random patch around a clip of width round % 41: widths 0 to 40 cover the
// 16- and 8-pixel steps and every tail; the surface (rows of stride elements,
// odd and even padding), the clip and the map offsets around it are random.
// Grays lean to the edges of the rules (0, 127, 128, 255).
struct RandomShape {
  int32_t width, height, stride;
  Rect clip;
  int32_t mapX, mapY;
  std::vector<uint8_t> grays;
  ShadeMap map;
};

// false when the shape holds nothing.
bool MakeRandomShape(int round, uint32_t* seed, RandomShape* shape) {
  const int32_t cols = round % 41;
  const int32_t left = NextRandom(seed) % 5;
  shape->width = left + cols + NextRandom(seed) % 4;
  shape->stride = shape->width + NextRandom(seed) % 3;
  const int32_t rows = NextRandom(seed) % 6;
  const int32_t top = NextRandom(seed) % 3;
  shape->height = top + rows + NextRandom(seed) % 2;
  shape->mapX = NextRandom(seed) % 19;
  shape->mapY = NextRandom(seed) % 3;
  const int32_t mapWidth = shape->mapX + cols + NextRandom(seed) % 2;  // often no byte to spare
  const int32_t mapHeight = shape->mapY + rows;
  if (shape->width == 0 || shape->height == 0 || mapWidth == 0 || mapHeight == 0) return false;
  shape->clip = Rect{left, top, left + cols, top + rows};
  shape->grays.assign(static_cast<size_t>(mapWidth) * mapHeight, 0);
  static const uint8_t kEdges[] = {0, 1, 126, 127, 128, 129, 254, 255};
  for (uint8_t& g : shape->grays) {
    const uint32_t r = NextRandom(seed);
    g = static_cast<uint8_t>(r & 256 ? kEdges[r % 8] : r >> 24);
  }
  shape->map = ShadeMap{mapWidth, mapHeight, shape->grays.data()};
  return true;
}

bool Inside(Rect r, int32_t x, int32_t y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }

TEST(ShadeKernels, Sse2EqualsTableOnRandomPatches) {
  SKIP_WITHOUT_SSE2();
  uint32_t seed = 0x9E3779B9u;
  RandomShape k;
  for (int round = 0; round < 4000; ++round) {
    if (!MakeRandomShape(round, &seed, &k)) continue;
    Patch patch{std::vector<Pixel555>(static_cast<size_t>(k.stride) * k.height), k.grays, {}, {}};
    for (Pixel555& p : patch.pixels) p = static_cast<Pixel555>(NextRandom(&seed));
    patch.surface = {k.width, k.height, k.stride, patch.pixels.data()};
    patch.map = {k.map.width, k.map.height, patch.grays.data()};

    const std::vector<Pixel555> table = ShadedBy(ShadeRectTable, patch, k.clip, k.mapX, k.mapY);
    const std::vector<Pixel555> sse2 = ShadedBy(ShadeRectSse2, patch, k.clip, k.mapX, k.mapY);
    for (size_t at = 0; at < table.size(); ++at) {
      const int32_t x = static_cast<int32_t>(at % k.stride), y = static_cast<int32_t>(at / k.stride);
      ASSERT_EQ(sse2[at], table[at]) << "round " << round << " pixel " << x << "," << y;
      if (Inside(k.clip, x, y))
        ASSERT_EQ(sse2[at] & 0x8000, 0) << "round " << round;
      else
        ASSERT_EQ(sse2[at], patch.pixels[at]) << "round " << round << " pixel " << x << "," << y;
    }
  }
}

using CopyKernel = void (*)(CopySurface*, Rect, const ShadeMap*, int32_t, int32_t, const ChannelShadeTable*);

std::vector<uint32_t> CopyShadedBy(CopyKernel kernel, std::vector<uint32_t> pixels, int32_t width, int32_t height,
                                   const ShadeMap& map, Rect clip, int32_t mapX, int32_t mapY) {
  CopySurface surface{width, height, pixels.data()};
  kernel(&surface, clip, &map, mapX, mapY, BuildChannelShadeTable());
  return pixels;
}

// Row r holds channel value r in red, green and blue in turn (the other two
// and the reserved byte vary), column x sits under gray x: every (channel
// value, gray) pair in every channel.
TEST(ShadeKernels, CopySse2EqualsTableForEveryChannelValueUnderEveryGray) {
  SKIP_WITHOUT_SSE2();
  constexpr int32_t kWidth = 256, kRows = 3 * 256;
  std::vector<uint32_t> pixels(kWidth * kRows);
  std::vector<uint8_t> grays(kWidth * kRows);
  for (int32_t r = 0; r < kRows; ++r)
    for (int32_t x = 0; x < kWidth; ++x) {
      const unsigned shift = 8 * (r / 256);
      const uint32_t around = (static_cast<uint32_t>(x) * 2654435761u + r) & ~(0xFFu << shift);
      pixels[r * kWidth + x] = around | static_cast<uint32_t>(r % 256) << shift;
      grays[r * kWidth + x] = static_cast<uint8_t>(x);
    }
  const ShadeMap map{kWidth, kRows, grays.data()};
  const Rect all{0, 0, kWidth, kRows};
  const std::vector<uint32_t> table = CopyShadedBy(ShadeCopyRectTable, pixels, kWidth, kRows, map, all, 0, 0);
  const std::vector<uint32_t> sse2 = CopyShadedBy(ShadeCopyRectSse2, pixels, kWidth, kRows, map, all, 0, 0);
  const ChannelShadeTable* t = BuildChannelShadeTable();
  for (int32_t r = 0; r < kRows; ++r)
    for (int32_t x = 0; x < kWidth; ++x) {
      const size_t at = static_cast<size_t>(r) * kWidth + x;
      const unsigned shift = 8 * (r / 256);
      ASSERT_EQ(sse2[at], table[at]) << "channel value " << r % 256 << " at bit " << shift << " under gray " << x;
      ASSERT_EQ((table[at] >> shift) & 255, t->entries[x * 256 + r % 256]);
      ASSERT_EQ(table[at] >> 24, pixels[at] >> 24) << "the reserved byte changed";
    }
}

// The copy's rows have no padding: its surface is stride pixels wide.
TEST(ShadeKernels, CopySse2EqualsTableOnRandomPatches) {
  SKIP_WITHOUT_SSE2();
  uint32_t seed = 0x2545F491u;
  RandomShape k;
  for (int round = 0; round < 4000; ++round) {
    if (!MakeRandomShape(round, &seed, &k)) continue;
    std::vector<uint32_t> pixels(static_cast<size_t>(k.stride) * k.height);
    for (uint32_t& p : pixels) p = NextRandom(&seed);
    const std::vector<uint32_t> table =
        CopyShadedBy(ShadeCopyRectTable, pixels, k.stride, k.height, k.map, k.clip, k.mapX, k.mapY);
    const std::vector<uint32_t> sse2 =
        CopyShadedBy(ShadeCopyRectSse2, pixels, k.stride, k.height, k.map, k.clip, k.mapX, k.mapY);
    for (size_t at = 0; at < table.size(); ++at) {
      const int32_t x = static_cast<int32_t>(at % k.stride), y = static_cast<int32_t>(at / k.stride);
      ASSERT_EQ(sse2[at], table[at]) << "round " << round << " pixel " << x << "," << y;
      ASSERT_TRUE(Inside(k.clip, x, y) || sse2[at] == pixels[at]) << "round " << round << " pixel " << x << "," << y;
    }
  }
}

TEST(ShadeKernels, CpuidIsReadRightAndTheCoreWaitsForTheSystemsWord) {
#if defined(__i386__) || defined(__x86_64__)
  // The compiler's own CPUID reading, as an independent witness.
  __builtin_cpu_init();
  EXPECT_EQ(CpuHasSse2(), __builtin_cpu_supports("sse2") != 0);
#endif
#if defined(__x86_64__)
  EXPECT_TRUE(CpuHasSse2());
#endif
  // Whether the system keeps the SSE state is the Win32 layer's question:
  // until it has answered, the core runs the table loop.
  EXPECT_FALSE(ShadeRectUsesSse2());
}

}  // namespace
