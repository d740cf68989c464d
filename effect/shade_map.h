// The Win32 half of the shade map reader: the file beside the executable and
// the memory its pixels live in. The record itself is portable.
#pragma once
#include <cstdint>

#include "effect/shade_map_format.h"

// Room for any module path the platform can give plus the map's file name
// (bytes of an ANSI path, or UTF-16 units of a wide one).
constexpr uint32_t kShadeMapPathCapacity = 32768 + 16;

// The map's file as the system is asked to open it: in wide characters on
// the NT family, where a folder named in any script is found; in the ANSI
// code page on the 9x family, whose wide calls are stubs that fail.
struct ShadeMapFile {
  const uint16_t* wide;  // UTF-16; used when set
  const char* ansi;
};

// The map's file: the running executable's folder + "glmire.bmp" (just
// "glmire.bmp" when the module path has no backslash), in the ANSI code
// page. 0, or -1 when the path cannot be formed in capacity bytes.
int32_t ShadeMapPath(char* path, uint32_t capacity);
// The same file as the system names it best: wide on the NT family (into
// wide, capacity units), else ANSI (into ansi, capacity bytes); file points
// at the one formed. 0, or -1 when none could be formed.
int32_t ShadeMapFileBeside(ShadeMapFile* file, uint16_t* wide, char* ansi, uint32_t capacity);

// Reads an uncompressed 8-bit BMP into map (rows top to bottom). palette, when
// given, is 256 entries of blue, green, red, reserved; entries the file does
// not supply read as gray 128. 0 on success; -1 when the file cannot be opened
// or read or breaks a header rule (or, with no palette, on no memory); -2 when
// a palette was given and the pixels cannot be allocated. In a 32-bit process
// on 64-bit Windows the open is not redirected: the file is the one in the
// folder named, also in the system folder.
int32_t LoadShadeMap(ShadeMap* map, uint8_t* palette, const ShadeMapFile* file);

// Gives the pixels back and zeroes the record.
void ReleaseShadeMap(ShadeMap* map);
