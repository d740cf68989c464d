// The Win32 half of the shade map reader: the file beside the executable and
// the memory its pixels live in. The record itself is portable.
#pragma once
#include <cstdint>

#include "effect/shade_map_format.h"

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

// Gives the pixels back and zeroes the record.
void ReleaseShadeMap(ShadeMap* map);
