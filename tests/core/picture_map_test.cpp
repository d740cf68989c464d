// The picture-to-map step and the map writer's file, without any decoder: the
// claimed sizes read from headers, where the picture lands in the map, the
// area averaging, the background, proportion and fade, and the file read back
// by the saver's own reader.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/map_bytes.h"
#include "tools/shademap/map_file.h"
#include "tools/shademap/picture_map.h"

namespace {

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

TEST(PictureMap, PeekReadsTheClaimedSize) {
  const std::string png = std::string("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR", 16);
  const std::string jpegStart("\xFF\xD8\xFF\xE0\x00\x04\x00\x00", 8);  // SOI, a 4-byte APP0
  struct Case {
    const char* name;
    std::string bytes;
    int32_t result, kind;
    uint32_t width, height;
  } cases[] = {
      {"png", png + std::string("\0\0\xEA\x60\0\0\x01\x00", 8), 0, kPicturePng, 60000, 256},
      {"png cut in its header", png + std::string("\0\0", 2), -2, 0, 0, 0},
      {"png of no width", png + std::string(8, '\0'), -2, 0, 0, 0},
      {"gif", std::string("GIF89a\x40\x01\xF0\x00", 10), 0, kPictureGif, 320, 240},
      {"bmp, bottom-up", std::string("BM", 2) + std::string(12, '\0') +
                             std::string("\x28\0\0\0\x10\0\0\0\x08\0\0\0", 12), 0, kPictureBmp, 16, 8},
      {"bmp, top-down", std::string("BM", 2) + std::string(12, '\0') +
                            std::string("\x28\0\0\0\x10\0\0\0\xF8\xFF\xFF\xFF", 12), 0, kPictureBmp, 16, 8},
      {"bmp, OS/2 core", std::string("BM", 2) + std::string(12, '\0') +
                             std::string("\x0C\0\0\0\x10\0\x08\0\x01\0\x18\0", 12), 0, kPictureBmp, 16, 8},
      {"bmp, unknown header", std::string("BM", 2) + std::string(12, '\0') +
                                  std::string("\x05\0\0\0\x10\0\0\0\x08\0\0\0", 12), -2, 0, 0, 0},
      {"progressive jpeg", jpegStart + std::string("\xFF\xC2\x00\x0B\x08\x17\x70\x1F\x40\x01\x01", 11),
       0, kPictureJpeg, 8000, 6000},
      {"jpeg frame header beyond the bytes", jpegStart + std::string("\xFF\xE1\x40\x00", 4), 0,
       kPictureJpeg, 0, 0},
      {"jpeg scan before any frame", jpegStart + std::string("\xFF\xDA\x00\x08", 4), -2, 0, 0, 0},
      {"tiff, little-endian", std::string("II*\0\x08\0\0\0\x02\0", 10) +
                                  std::string("\x00\x01\x03\0\x01\0\0\0\x60\xEA\0\0", 12) +
                                  std::string("\x01\x01\x04\0\x01\0\0\0\x60\xEA\0\0", 12),
       0, kPictureTiff, 60000, 60000},
      {"tiff, big-endian", std::string("MM\0*\0\0\0\x08\0\x01", 10) +
                               std::string("\x01\x00\0\x03\0\0\0\x01\x00\x20\0\0", 12), -2, 0, 0, 0},
      {"ico, 256 wide", std::string("\0\0\1\0\1\0\0\x30", 8), 0, kPictureIco, 256, 48},
      {"text", "hello, world", -1, 0, 0, 0},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> bytes = Bytes(c.bytes);
    PictureHeader header;
    EXPECT_EQ(PeekPicture(bytes.data(), static_cast<uint32_t>(bytes.size()), &header), c.result) << c.name;
    if (c.result == 0) {
      EXPECT_EQ(std::vector<uint32_t>({uint32_t(header.kind), header.width, header.height}),
                std::vector<uint32_t>({uint32_t(c.kind), c.width, c.height}))
          << c.name;
    }
  }
}

TEST(PictureMap, PlanKeepsTheAspectAndWhatTheSaverReads) {
  struct Case {
    uint32_t w, h, size;
    MapShape shape;  // width, height, left, top, content width, content height, fade
  } cases[] = {
      {640, 480, 128, {128, 96, 0, 0, 128, 96, 6}},
      {70, 46, 128, {128, 84, 0, 0, 128, 84, 6}},
      {46, 70, 128, {84, 128, 0, 0, 84, 128, 6}},
      {50, 70, 64, {48, 64, 1, 0, 46, 64, 3}},      // width padded to a multiple of 4
      {4000, 10, 64, {64, 4, 0, 1, 64, 1, 1}},      // a sliver: 4 rows, fade within it
      {8000, 6000, 4096, {4096, 3072, 0, 0, 4096, 3072, 205}},
  };
  for (const Case& c : cases) {
    MapShape s;
    ASSERT_EQ(PlanPictureMap(&s, c.w, c.h, c.size), 0) << c.w << "x" << c.h;
    EXPECT_EQ(std::vector<uint32_t>({s.width, s.height, s.left, s.top, s.contentWidth,
                                     s.contentHeight, s.fade}),
              std::vector<uint32_t>({c.shape.width, c.shape.height, c.shape.left, c.shape.top,
                                     c.shape.contentWidth, c.shape.contentHeight, c.shape.fade}))
        << c.w << "x" << c.h << " at " << c.size;
  }
  MapShape s;
  EXPECT_EQ(PlanPictureMap(&s, 60000, 60000, 128), -1);  // more pixels than allowed
  EXPECT_EQ(PlanPictureMap(&s, 65536, 1, 128), -1);
  EXPECT_EQ(PlanPictureMap(&s, 640, 480, 63), -1);
  EXPECT_EQ(PlanPictureMap(&s, 640, 480, 4097), -1);
  EXPECT_EQ(CheckPictureSize(8000, 6000), 0);
}

// A picture held whole for the tests, fed to a scaler in strips of 3 rows.
struct Picture {
  uint32_t width, height;
  std::vector<uint8_t> bgra;
  void set(uint32_t x, uint32_t y, uint8_t level, uint8_t alpha = 255) {
    uint8_t* p = &bgra[(size_t{y} * width + x) * 4];
    p[0] = p[1] = p[2] = level;
    p[3] = alpha;
  }
};
Picture Fill(uint32_t w, uint32_t h, uint8_t (*level)(uint32_t, uint32_t), uint8_t alpha = 255) {
  Picture p{w, h, std::vector<uint8_t>(size_t{w} * h * 4)};
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) p.set(x, y, level(x, y), alpha);
  return p;
}

struct Scaled {
  std::vector<double> memory;
  PictureScaler scaler;
};
void Scale(Scaled* out, const Picture& p, uint32_t w, uint32_t h) {
  out->memory.assign(PictureScalerBytes(w, h) / sizeof(double) + 1, 0.0);
  StartPictureScaler(&out->scaler, out->memory.data(), p.width, p.height, w, h);
  for (uint32_t y = 0; y < p.height; y += 3)
    FeedPictureRows(&out->scaler, &p.bgra[size_t{y} * p.width * 4], p.height - y < 3 ? p.height - y : 3,
                    p.width * 4);
}

TEST(PictureMap, ScalingAveragesTheAreaEachPixelCovers) {
  struct Case {
    const char* name;
    Picture picture;
    uint32_t w, h;
    uint32_t lumaLo, lumaHi;  // every content pixel, 0-65535
    uint32_t coverLo, coverHi;
  } cases[] = {
      {"1-pixel checker halved", Fill(256, 256, [](uint32_t x, uint32_t y) -> uint8_t { return (x + y) & 1 ? 255 : 0; }),
       128, 128, 32767, 32768, 255, 255},
      // 7.8125 picture pixels a map pixel: each takes its share of the pixels it cuts.
      {"1-pixel checker by an odd factor", Fill(1000, 1000, [](uint32_t x, uint32_t y) -> uint8_t { return (x + y) & 1 ? 255 : 0; }),
       128, 128, 32768 - 257, 32768 + 257, 255, 255},
      {"half transparent", Fill(64, 64, [](uint32_t, uint32_t) -> uint8_t { return 200; }, 128),
       16, 16, 200 * 257, 200 * 257, 128, 128},
      {"enlarged flat", Fill(3, 5, [](uint32_t, uint32_t) -> uint8_t { return 77; }),
       100, 167, 77 * 257, 77 * 257, 255, 255},
  };
  for (const Case& c : cases) {
    Scaled s;
    Scale(&s, c.picture, c.w, c.h);
    ASSERT_EQ(s.scaler.rowsOut, c.h) << c.name;
    uint32_t lo = 65535, hi = 0, clo = 255, chi = 0;
    for (size_t i = 0; i < size_t{c.w} * c.h; ++i) {
      lo = std::min<uint32_t>(lo, s.scaler.luma[i]);
      hi = std::max<uint32_t>(hi, s.scaler.luma[i]);
      clo = std::min<uint32_t>(clo, s.scaler.cover[i]);
      chi = std::max<uint32_t>(chi, s.scaler.cover[i]);
    }
    EXPECT_GE(lo, c.lumaLo) << c.name;
    EXPECT_LE(hi, c.lumaHi) << c.name;
    EXPECT_EQ(clo, c.coverLo) << c.name;
    EXPECT_EQ(chi, c.coverHi) << c.name;
  }
}

TEST(PictureMap, EnlargingKeepsEachPixelItsOwn) {
  Picture p = Fill(2, 2, [](uint32_t x, uint32_t y) -> uint8_t { return uint8_t(x * 100 + y * 50); });
  Scaled s;
  Scale(&s, p, 4, 4);
  EXPECT_EQ(s.scaler.luma[0], 0);
  EXPECT_EQ(s.scaler.luma[3], 100 * 257);
  EXPECT_EQ(s.scaler.luma[15], 150 * 257);
}

TEST(PictureMap, BackgroundIsTheBordersMedian) {
  struct Case {
    const char* name;
    Picture picture;
    uint32_t background;
  } cases[] = {
      {"logo on white", Fill(16, 16, [](uint32_t x, uint32_t y) -> uint8_t { return x > 4 && x < 11 && y > 4 && y < 11 ? 0 : 255; }), 65535},
      {"logo on black", Fill(16, 16, [](uint32_t x, uint32_t y) -> uint8_t { return x > 4 && x < 11 && y > 4 && y < 11 ? 255 : 0; }), 0},
      // 60 edge pixels; those on the left column are 10 and the rest 90: the majority wins.
      {"mostly one level", Fill(16, 16, [](uint32_t x, uint32_t) -> uint8_t { return x == 0 ? 10 : 90; }), 90 * 257},
      {"transparent all round", Fill(16, 16, [](uint32_t, uint32_t) -> uint8_t { return 0; }, 0), 32768},
  };
  for (const Case& c : cases) {
    Scaled s;
    Scale(&s, c.picture, 16, 16);
    EXPECT_EQ(PictureBackground(&s.scaler), c.background) << c.name;
  }
}

struct Shaded {
  MapShape shape;
  std::vector<uint8_t> map;
  uint8_t at(uint32_t x, uint32_t y) const { return map[size_t{y} * shape.width + x]; }
};
Shaded Shade(const Picture& p, uint32_t size) {
  Shaded out;
  EXPECT_EQ(PlanPictureMap(&out.shape, p.width, p.height, size), 0);
  Scaled s;
  Scale(&s, p, out.shape.contentWidth, out.shape.contentHeight);
  out.map.assign(size_t{out.shape.width} * out.shape.height, 0);
  ShadePictureMap(&s.scaler, &out.shape, out.map.data());
  return out;
}

TEST(PictureMap, TheLensTakesTheFullRangeAndFadesToNeutral) {
  struct Case {
    const char* name;
    Picture picture;
    uint8_t lowest, highest;  // of the whole map
  } cases[] = {
      {"dark logo on white", Fill(160, 120, [](uint32_t x, uint32_t y) -> uint8_t { return x > 40 && x < 120 && y > 30 && y < 90 ? 0 : 255; }), 1, 128},
      {"bright logo on black", Fill(160, 120, [](uint32_t x, uint32_t y) -> uint8_t { return x > 40 && x < 120 && y > 30 && y < 90 ? 255 : 0; }), 128, 255},
      // Background 100, farthest level 200: 100 levels are 127, so 50 below is 64 below.
      {"photo-like", Fill(160, 120, [](uint32_t x, uint32_t y) -> uint8_t { return y < 30 || y > 89 || x < 40 || x > 119 ? 100 : x < 80 ? 200 : 50; }), 128 - 64, 255},
      // Glare up to the right-hand rim, far beyond the range: it saturates
      // before it fades, so the rim keeps its gentle slope there too.
      {"saturated at the rim", Fill(160, 120, [](uint32_t x, uint32_t y) -> uint8_t { return x == 0 || y == 0 || x == 159 || y == 119 ? 100 : x >= 145 ? 255 : 130; }), 128, 255},
      {"transparent picture", Fill(160, 120, [](uint32_t x, uint32_t) -> uint8_t { return uint8_t(x); }, 0), 128, 128},
      {"flat picture", Fill(160, 120, [](uint32_t, uint32_t) -> uint8_t { return 30; }), 128, 128},
  };
  for (const Case& c : cases) {
    const Shaded s = Shade(c.picture, 128);
    uint8_t lo = 255, hi = 0;
    for (uint8_t v : s.map) lo = std::min(lo, v), hi = std::max(hi, v);
    EXPECT_EQ(lo, c.lowest) << c.name;
    EXPECT_EQ(hi, c.highest) << c.name;
    // The rim is exactly neutral, and no step near it is larger than the
    // smooth fade allows (127 x the step's first rise, 3/f^2 - 2/f^3).
    const double f = s.shape.fade, rise = 127.0 * (3.0 / (f * f) - 2.0 / (f * f * f));
    for (uint32_t y = 0; y < s.shape.height; ++y)
      for (uint32_t x = 0; x < s.shape.width; ++x) {
        const bool rim = x == 0 || y == 0 || x + 1 == s.shape.width || y + 1 == s.shape.height;
        if (rim) {
          EXPECT_EQ(s.at(x, y), 128) << c.name << " at " << x << "," << y;
        }
        if (rim && x + 1 < s.shape.width && y + 1 < s.shape.height) {
          EXPECT_LE(std::abs(s.at(x + 1, y + 1) - 128), rise + 1) << c.name << " at " << x << "," << y;
        }
      }
  }
}

TEST(PictureMap, AFewSpecksOfGlareDoNotLeaveAPhotoFaint) {
  // Background 100 (a thin border), the subject 30 levels brighter, and 8% of
  // it glare at 255: the subject, not the glare, takes the range.
  const Shaded s = Shade(Fill(200, 200, [](uint32_t x, uint32_t y) -> uint8_t {
    if (x < 10 || x >= 190 || y < 10 || y >= 190) return 100;
    return x < 61 && y < 61 ? 255 : 130;
  }), 200);
  EXPECT_EQ(s.at(100, 100), 255);
  EXPECT_EQ(s.at(3, 100), 128);
}

TEST(PictureMap, PaddedColumnsStayNeutral) {
  // 50 x 70 at 64: content 46 wide in a 48-wide map, one gray column each side.
  const Shaded s = Shade(Fill(50, 70, [](uint32_t x, uint32_t y) -> uint8_t { return uint8_t(x * 5 + y); }), 64);
  ASSERT_EQ(s.shape.width, 48u);
  for (uint32_t y = 0; y < s.shape.height; ++y) {
    EXPECT_EQ(s.at(0, y), 128);
    EXPECT_EQ(s.at(1, y), 128);  // the content's own rim
    EXPECT_EQ(s.at(47, y), 128);
  }
}

TEST(MapFile, TheSaversReaderTakesWhatTheWriterWrites) {
  const uint32_t w = 12, h = 5;
  std::vector<uint8_t> gray(w * h);
  for (uint32_t i = 0; i < w * h; ++i) gray[i] = uint8_t(i * 4);
  std::vector<uint8_t> file(MapFileBytes(w, h));
  ASSERT_EQ(file.size(), kMapFileHeaderBytes + w * h);
  EncodeMapFile(file.data(), gray.data(), w, h);
  MemorySource memory(file);
  const ShadeMapSource source = memory.source();
  ShadeMap map{};
  uint8_t palette[1024];
  ASSERT_EQ(ReadShadeMap(&map, palette, &source), 0);
  GrayPalette(&map, palette);
  ASSERT_EQ(map.width, int32_t(w));
  ASSERT_EQ(map.height, int32_t(h));
  EXPECT_EQ(std::vector<uint8_t>(map.pixels, map.pixels + w * h), gray);

  EXPECT_EQ(MapFileBytes(6, 4), 0u);   // the saver reads widths of multiples of 4
  EXPECT_EQ(MapFileBytes(4, 3), 0u);
  EXPECT_EQ(MapFileBytes(65536, 4), 0u);
}

TEST(MapFile, CommandLineArguments) {
  struct Case {
    const char* line;
    std::vector<std::string> args;
  } cases[] = {
      {"  a  b\t", {"a", "b"}},
      {"\"C:\\My Pictures\\cat.jpg\" out.bmp 256", {"C:\\My Pictures\\cat.jpg", "out.bmp", "256"}},
      {"\"C:\\dir\\\\\" x", {"C:\\dir\\", "x"}},      // 2n backslashes before a quote
      {"a\\\\\\\"b", {"a\\\"b"}},                      // 2n+1: a literal quote
      {"a\\b\\\\c", {"a\\b\\\\c"}},                     // no quote: backslashes as they are
      {"\"say \"\"hi\"\"\"", {"say \"hi\""}},
  };
  for (const Case& c : cases) {
    const char* cursor = c.line;
    char arg[64];
    std::vector<std::string> got;
    while (NextArgument(&cursor, arg, sizeof arg) == 1) got.push_back(arg);
    EXPECT_EQ(got, c.args) << c.line;
  }
  const char* cursor = "abcdefgh";
  char small[4];
  EXPECT_EQ(NextArgument(&cursor, small, sizeof small), -1);
}

TEST(MapFile, SizeArgument) {
  struct Case {
    const char* text;
    int32_t result;
    uint32_t size;
  } cases[] = {{"128", 0, 128}, {"64", 0, 64}, {"4096", 0, 4096}, {"63", -1, 0}, {"4097", -1, 0},
               {"99999999999", -1, 0}, {"12a", -1, 0}, {"", -1, 0}, {"-128", -1, 0}};
  for (const Case& c : cases) {
    uint32_t size = 0;
    EXPECT_EQ(ParseMapSize(c.text, 64, 4096, &size), c.result) << c.text;
    if (c.result == 0) {
      EXPECT_EQ(size, c.size) << c.text;
    }
  }
}

}  // namespace
