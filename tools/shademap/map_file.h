// What both map writers share (mkshademap on the build machine, mkshademap.exe
// for Windows users): the file the saver reads, the built-in patterns and the
// writer's command line. No C library beyond what the compiler provides, so
// the Windows tool can link none.
#pragma once
#include <cstdint>

// Sides of a map the writer makes: the longer side (SIZE) for pictures, the
// square's side for patterns.
constexpr uint32_t kMapSizeMin = 64;
constexpr uint32_t kMapSizeMax = 4096;
constexpr uint32_t kMapSizeDefault = 128;

// 14-byte file header, 40-byte info header, 256 gray palette entries.
constexpr uint32_t kMapFileHeaderBytes = 14 + 40 + 256 * 4;

// Bytes of the whole file for a width x height map, or 0 when the saver could
// not read it (width not a multiple of 4, a side below 4 or above 65535) or it
// would not fit in 32 bits.
uint32_t MapFileBytes(uint32_t width, uint32_t height);

// Writes the file into out (MapFileBytes of room): headers, the palette in
// which index and gray level are the same number, then gray's rows (top row
// first, width bytes each) stored bottom-up as most programs write them.
void EncodeMapFile(uint8_t* out, const uint8_t* gray, uint32_t width, uint32_t height);

struct MapPattern {
  const char* name;
  const char* description;
};
extern const MapPattern kMapPatterns[];
extern const uint32_t kMapPatternCount;

// Index into kMapPatterns of name, or -1.
int32_t FindMapPattern(const char* name);

// Draws pattern number index into gray (size x size, top row first).
void RenderMapPattern(uint32_t index, uint8_t* gray, uint32_t size);

// Reads SIZE: digits only, min to max. 0 and the value in *size, or -1.
int32_t ParseMapSize(const char* text, uint32_t min, uint32_t max, uint32_t* size);

// Copies the next argument of a Windows command line into out (capacity
// bytes, terminated) and moves *cursor past it, by the rules programs built
// with Microsoft's C runtime follow: blanks separate, double quotes group,
// backslashes are literal except before a quote (2n backslashes and a quote:
// n backslashes and the quote groups; 2n+1: n backslashes and a literal
// quote). 1 when an argument was taken, 0 at the end of the line, -1 when it
// does not fit.
int32_t NextArgument(const char** cursor, char* out, uint32_t capacity);
