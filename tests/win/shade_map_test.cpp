#include "effect/shade_map.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "effect/block_ledger.h"
#include "tests/support/box_watcher.h"
#include "tests/support/map_bytes.h"

namespace {

// An ANSI file name as the reader takes it; valid while path is.
const ShadeMapFile* Named(const std::string& path) {
  static ShadeMapFile file;
  file = ShadeMapFile{nullptr, path.c_str()};
  return &file;
}

std::string ExecutableFolder() {
  char path[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string s(path, n);
  return s.substr(0, s.find_last_of('\\') + 1);
}

// Files this test writes: its own temporary folder, removed afterwards.
class MapFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    CheckBlockLedger();
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    folder_ = std::string(temp) + "glmire-map-test-" + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(folder_.c_str(), nullptr);
  }
  void TearDown() override {
    for (const std::string& f : files_) DeleteFileA(f.c_str());
    RemoveDirectoryA(folder_.c_str());
    BoxWatcher watcher;
    EXPECT_EQ(CheckBlockLedger(), 0) << "a block was left taken";
  }
  std::string Write(const char* name, const std::vector<uint8_t>& bytes) {
    const std::string path = folder_ + name;
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(f);
    files_.push_back(path);
    return path;
  }
  std::string folder_;
  std::vector<std::string> files_;
};

TEST_F(MapFiles, RefusalsTakeNoBlockAndLeaveNoHandle) {
  BmpShape wide;
  wide.width = 6;
  BmpShape huge;  // more than one block can be
  huge.width = 65532;
  huge.height = 65535;
  BmpShape big;  // one block could be, but not in a 32-bit process
  big.width = 65532;
  big.height = -32770;
  std::vector<uint8_t> truncated = MakeBmp(BmpShape{});
  truncated.resize(40);
  struct Case { const char* name; std::vector<uint8_t> bytes; int32_t withPalette, without; };
  const Case cases[] = {{"wide.bmp", MakeBmp(wide), -1, -1},
                        {"huge.bmp", MakeBmp(huge), -2, -1},
                        {"big.bmp", MakeBmp(big), -2, -1},
                        {"short.bmp", truncated, -1, -1}};
  for (const Case& k : cases) {
    const std::string path = Write(k.name, k.bytes);
    ShadeMap map{1, 2, nullptr};
    uint8_t palette[1024];
    EXPECT_EQ(LoadShadeMap(&map, palette, Named(path)), k.withPalette) << k.name;
    EXPECT_EQ(LoadShadeMap(&map, nullptr, Named(path)), k.without) << k.name;
    EXPECT_EQ(map.width, 0);
    EXPECT_EQ(map.pixels, nullptr);
    EXPECT_NE(DeleteFileA(path.c_str()), 0) << k.name << " is still open";
  }
  ShadeMap map;
  EXPECT_EQ(LoadShadeMap(&map, nullptr, Named(folder_ + "missing.bmp")), -1);
  ReleaseShadeMap(&map);  // releasing the empty map is harmless
}

TEST(ShadeMapFiles, OtherProgramsMapsReadThroughThePlatform) {
  for (const char* name : {"magick-bottom-up.bmp", "magick-top-down.bmp", "magick-v5-bottom-up.bmp",
                           "magick-v5-top-down.bmp", "magick-bmp2.bmp", "netpbm-bottom-up.bmp",
                           "netpbm-top-down.bmp", "netpbm-os2.bmp", "pillow-bottom-up.bmp",
                           "pillow-top-down.bmp"}) {
    ShadeMap map;
    uint8_t palette[1024];
    ASSERT_EQ(LoadShadeMap(&map, palette, Named(FixtureMapPath(name))), 0) << FixtureMapPath(name);
    // Closed again: a handle still reading would refuse an exclusive open.
    HANDLE f = CreateFileA(FixtureMapPath(name).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(f, INVALID_HANDLE_VALUE) << name;
    CloseHandle(f);
    GrayPalette(&map, palette);
    for (int32_t y = 0; y < ForeignPicture::kHeight; ++y)
      for (int32_t x = 0; x < ForeignPicture::kWidth; ++x)
        ASSERT_EQ(map.pixels[y * map.width + x], ForeignPicture::Gray(x, y)) << name << " " << x << "," << y;
    ReleaseShadeMap(&map);
    EXPECT_EQ(map.pixels, nullptr);
    EXPECT_EQ(map.width, 0);
  }
  BoxWatcher watcher;  // an unbalanced count fails here rather than waits
  EXPECT_EQ(CheckBlockLedger(), 0);
}

// The maps the build writes with mkshademap: the default beside the saver and
// the demo patterns.
TEST(ShadeMapFiles, TheBuildsMapsAreAcceptableGrayMaps) {
  const std::string build = ExecutableFolder() + "..\\";
  const char* const names[] = {"bin\\glmire.bmp", "maps\\glow.bmp", "maps\\shadow.bmp",
                               "maps\\ring.bmp", "maps\\ramp.bmp", "maps\\checker.bmp"};
  for (const char* name : names) {
    const std::string path = build + name;
    ShadeMap map;
    uint8_t palette[1024];
    ASSERT_EQ(LoadShadeMap(&map, palette, Named(path)), 0) << path;
    EXPECT_GE(map.width, 64);
    EXPECT_GE(map.height, 64);
    EXPECT_EQ(map.width % 4, 0);
    for (int i = 0; i < 256; ++i) {
      const uint8_t gray[4] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i), 0};
      ASSERT_EQ(0, std::memcmp(palette + i * 4, gray, 4)) << path << " entry " << i;
    }
    GrayPalette(&map, palette);
    const int32_t w = map.width, h = map.height;
    const uint8_t* p = map.pixels;
    if (std::strstr(name, "glmire") || std::strstr(name, "glow")) {
      EXPECT_GT(p[(h / 2) * w + w / 2], 200) << "a bright core";
      for (int32_t x = 0; x < w; ++x) {  // the rim leaves the screen alone
        ASSERT_EQ(p[x], 128);
        ASSERT_EQ(p[(h - 1) * w + x], 128);
      }
    }
    if (std::strstr(name, "ramp")) {  // stored bottom-up: read back the right way up
      EXPECT_EQ(p[0], 0);
      EXPECT_EQ(p[(h - 1) * w], 255);
    }
    ReleaseShadeMap(&map);
  }
  BoxWatcher watcher;  // an unbalanced count fails here rather than waits
  EXPECT_EQ(CheckBlockLedger(), 0);
}

TEST(ShadeMapFiles, PathIsBesideTheExecutable) {
  std::vector<char> path(kShadeMapPathCapacity);
  ASSERT_EQ(ShadeMapPath(path.data(), kShadeMapPathCapacity), 0);
  EXPECT_EQ(std::string(path.data()), ExecutableFolder() + "glmire.bmp");
  // The NT family names it in wide characters, which any folder name keeps.
  std::vector<uint16_t> wide(kShadeMapPathCapacity);
  ShadeMapFile file = {};
  ASSERT_EQ(ShadeMapFileBeside(&file, wide.data(), path.data(), kShadeMapPathCapacity), 0);
  ASSERT_EQ(file.wide, wide.data());
  wchar_t module[MAX_PATH * 4] = {};
  std::wstring expected(module, GetModuleFileNameW(nullptr, module, MAX_PATH * 4));
  expected = expected.substr(0, expected.rfind(L'\\') + 1) + L"glmire.bmp";
  EXPECT_TRUE(std::wstring(wide.begin(), wide.begin() + static_cast<std::ptrdiff_t>(expected.size())) == expected &&
              wide[expected.size()] == 0);
  char tiny[8];
  EXPECT_EQ(ShadeMapPath(tiny, sizeof tiny), -1);
  EXPECT_EQ(ShadeMapPath(tiny, 0), -1);
}

}  // namespace
