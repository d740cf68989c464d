// Shade map files in memory for the tests and the fuzzer: a source that reads
// from a byte vector and hands out counted calloc blocks, and a writer of BMP
// headers with any field set to anything, legal or not.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "effect/shade_map_format.h"

struct MemorySource {
  std::vector<uint8_t> bytes;
  uint32_t position = 0;
  int32_t takeLimit = INT32_MAX;  // larger blocks are refused, as the platform might
  int reads = 0;
  int takes = 0;
  std::vector<void*> blocks;

  explicit MemorySource(std::vector<uint8_t> b) : bytes(std::move(b)) {}
  MemorySource(const uint8_t* data, size_t size) : bytes(data, data + size) {}
  ~MemorySource() {
    for (void* b : blocks) std::free(b);
  }
  MemorySource(const MemorySource&) = delete;
  MemorySource& operator=(const MemorySource&) = delete;

  ShadeMapSource source() { return ShadeMapSource{this, Read, Seek, Take}; }

  static uint32_t Read(void* context, void* into, uint32_t count) {
    auto* self = static_cast<MemorySource*>(context);
    ++self->reads;
    const size_t left = self->position < self->bytes.size() ? self->bytes.size() - self->position : 0;
    const uint32_t n = count < left ? count : static_cast<uint32_t>(left);
    if (n) std::memcpy(into, self->bytes.data() + self->position, n);
    self->position += n;
    return n;
  }
  static int32_t Seek(void* context, uint32_t offset) {
    static_cast<MemorySource*>(context)->position = offset;
    return 0;
  }
  static void* Take(void* context, int32_t size) {
    auto* self = static_cast<MemorySource*>(context);
    ++self->takes;
    if (size <= 0 || size > self->takeLimit) return nullptr;
    void* block = std::calloc(static_cast<size_t>(size), 1);
    if (block) self->blocks.push_back(block);
    return block;
  }
};

// Fields of a BMP header. The picture and palette come from PictureIndex and
// PaletteEntry; rows are written only when the header asks for a sane amount.
struct BmpShape {
  uint16_t type = 0x4D42;
  int32_t width = 8;
  int32_t height = 4;  // positive: bottom-up
  uint16_t planes = 1;
  uint16_t bits = 8;
  uint32_t compression = 0;
  uint32_t colours = 0;
  int64_t pixelsAt = -1;  // -1: straight after the palette
  // 40 or more: a Windows info header, zero-filled past its first 40 bytes;
  // 12: the OS/2 core header (16-bit sides, 256 three-byte palette entries).
  // Other values are written as the 40-byte form that claims that size.
  uint32_t infoBytes = 40;
};

inline uint8_t PictureIndex(int32_t x, int32_t y) { return static_cast<uint8_t>(x * 7 + y * 13 + 1); }
inline void PaletteEntry(uint32_t i, uint8_t* entry) {
  entry[0] = static_cast<uint8_t>(i);
  entry[1] = static_cast<uint8_t>(255 - i);
  entry[2] = static_cast<uint8_t>(i * 3);
  entry[3] = 0;
}

inline void Put(std::vector<uint8_t>& out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i, v >>= 8) out.push_back(static_cast<uint8_t>(v));
}

inline std::vector<uint8_t> MakeBmp(const BmpShape& s) {
  const bool core = s.infoBytes == 12;
  const uint32_t entries = core || s.colours == 0 || s.colours > 256 ? 256 : s.colours;
  const uint32_t entryBytes = core ? 3 : 4;
  const uint32_t infoWritten = core ? 12 : s.infoBytes > 40 ? s.infoBytes : 40;
  const uint32_t start = 14 + infoWritten + entries * entryBytes;
  const uint32_t pixelsAt = s.pixelsAt < 0 ? start : static_cast<uint32_t>(s.pixelsAt);
  std::vector<uint8_t> out;
  Put(out, s.type, 2);
  Put(out, 0, 4);
  Put(out, 0, 4);
  Put(out, pixelsAt, 4);
  Put(out, s.infoBytes, 4);
  if (core) {
    Put(out, static_cast<uint32_t>(s.width), 2);
    Put(out, static_cast<uint32_t>(s.height), 2);
    Put(out, s.planes, 2);
    Put(out, s.bits, 2);
  } else {
    Put(out, static_cast<uint32_t>(s.width), 4);
    Put(out, static_cast<uint32_t>(s.height), 4);
    Put(out, s.planes, 2);
    Put(out, s.bits, 2);
    Put(out, s.compression, 4);
    Put(out, 0, 4);  // image size
    Put(out, 0, 4);  // resolutions
    Put(out, 0, 4);
    Put(out, s.colours, 4);
    Put(out, 0, 4);
    out.resize(14 + infoWritten, 0);
  }
  for (uint32_t i = 0; i < entries; ++i) {
    uint8_t e[4];
    PaletteEntry(i, e);
    out.insert(out.end(), e, e + entryBytes);
  }
  const int64_t rows = s.height < 0 ? -static_cast<int64_t>(s.height) : s.height;
  if (s.width <= 0 || s.width > 4096 || rows > 4096 || pixelsAt < start) return out;
  out.resize(pixelsAt, 0xEE);
  for (int64_t i = 0; i < rows; ++i) {
    const int32_t y = static_cast<int32_t>(s.height > 0 ? rows - 1 - i : i);
    for (int32_t x = 0; x < s.width; ++x) out.push_back(PictureIndex(x, y));
  }
  return out;
}

// The picture of the ImageMagick, netpbm and Pillow fixtures in tests/maps (see
// make-foreign-maps.sh): pixel (x, y) has colour kForeignColours[(x + 5y) % 32].
struct ForeignPicture {
  static constexpr int32_t kWidth = 16;
  static constexpr int32_t kHeight = 8;
  static void Colour(int32_t index, uint8_t rgb[3]) {
    static const uint8_t first[3][3] = {{30, 20, 10}, {254, 255, 255}, {0, 1, 1}};
    if (index < 3) {
      std::memcpy(rgb, first[index], 3);
      return;
    }
    rgb[0] = static_cast<uint8_t>(index * 37);
    rgb[1] = static_cast<uint8_t>(index * 91 + 7);
    rgb[2] = static_cast<uint8_t>(index * 53 + 101);
  }
  static uint8_t Gray(int32_t x, int32_t y) {
    uint8_t rgb[3];
    Colour((x + 5 * y) % 32, rgb);
    return static_cast<uint8_t>((rgb[0] + rgb[1] + rgb[2]) / 3);
  }
};

// A file of tests/maps, as the platform under test spells its path.
inline std::string FixtureMapPath(const char* name) {
  std::string here = __FILE__;  // .../tests/support/map_bytes.h
  here.resize(here.find_last_of("/\\") + 1);
#ifdef _WIN32
  std::string path = here + "..\\maps\\" + name;
  if (!path.empty() && path[0] == '/') path = "Z:" + path;  // Wine's drive for the Unix root
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
#else
  return here + "../maps/" + name;
#endif
}
