#include "effect/shade_map_format.h"

#include <cstddef>
#include <cstring>

namespace {

constexpr int32_t kMinSide = 4;
constexpr int32_t kMaxSide = 65535;
constexpr uint8_t kUnsuppliedGray = 128;  // leaves the screen as it is
constexpr char kMapName[] = "glmire.bmp";
constexpr uint32_t kCoreHeaderBytes = 12;

// BITMAPINFOHEADER and its V2, V3, V4 and V5 successors.
bool IsInfoHeaderSize(uint32_t size) {
  return size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
}

uint32_t U16(const uint8_t* p) { return static_cast<uint32_t>(p[0] | p[1] << 8); }
uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

int32_t CheckShadeMapHeader(const uint8_t* bytes, uint32_t count, ShadeMapLayout* layout) {
  if (count < kShadeMapHeaderBytes) return -1;
  if (U16(bytes + 0) != 0x4D42u) return -1;  // "BM"
  const uint32_t infoBytes = U32(bytes + 14);
  uint32_t rawWidth, rawHeight, colours, entryBytes;
  if (infoBytes == kCoreHeaderBytes) {
    // OS/2 1.x (and Windows 2.x) files: unsigned 16-bit sides, so always
    // bottom-up; never compressed; the palette is as long as the bit count allows.
    if (U16(bytes + 22) != 1) return -1;  // planes
    if (U16(bytes + 24) != 8) return -1;  // bits per pixel
    rawWidth = U16(bytes + 18);
    rawHeight = U16(bytes + 20);
    colours = kShadeMapPaletteEntries;
    entryBytes = 3;
  } else if (IsInfoHeaderSize(infoBytes)) {
    // The later Windows headers only append fields (masks, colour space)
    // that an uncompressed palette picture does not use.
    if (U16(bytes + 26) != 1) return -1;  // planes
    if (U16(bytes + 28) != 8) return -1;  // bits per pixel
    if (U32(bytes + 30) != 0) return -1;  // compression
    colours = U32(bytes + 46);
    if (colours > kShadeMapPaletteEntries) return -1;
    if (colours == 0) colours = kShadeMapPaletteEntries;
    rawWidth = U32(bytes + 18);
    rawHeight = U32(bytes + 22);
    entryBytes = 4;
  } else {
    // Any other size is a header whose fields we would be guessing at.
    return -1;
  }

  // Read as unsigned and narrowed with care: the magnitude of the most negative
  // height does not exist as a 32-bit value.
  const bool bottomUp = rawHeight < 0x80000000u;
  const uint32_t magnitude = bottomUp ? rawHeight : 0u - rawHeight;
  if (rawWidth < static_cast<uint32_t>(kMinSide) || rawWidth > static_cast<uint32_t>(kMaxSide) ||
      rawWidth % 4 != 0)
    return -1;
  if (magnitude < static_cast<uint32_t>(kMinSide) || magnitude > static_cast<uint32_t>(kMaxSide))
    return -1;

  // Pixels that start inside the headers or the palette would show those
  // bytes as the picture. No overflow: at most 14 + 124 + 1024.
  const uint32_t paletteAt = 14 + infoBytes;
  const uint32_t pixelsAt = U32(bytes + 10);
  if (pixelsAt < paletteAt + colours * entryBytes) return -1;

  layout->width = static_cast<int32_t>(rawWidth);
  layout->height = static_cast<int32_t>(magnitude);
  layout->bottomUp = bottomUp;
  layout->colours = colours;
  layout->entryBytes = entryBytes;
  layout->paletteAt = paletteAt;
  layout->pixelsAt = pixelsAt;
  return 0;
}

int32_t ShadeMapByteCount(const ShadeMapLayout* layout) {
  const int64_t bytes = static_cast<int64_t>(layout->width) * layout->height;
  return bytes > INT32_MAX ? -1 : static_cast<int32_t>(bytes);
}

int32_t ShadeMapRowFor(const ShadeMapLayout* layout, int32_t index) {
  return layout->bottomUp ? layout->height - 1 - index : index;
}

void FillShadeMapPalette(uint8_t* palette, const uint8_t* fileEntries, uint32_t colours,
                         uint32_t entryBytes) {
  for (uint32_t i = 0; i < colours; ++i) {
    const uint8_t* from = fileEntries + i * entryBytes;
    uint8_t* entry = palette + i * 4;
    entry[0] = from[0];
    entry[1] = from[1];
    entry[2] = from[2];
    entry[3] = entryBytes == 4 ? from[3] : 0;
  }
  for (uint32_t i = colours; i < kShadeMapPaletteEntries; ++i) {
    uint8_t* entry = palette + i * 4;
    entry[0] = entry[1] = entry[2] = kUnsuppliedGray;
    entry[3] = 0;
  }
}

int32_t ReadShadeMap(ShadeMap* map, uint8_t* palette, const ShadeMapSource* source) {
  *map = ShadeMap{};
  uint8_t header[kShadeMapHeaderBytes];
  ShadeMapLayout layout;
  const uint32_t got = source->read(source->context, header, sizeof header);
  if (CheckShadeMapHeader(header, got, &layout) != 0) return -1;

  // The palette is read even when the caller wants none, so that a file too
  // short for its own palette is refused the same way either way. It starts
  // after the info header, which may be longer than the bytes read so far.
  uint8_t entries[kShadeMapPaletteEntries * 4];
  const uint32_t paletteBytes = layout.colours * layout.entryBytes;
  if (source->seek(source->context, layout.paletteAt) != 0) return -1;
  if (source->read(source->context, entries, paletteBytes) != paletteBytes) return -1;
  if (palette) FillShadeMapPalette(palette, entries, layout.colours, layout.entryBytes);
  const int32_t failure = palette ? -2 : -1;

  const int32_t bytes = ShadeMapByteCount(&layout);
  if (bytes < 0) return failure;
  auto* pixels = static_cast<uint8_t*>(source->take(source->context, bytes));
  if (!pixels) return failure;
  map->width = layout.width;
  map->height = layout.height;
  map->pixels = pixels;

  // Rows the file does not supply keep the block's zeros; an offset the file
  // cannot reach supplies none.
  if (source->seek(source->context, layout.pixelsAt) != 0) return 0;
  const uint32_t rowBytes = static_cast<uint32_t>(layout.width);
  for (int32_t i = 0; i < layout.height; ++i) {
    uint8_t* row = pixels + static_cast<size_t>(ShadeMapRowFor(&layout, i)) * rowBytes;
    if (source->read(source->context, row, rowBytes) != rowBytes) break;
  }
  return 0;
}

uint8_t GrayLevel(const uint8_t* entry) {
  return static_cast<uint8_t>((entry[0] + entry[1] + entry[2]) / 3);
}

void GrayPalette(ShadeMap* map, const uint8_t* palette) {
  if (!map->pixels) return;
  uint8_t gray[kShadeMapPaletteEntries];
  for (uint32_t i = 0; i < kShadeMapPaletteEntries; ++i) gray[i] = GrayLevel(palette + i * 4);
  uint8_t* p = map->pixels;
  uint8_t* const end = p + static_cast<size_t>(map->width) * static_cast<size_t>(map->height);
  for (; p != end; ++p) *p = gray[*p];
}

int32_t FormShadeMapPath(char* path, uint32_t length, uint32_t capacity,
                         const char* (*next)(const char*)) {
  if (capacity == 0 || length >= capacity - 1) return -1;
  // A stepper looks at the byte after a lead byte; past the path it must see the end.
  path[length] = '\0';
  const char* const end = path + length;
  uint32_t cut = 0;
  for (const char* p = path; p < end;) {
    // Only a backslash that starts a character separates folders; one that
    // trails a lead byte is half of a letter.
    if (*p == '\\') cut = static_cast<uint32_t>(p - path) + 1;
    const char* step = next(p);
    if (step <= p) step = p + 1;  // never stall on a stepper that does not move
    p = step < end ? step : end;
  }
  if (sizeof kMapName > capacity - cut) return -1;
  std::memcpy(path + cut, kMapName, sizeof kMapName);
  return 0;
}

int32_t FormWideShadeMapPath(uint16_t* path, uint32_t length, uint32_t capacity) {
  if (capacity == 0 || length >= capacity - 1) return -1;
  uint32_t cut = 0;
  for (uint32_t i = 0; i < length; ++i)
    if (path[i] == '\\') cut = i + 1;
  if (sizeof kMapName > capacity - cut) return -1;
  for (uint32_t i = 0; i < sizeof kMapName; ++i) path[cut + i] = static_cast<uint8_t>(kMapName[i]);
  return 0;
}
