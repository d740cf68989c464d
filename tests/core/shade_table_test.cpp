#include "effect/shade_table.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

int Entry(const ShadeTable* t, int c, int g) { return t->entries[c * 256 + g]; }

// The rule in words: below 128 scale by g/128, above 128 move (g-128)/127 of
// the way to 31, both rounded to nearest; computed in doubles, independently.
int ClosedForm(int c, int g) {
  if (g <= 128) return static_cast<int>(c * g / 128.0 + 0.5);
  return static_cast<int>(c + (31 - c) * (g - 128) / 127.0 + 0.5);
}

TEST(ShadeTable, TellingEntries) {
  const ShadeTable* t = BuildShadeTable();
  struct Case { int c, g, expected; };
  const Case cases[] = {{31, 0, 0},    {31, 64, 16},  {16, 64, 8},   {31, 127, 31}, {10, 129, 10},
                        {16, 192, 24}, {5, 200, 20},  {0, 255, 31},  {16, 255, 31}, {0, 128, 0},
                        {17, 128, 17}, {31, 128, 31}};
  for (const Case& k : cases) EXPECT_EQ(Entry(t, k.c, k.g), k.expected) << k.c << "," << k.g;
}

TEST(ShadeTable, EveryEntryFollowsTheRule) {
  const ShadeTable* t = BuildShadeTable();
  for (int c = 0; c < 32; ++c)
    for (int g = 0; g < 256; ++g) {
      ASSERT_EQ(Entry(t, c, g), ClosedForm(c, g)) << c << "," << g;
      ASSERT_LE(Entry(t, c, g), 31);
    }
}

int ChannelEntry(const ChannelShadeTable* t, int c, int g) { return t->entries[g * 256 + c]; }

TEST(ChannelShadeTable, TellingEntries) {
  const ChannelShadeTable* t = BuildChannelShadeTable();
  struct Case { int c, g, expected; };
  const Case cases[] = {{255, 0, 0},    {255, 64, 128},  {128, 64, 64},   {255, 127, 253}, {10, 129, 12},
                        {200, 129, 200}, {128, 192, 192}, {40, 200, 162},  {0, 255, 255},   {128, 255, 255},
                        {0, 128, 0},    {77, 128, 77},   {255, 128, 255}, {0, 0, 0},       {255, 255, 255}};
  for (const Case& k : cases) EXPECT_EQ(ChannelEntry(t, k.c, k.g), k.expected) << k.c << "," << k.g;
}

// Every entry against the rule in doubles; and the two promises a user sees:
// below 128 a channel only darkens, above only lightens, and 128 keeps it,
// each side monotone in the gray.
TEST(ChannelShadeTable, EveryEntryFollowsTheRuleAndDarkensOrLightensOnly) {
  const ChannelShadeTable* t = BuildChannelShadeTable();
  for (int c = 0; c < 256; ++c)
    for (int g = 0; g < 256; ++g) {
      const int v = ChannelEntry(t, c, g);
      const double exact = g <= 128 ? c * g / 128.0 : c + (255 - c) * (g - 128) / 127.0;
      ASSERT_EQ(v, static_cast<int>(exact + 0.5)) << c << "," << g;
      // Darkening below 128, identity at 128, lightening above.
      ASSERT_TRUE(g < 128 ? v <= c : g == 128 ? v == c : v >= c) << c << "," << g;
      ASSERT_TRUE(g == 0 || v >= ChannelEntry(t, c, g - 1)) << c << "," << g;
    }
}

struct Surface {
  std::vector<Pixel555> pixels;
  PixelSurface view;
  Surface(int32_t w, int32_t h, int32_t stride, Pixel555 fill)
      : pixels(static_cast<size_t>(stride) * h, fill), view{w, h, stride, pixels.data()} {}
  Pixel555 at(int x, int y) const { return pixels[static_cast<size_t>(y) * view.stride + x]; }
};

struct Map {
  std::vector<uint8_t> bytes;
  ShadeMap view;
  Map(int32_t w, int32_t h, uint8_t fill)
      : bytes(static_cast<size_t>(w) * h, fill), view{w, h, bytes.data()} {}
};

TEST(ShadeRect, UniformGrayOnWholeSurface) {
  struct Case { const char* name; Pixel555 pixel; uint8_t gray; Pixel555 expected; };
  const Case cases[] = {
      {"128 only clears bit 15", 0xFFFF, 128, 0x7FFF},
      {"128 keeps the pixel", 0x1234, 128, 0x1234},
      {"0 is black", 0x7FFF, 0, 0x0000},
      {"0 clears bit 15 too", 0x8000, 0, 0x0000},
      {"255 is white", 0x0000, 255, 0x7FFF},
      {"255 on a mixed pixel", 0x8421, 255, 0x7FFF},
      {"64 halves white", 0x7FFF, 64, 0x4210},
      {"192 lightens 16 to 24", 0x4210, 192, 0x6318},
      {"channels stay apart", 0x7C00, 64, 0x4000},  // red 31 -> 16, others stay 0
  };
  const ShadeTable* t = BuildShadeTable();
  for (const Case& k : cases) {
    Surface s(6, 3, 6, k.pixel);
    Map m(6, 3, k.gray);
    ShadeRect(&s.view, Rect{0, 0, 6, 3}, &m.view, 0, 0, t);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 6; ++x) ASSERT_EQ(s.at(x, y), k.expected) << k.name;
  }
}

TEST(ShadeRect, EmptyClipChangesNothing) {
  const ShadeTable* t = BuildShadeTable();
  const Rect clips[] = {{2, 2, 5, 2}, {2, 2, 2, 5}, {0, 0, 0, 0}, {4, 3, 2, 1}};
  for (const Rect& clip : clips) {
    Surface s(8, 8, 8, 0x7FFF);
    Map m(8, 8, 0);
    ShadeRect(&s.view, clip, &m.view, 0, 0, t);
    for (Pixel555 p : s.pixels) ASSERT_EQ(p, 0x7FFF);
  }
}

// A clip inside a strided surface reads the map from its offset and touches
// nothing outside the clip, padding included.
TEST(ShadeRect, ClipWithMapOffsetsAndPaddedRows) {
  const ShadeTable* t = BuildShadeTable();
  Surface s(5, 6, 6, 0x7FFF);  // odd width: one padding pixel per row
  Map m(8, 8, 128);
  // Map column x, row y holds gray 0 exactly at (3, 2); the clip starts there.
  m.bytes[2 * 8 + 3] = 0;
  m.bytes[2 * 8 + 4] = 64;
  m.bytes[3 * 8 + 3] = 255;
  ShadeRect(&s.view, Rect{1, 2, 3, 4}, &m.view, 3, 2, t);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 6; ++x) {
      Pixel555 expected = 0x7FFF;
      if (x == 1 && y == 2) expected = 0x0000;
      if (x == 2 && y == 2) expected = 0x4210;
      EXPECT_EQ(s.at(x, y), expected) << x << "," << y;
    }
}

// The 8-bit rule on a 32-bit surface: each channel through the table, the
// reserved byte kept, nothing outside the clip touched.
TEST(ShadeCopyRect, ShadesEachChannelKeepsTheReservedByteAndStaysInTheClip) {
  struct Case { const char* name; uint32_t pixel; uint8_t gray; uint32_t expected; };
  const Case cases[] = {
      {"128 keeps every bit", 0xA5123456u, 128, 0xA5123456u},
      {"0 is black, reserved kept", 0x7FFFFFFFu, 0, 0x7F000000u},
      {"255 is white, reserved kept", 0x00000000u, 255, 0x00FFFFFFu},
      {"64 halves", 0x00FF8040u, 64, 0x00804020u},
      {"192 lightens", 0xFF808080u, 192, 0xFFC0C0C0u},
      {"channels stay apart", 0x00FF0000u, 64, 0x00800000u},
  };
  const ChannelShadeTable* t = BuildChannelShadeTable();
  for (const Case& k : cases) {
    std::vector<uint32_t> pixels(7 * 4, k.pixel);
    CopySurface surface{7, 4, pixels.data()};
    Map m(9, 9, 0);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x) m.bytes[(y + 5) * 9 + x + 4] = k.gray;
    ShadeCopyRect(&surface, Rect{2, 1, 5, 3}, &m.view, 4, 5, t);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 7; ++x) {
        const bool inside = x >= 2 && x < 5 && y >= 1 && y < 3;
        ASSERT_EQ(pixels[y * 7 + x], inside ? k.expected : k.pixel) << k.name << " at " << x << "," << y;
      }
  }
}

}  // namespace
