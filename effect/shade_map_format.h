// The platform-free half of the shade map reader: header rules, where each
// stored row lands, the gray conversion and forming the map's path. The Win32
// half (shade_map.cpp) only supplies the file and the memory.
#pragma once
#include <cstdint>

// The gray shade map: which screen pixels are darkened or lightened, and how
// much. Rows run top to bottom with no padding; after GrayPalette every byte
// is a gray level 0-255. A zeroed record is the empty map.
struct ShadeMap {
  int32_t width;
  int32_t height;
  uint8_t* pixels;
};

// Replaces every map byte by the gray level (b + g + r) / 3 of its palette entry.
void GrayPalette(ShadeMap* map, const uint8_t* palette);

// The bytes read before the header is judged: the file header and the first
// 40 bytes of the info header. Every file the reader accepts is longer (the
// smallest, an OS/2 core header, carries a 768-byte palette).
constexpr uint32_t kShadeMapHeaderBytes = 14 + 40;
constexpr uint32_t kShadeMapPaletteEntries = 256;

// What the reader keeps of an accepted header.
struct ShadeMapLayout {
  int32_t width;
  int32_t height;        // always positive
  bool bottomUp;         // rows stored last row first
  uint32_t colours;      // palette entries in the file, 1-256
  uint32_t entryBytes;   // 4 (blue, green, red, reserved), or 3 after a core header
  uint32_t paletteAt;    // file offset of the first palette entry: just past the info header
  uint32_t pixelsAt;     // file offset of the first stored row
};

// Checks the first kShadeMapHeaderBytes of the file and fills layout. Info
// headers of 40, 52, 56, 108 and 124 bytes are read alike (only their first
// 40 bytes matter); the 12-byte OS/2 core header has 16-bit sides, no
// compression field and 256 three-byte palette entries. 0, or -1 when a rule
// is broken, the header size is none of those, the pixels are said to start
// inside the headers or the palette, or fewer than 54 bytes came.
int32_t CheckShadeMapHeader(const uint8_t* bytes, uint32_t count, ShadeMapLayout* layout);

// Bytes the map's pixels take, or -1 when more than one block can hold.
int32_t ShadeMapByteCount(const ShadeMapLayout* layout);

// Map row (top to bottom) that the index-th stored row of the file belongs to.
int32_t ShadeMapRowFor(const ShadeMapLayout* layout, int32_t index);

// The caller's 256-entry palette of four-byte entries: the file's colours
// entries (entryBytes each; three-byte ones get a zero reserved byte), then gray 128.
void FillShadeMapPalette(uint8_t* palette, const uint8_t* fileEntries, uint32_t colours,
                         uint32_t entryBytes);

// Where the reader gets its bytes and memory. Each call is the platform's
// (ReadFile, SetFilePointer, AllocBlock) in the saver, memory in the tests.
struct ShadeMapSource {
  void* context;
  // Bytes actually placed in into; fewer than count at the end of the file or on error.
  uint32_t (*read)(void* context, void* into, uint32_t count);
  // Moves to offset from the start; 0, or -1 when it cannot.
  int32_t (*seek)(void* context, uint32_t offset);
  // A zero-filled block of size bytes, or null.
  void* (*take)(void* context, int32_t size);
};

// The whole reading algorithm on an open source: header, palette, one block,
// one read per row straight into its final place. Results as LoadShadeMap;
// on failure the record is zeroed and no block is held.
int32_t ReadShadeMap(ShadeMap* map, uint8_t* palette, const ShadeMapSource* source);

// Gray level of one palette entry (blue, green, red, reserved).
uint8_t GrayLevel(const uint8_t* entry);

// Rewrites path (holding the executable's path, length bytes, capacity bytes
// of room) into the map's path: cut after the last backslash that is a whole
// character, "glmire.bmp" appended. next steps one character forward in the
// path's code page (CharNextA in the saver): under a double-byte code page a
// backslash byte may be the second half of a character. 0, or -1 when the
// result does not fit or the path may have been cut short by the platform
// (length + 1 >= capacity).
int32_t FormShadeMapPath(char* path, uint32_t length, uint32_t capacity,
                         const char* (*next)(const char*));
// The same for a UTF-16 path (the NT family's wide characters), whose
// backslash unit is never part of another character. Results as above.
int32_t FormWideShadeMapPath(uint16_t* path, uint32_t length, uint32_t capacity);
