#include "effect/shade_map_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/char_steps.h"
#include "tests/support/map_bytes.h"

namespace {

struct Loaded {
  int32_t result;
  ShadeMap map;
  uint8_t palette[1024];
};

Loaded Load(MemorySource& file, bool withPalette = true) {
  Loaded l;
  std::memset(l.palette, 0xA5, sizeof l.palette);
  l.map = ShadeMap{7, 7, reinterpret_cast<uint8_t*>(&l)};  // must come back zeroed on failure
  const ShadeMapSource source = file.source();
  l.result = ReadShadeMap(&l.map, withPalette ? l.palette : nullptr, &source);
  return l;
}

const char* const kForeignMaps[] = {
    "magick-bottom-up.bmp",    "magick-top-down.bmp",  "magick-v5-bottom-up.bmp",
    "magick-v5-top-down.bmp",  "magick-bmp2.bmp",      "netpbm-bottom-up.bmp",
    "netpbm-top-down.bmp",     "netpbm-os2.bmp",       "pillow-bottom-up.bmp",
    "pillow-top-down.bmp"};

std::vector<uint8_t> ReadFixture(const char* name) {
  std::vector<uint8_t> bytes;
  std::FILE* f = std::fopen(FixtureMapPath(name).c_str(), "rb");
  if (!f) return bytes;
  uint8_t buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
  std::fclose(f);
  return bytes;
}

TEST(ShadeMapHeader, EachRuleRefusesWithNothingTaken) {
  struct Case { const char* what; std::function<void(BmpShape&)> change; int32_t expected; };
  const Case cases[] = {
      {"4x4 with colours 0", [](BmpShape& s) { s.width = 4; s.height = 4; }, 0},
      {"largest height", [](BmpShape& s) { s.width = 4; s.height = -65535; }, 0},
      {"not BM", [](BmpShape& s) { s.type = 0x4142; }, -1},
      {"two planes", [](BmpShape& s) { s.planes = 2; }, -1},
      {"4-bit", [](BmpShape& s) { s.bits = 4; }, -1},
      {"24-bit", [](BmpShape& s) { s.bits = 24; }, -1},
      {"run-length", [](BmpShape& s) { s.compression = 1; }, -1},
      {"257 colours", [](BmpShape& s) { s.colours = 257; }, -1},
      {"width 6", [](BmpShape& s) { s.width = 6; }, -1},
      {"width 3", [](BmpShape& s) { s.width = 3; }, -1},
      {"width 0", [](BmpShape& s) { s.width = 0; }, -1},
      {"width -8", [](BmpShape& s) { s.width = -8; }, -1},
      {"width 65536", [](BmpShape& s) { s.width = 65536; }, -1},
      {"height 3", [](BmpShape& s) { s.height = 3; }, -1},
      {"height -3", [](BmpShape& s) { s.height = -3; }, -1},
      {"height 65536", [](BmpShape& s) { s.height = 65536; }, -1},
      {"height -65536", [](BmpShape& s) { s.height = -65536; }, -1},
      {"most negative height", [](BmpShape& s) { s.height = INT32_MIN; }, -1},
  };
  for (const Case& k : cases) {
    BmpShape shape;
    k.change(shape);
    MemorySource file(MakeBmp(shape));
    Loaded l = Load(file);
    EXPECT_EQ(l.result, k.expected) << k.what;
    EXPECT_EQ(file.takes, k.expected == 0 ? 1 : 0) << k.what;
    if (k.expected != 0) {
      EXPECT_EQ(l.map.pixels, nullptr) << k.what;
    }
  }
}

TEST(ShadeMapHeader, ShortFilesAreRefusedBeforeAnythingIsTaken) {
  BmpShape shape;
  shape.colours = 16;
  const std::vector<uint8_t> whole = MakeBmp(shape);
  for (size_t keep : {size_t{0}, size_t{13}, size_t{53}, size_t{54}, size_t{54 + 63}}) {
    for (bool withPalette : {true, false}) {
      MemorySource file(std::vector<uint8_t>(whole.begin(), whole.begin() + keep));
      Loaded l = Load(file, withPalette);
      EXPECT_EQ(l.result, -1) << keep;
      EXPECT_EQ(file.takes, 0) << keep;
      EXPECT_EQ(l.map.pixels, nullptr);
    }
  }
}

TEST(ShadeMapHeader, NoMemoryIsMinusTwoOnlyWithAPalette) {
  struct Case { int32_t width, height, takeLimit; int takes; };
  const Case cases[] = {
      {8, 4, 0, 1},              // the platform refuses
      {65532, 65535, INT32_MAX, 0},  // more than one block can be: never asked for
      {65532, -32771, INT32_MAX, 0},   // just past the largest block size
  };
  for (const Case& k : cases)
    for (bool withPalette : {true, false}) {
      BmpShape shape;
      shape.width = k.width;
      shape.height = k.height;
      MemorySource file(MakeBmp(shape));
      file.takeLimit = k.takeLimit;
      Loaded l = Load(file, withPalette);
      EXPECT_EQ(l.result, withPalette ? -2 : -1) << k.width << "x" << k.height;
      EXPECT_EQ(file.takes, k.takes);
      EXPECT_EQ(l.map.width, 0);
      EXPECT_EQ(l.map.pixels, nullptr);
    }
}

TEST(ShadeMapLoad, BothRowOrdersGiveTheSamePictureOneReadPerRow) {
  for (int32_t height : {5, -5}) {
    BmpShape shape;
    shape.width = 12;
    shape.height = height;
    MemorySource file(MakeBmp(shape));
    Loaded l = Load(file);
    ASSERT_EQ(l.result, 0);
    EXPECT_EQ(l.map.width, 12);
    EXPECT_EQ(l.map.height, 5);
    EXPECT_EQ(file.reads, 2 + 5);  // headers, palette, then one per row
    for (int32_t y = 0; y < 5; ++y)
      for (int32_t x = 0; x < 12; ++x)
        ASSERT_EQ(l.map.pixels[y * 12 + x], PictureIndex(x, y)) << height << " " << x << "," << y;
    for (uint32_t i = 0; i < 256; ++i) {
      uint8_t e[4];
      PaletteEntry(i, e);
      ASSERT_EQ(0, std::memcmp(l.palette + i * 4, e, 4)) << i;
    }
  }
}

// The palette starts after the info header, whatever its size; a misplaced
// palette shows as wrong entries, misplaced pixels as a wrong picture.
TEST(ShadeMapHeader, EachHeaderFormReadsItsOwnPaletteAndRows) {
  struct Case { const char* what; uint32_t infoBytes; int32_t height; uint32_t colours; int32_t expected; };
  const Case cases[] = {
      {"info 40", 40, 5, 0, 0},          {"info 40 top-down", 40, -5, 16, 0},
      {"V2 52", 52, 5, 0, 0},            {"V3 56", 56, -5, 0, 0},
      {"V4 108", 108, 5, 200, 0},        {"V5 124", 124, 5, 0, 0},
      {"V5 124 top-down", 124, -5, 3, 0}, {"OS/2 core 12", 12, 5, 0, 0},
      {"size 0", 0, 5, 0, -1},           {"size 11", 11, 5, 0, -1},
      {"size 13", 13, 5, 0, -1},         {"OS/2 2.x short 16", 16, 5, 0, -1},
      {"size 39", 39, 5, 0, -1},         {"size 41", 41, 5, 0, -1},
      {"OS/2 2.x 64", 64, 5, 0, -1},     {"size 125", 125, 5, 0, -1},
      {"size 0xFFFFFFFF", 0xFFFFFFFFu, 5, 0, -1},
  };
  for (const Case& k : cases) {
    BmpShape shape;
    shape.width = 12;
    shape.height = k.height;
    shape.colours = k.colours;
    shape.infoBytes = k.infoBytes;
    MemorySource file(MakeBmp(shape));
    Loaded l = Load(file);
    ASSERT_EQ(l.result, k.expected) << k.what;
    if (k.expected != 0) {
      EXPECT_EQ(file.takes, 0) << k.what;
      continue;
    }
    EXPECT_EQ(l.map.width, 12) << k.what;
    EXPECT_EQ(l.map.height, 5) << k.what;
    for (int32_t y = 0; y < 5; ++y)
      for (int32_t x = 0; x < 12; ++x)
        ASSERT_EQ(l.map.pixels[y * 12 + x], PictureIndex(x, y)) << k.what << " " << x << "," << y;
    const uint32_t supplied = k.colours ? k.colours : 256;
    for (uint32_t i = 0; i < supplied; ++i) {
      uint8_t e[4];
      PaletteEntry(i, e);
      ASSERT_EQ(0, std::memcmp(l.palette + i * 4, e, 4)) << k.what << " entry " << i;
    }
  }

  // The core header's own rules: 16-bit sides, one plane, 8 bits.
  struct CoreCase { const char* what; int32_t width, height; uint16_t planes, bits; };
  const CoreCase refused[] = {{"width 6", 6, 4, 1, 8},     {"height 3", 8, 3, 1, 8},
                              {"two planes", 8, 4, 2, 8},  {"24-bit", 8, 4, 1, 24},
                              {"width 65536 wraps to 0", 65536, 4, 1, 8}};
  for (const CoreCase& k : refused) {
    BmpShape shape;
    shape.infoBytes = 12;
    shape.width = k.width;
    shape.height = k.height;
    shape.planes = k.planes;
    shape.bits = k.bits;
    MemorySource file(MakeBmp(shape));
    EXPECT_EQ(Load(file).result, -1) << k.what;
    EXPECT_EQ(file.takes, 0) << k.what;
  }
}

// Where the pixels may start: nowhere inside the headers or the palette.
TEST(ShadeMapHeader, PixelOffsetMustLieAtOrPastThePaletteEnd) {
  struct Case { uint32_t infoBytes, colours; int64_t fromEnd; int32_t expected; };
  const Case cases[] = {
      {40, 0, 0, 0},     {40, 0, 5, 0},     {40, 0, -1, -1},   {40, 16, -64, -1},  // into the palette's start
      {124, 16, 0, 0},   {124, 16, -1, -1}, {124, 16, -148, -1},  // where a 40-byte header's palette would end
      {12, 0, 0, 0},     {12, 0, -1, -1},   {12, 0, -256, -1},    // where four-byte entries would end
      {108, 0, -1146, -1},  // 0: the file header itself
  };
  for (const Case& k : cases) {
    BmpShape shape;
    shape.width = 8;
    shape.height = 4;  // the core header's sides are unsigned: bottom-up only
    shape.infoBytes = k.infoBytes;
    shape.colours = k.colours;
    const uint32_t entries = k.colours && k.infoBytes != 12 ? k.colours : 256;
    const int64_t end = 14 + k.infoBytes + entries * (k.infoBytes == 12 ? 3 : 4);
    shape.pixelsAt = end + k.fromEnd;
    const std::vector<uint8_t> bytes = MakeBmp(shape);
    MemorySource file(bytes);
    Loaded l = Load(file);
    const std::string what = std::to_string(k.infoBytes) + " at end" + std::to_string(k.fromEnd);
    ASSERT_EQ(l.result, k.expected) << what;
    if (k.expected != 0) {
      EXPECT_EQ(file.takes, 0) << what;
      continue;
    }
    for (int32_t y = 0; y < 4; ++y)
      for (int32_t x = 0; x < 8; ++x)
        ASSERT_EQ(l.map.pixels[y * 8 + x], PictureIndex(x, y)) << what;
  }
}

TEST(ShadeMapLoad, UnsuppliedPaletteEntriesAndRowsAreNeutralOrZero) {
  BmpShape shape;
  shape.width = 8;
  shape.height = -4;
  shape.colours = 2;
  std::vector<uint8_t> bytes = MakeBmp(shape);
  bytes.resize(bytes.size() - 8 - 5);  // row 2 is cut after 3 bytes, row 3 is missing
  MemorySource file(bytes);
  Loaded l = Load(file);
  ASSERT_EQ(l.result, 0);
  for (uint32_t i = 2; i < 256; ++i) {
    const uint8_t neutral[4] = {128, 128, 128, 0};
    ASSERT_EQ(0, std::memcmp(l.palette + i * 4, neutral, 4)) << i;
  }
  for (int32_t x = 0; x < 8; ++x) {
    EXPECT_EQ(l.map.pixels[8 + x], PictureIndex(x, 1));
    EXPECT_EQ(l.map.pixels[16 + x], x < 3 ? PictureIndex(x, 2) : 0) << x;
    EXPECT_EQ(l.map.pixels[24 + x], 0);
  }

  // Pixels said to start past the end: a loaded map of zeros.
  shape.pixelsAt = 1 << 20;
  std::vector<uint8_t> headerOnly = MakeBmp(shape);
  headerOnly.resize(54 + 2 * 4);
  MemorySource far(headerOnly);
  Loaded f = Load(far);
  ASSERT_EQ(f.result, 0);
  for (int32_t i = 0; i < 32; ++i) ASSERT_EQ(f.map.pixels[i], 0);
}

TEST(ShadeMapGray, PaletteEntriesAverageTheirChannels) {
  struct Case { uint8_t b, g, r, gray; };
  const Case cases[] = {{10, 20, 30, 20}, {255, 255, 254, 254}, {1, 1, 0, 0},
                        {255, 255, 255, 255}, {0, 0, 0, 0}, {128, 128, 128, 128}};
  uint8_t palette[1024] = {};
  for (size_t i = 0; i < std::size(cases); ++i) {
    const uint8_t entry[4] = {cases[i].b, cases[i].g, cases[i].r, 99};
    EXPECT_EQ(GrayLevel(entry), cases[i].gray) << i;
    std::memcpy(palette + i * 4, entry, 4);
  }
  uint8_t bytes[8] = {0, 1, 2, 3, 4, 5, 200, 2};
  ShadeMap map{4, 2, bytes};
  GrayPalette(&map, palette);
  const uint8_t expected[8] = {20, 254, 0, 255, 0, 128, 0, 0};
  EXPECT_EQ(0, std::memcmp(bytes, expected, 8));
}

// Files that ImageMagick, netpbm and Pillow wrote, in each header form they
// use, both row orders where the form has them.
TEST(ShadeMapForeign, OtherProgramsMapsLoadAsThePictureTheyHold) {
  for (const char* name : kForeignMaps) {
    MemorySource file(ReadFixture(name));
    ASSERT_FALSE(file.bytes.empty()) << name;
    Loaded l = Load(file);
    ASSERT_EQ(l.result, 0) << name;
    ASSERT_EQ(l.map.width, ForeignPicture::kWidth);
    ASSERT_EQ(l.map.height, ForeignPicture::kHeight);
    GrayPalette(&l.map, l.palette);
    for (int32_t y = 0; y < l.map.height; ++y)
      for (int32_t x = 0; x < l.map.width; ++x)
        ASSERT_EQ(l.map.pixels[y * l.map.width + x], ForeignPicture::Gray(x, y))
            << name << " " << x << "," << y;
    EXPECT_EQ(l.map.pixels[0], 20);
    EXPECT_EQ(l.map.pixels[1], 254);
    EXPECT_EQ(l.map.pixels[2], 0);
  }
  for (const char* name : {"magick-rle8.bmp", "magick-24bit.bmp", "magick-4bit.bmp"}) {
    MemorySource file(ReadFixture(name));
    ASSERT_FALSE(file.bytes.empty()) << name;
    EXPECT_EQ(Load(file).result, -1) << name;
    EXPECT_EQ(file.takes, 0);
  }
}

// Code page 932 (Shift-JIS): lead bytes 0x81-0x9F and 0xE0-0xFC take the
// next byte along, which may be 0x5C.
const char* StepShiftJis(const char* p) {
  const auto b = static_cast<unsigned char>(*p);
  const bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
  return lead && p[1] != '\0' ? p + 2 : p + 1;
}

TEST(ShadeMapPathForm, CutsAfterTheLastWholeCharacterBackslash) {
  struct Case {
    const char* module; uint32_t capacity; int32_t result; const char* path;
    const char* (*next)(const char*);
  };
  const Case cases[] = {
      {"C:\\Windows\\System\\glmire.scr", 64, 0, "C:\\Windows\\System\\glmire.bmp", StepOne},
      {"C:\\a.scr", 64, 0, "C:\\glmire.bmp", StepOne},
      {"glmire.scr", 64, 0, "glmire.bmp", StepOne},
      {"C:\\dir\\", 64, 0, "C:\\dir\\glmire.bmp", StepOne},
      {"C:\\d\\x.scr", 16, 0, "C:\\d\\glmire.bmp", StepOne},  // exactly fits with its terminator
      {"C:\\d\\x.scr", 15, -1, nullptr, StepOne},
      {"C:\\d\\abcdefgh", 14, -1, nullptr, StepOne},           // the module path itself may be cut short
      {"", 1, -1, nullptr, StepOne},
      // Shift-JIS: 0x95 0x5C is one letter (a kanji); its 0x5C is no separator.
      {"C:\\\x95\x5C\\glmire.scr", 64, 0, "C:\\\x95\x5C\\glmire.bmp", StepShiftJis},
      {"C:\\Savers\\\x95\x5C\x8E\xA6.scr", 64, 0, "C:\\Savers\\glmire.bmp", StepShiftJis},
      {"\x95\x5C\x8E\xA6.scr", 64, 0, "glmire.bmp", StepShiftJis},
      {"C:\\d\\\x95", 64, 0, "C:\\d\\glmire.bmp", StepShiftJis},  // a lead byte with nothing after it
      // The same bytes under a single-byte code page: 0x5C is a backslash there.
      {"C:\\Savers\\\x95\x5C\x8E\xA6.scr", 64, 0, "C:\\Savers\\\x95\\glmire.bmp", StepOne},
  };
  for (const Case& k : cases) {
    std::vector<char> path(k.capacity + 8, '#');
    std::strcpy(path.data(), k.module);
    const uint32_t length = static_cast<uint32_t>(std::strlen(k.module));
    EXPECT_EQ(FormShadeMapPath(path.data(), length, k.capacity, k.next), k.result) << k.module;
    if (k.path) {
      EXPECT_STREQ(path.data(), k.path) << k.module;
    }
    EXPECT_EQ(path[k.capacity], '#') << k.module;
  }
}

// The NT family's wide path: a folder in any script (here Cyrillic and CJK)
// keeps its letters, and only whole backslash units separate folders.
TEST(ShadeMapPathForm, WidePathsCutAfterTheLastBackslash) {
  struct Case {
    const char16_t* module; uint32_t capacity; int32_t result; const char16_t* path;
  };
  const Case cases[] = {
      {u"C:\\\u0417\u0430\u0441\u0442\u0430\u0432\u043a\u0438\\glmire.scr", 64, 0,
       u"C:\\\u0417\u0430\u0441\u0442\u0430\u0432\u043a\u0438\\glmire.bmp"},
      {u"C:\\\u8868\u793a\\\u8868\u793a.scr", 64, 0, u"C:\\\u8868\u793a\\glmire.bmp"},
      {u"glmire.scr", 64, 0, u"glmire.bmp"},
      {u"C:\\d\\x.scr", 16, 0, u"C:\\d\\glmire.bmp"},  // exactly fits with its terminator
      {u"C:\\d\\x.scr", 15, -1, nullptr},
      {u"C:\\d\\abcdefgh", 14, -1, nullptr},  // the module path itself may be cut short
  };
  for (const Case& k : cases) {
    std::u16string module(k.module);
    std::vector<uint16_t> path(k.capacity + 8, '#');
    std::copy(module.begin(), module.end(), path.begin());
    const uint32_t length = static_cast<uint32_t>(module.size());
    EXPECT_EQ(FormWideShadeMapPath(path.data(), length, k.capacity), k.result) << k.capacity;
    if (k.path) {
      const std::u16string expected(k.path);
      EXPECT_EQ(std::u16string(path.begin(), path.begin() + static_cast<std::ptrdiff_t>(expected.size() + 1)),
                expected + u'\0');
    }
    EXPECT_EQ(path[k.capacity], '#');
  }
}

}  // namespace
