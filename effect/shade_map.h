// The gray shade map: which screen pixels are darkened or lightened, and how much.
#pragma once
#include <cstdint>

// Rows run top to bottom with no padding; after GrayPalette every byte is a
// gray level 0-255. A zeroed record is the empty map.
struct ShadeMap {
  int32_t width;
  int32_t height;
  uint8_t* pixels;
};

// Room for any module path the platform can give plus the map's file name.
constexpr uint32_t kShadeMapPathCapacity = 32768 + 16;

// The map's file: the running executable's folder + "glmire.bmp" (just
// "glmire.bmp" when the module path has no backslash). 0, or -1 when the path
// cannot be formed in capacity bytes.
int32_t ShadeMapPath(char* path, uint32_t capacity);

// Reads an uncompressed 8-bit BMP into map (rows top to bottom). palette, when
// given, is 256 entries of blue, green, red, reserved; entries the file does
// not supply read as gray 128. 0 on success; -1 when the file cannot be opened
// or read or breaks a header rule (or, with no palette, on no memory); -2 when
// a palette was given and the pixels cannot be allocated.
int32_t LoadShadeMap(ShadeMap* map, uint8_t* palette, const char* path);

// Replaces every map byte by the gray level (b + g + r) / 3 of its palette entry.
void GrayPalette(ShadeMap* map, const uint8_t* palette);

// Gives the pixels back and zeroes the record.
void ReleaseShadeMap(ShadeMap* map);
