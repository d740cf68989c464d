// libFuzzer target: the shade map reader on arbitrary bytes, fed from memory,
// once with a palette area and once without. Besides the sanitizers' own
// checks it holds every result to what the bytes say: which header forms are
// read, where the palette and the pixels start, which block is taken
// and kept, where each stored row lands, what unsupplied rows and palette
// entries read as, and that the two calls agree. The same input also drives
// the map path forming on a buffer of exactly its capacity, under a
// single-byte and a double-byte (Shift-JIS) code page.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "effect/shade_map_format.h"
#include "tests/support/map_bytes.h"

namespace {

// Keeps runs fast; a larger map takes the no-memory path, which is fuzzed too.
constexpr int32_t kTakeLimit = 4 << 20;

void Require(bool condition) {
  if (!condition) std::abort();
}

uint32_t U16(const uint8_t* p) { return p[0] | p[1] << 8u; }
uint32_t U32(const uint8_t* p) { return U16(p) | U16(p + 2) << 16u; }

// The format's rules written out again, independently, as the oracle.
struct Expected {
  bool accepted;
  int64_t width, height;
  bool bottomUp;
  uint32_t colours, entryBytes, paletteAt, pixelsAt;
};
Expected Judge(const uint8_t* d, size_t size) {
  Expected e{};
  if (size < 54 || U16(d) != 0x4D42) return e;
  const uint32_t info = U32(d + 14);
  if (info == 12) {  // OS/2 core header
    if (U16(d + 22) != 1 || U16(d + 24) != 8) return e;
    e.width = U16(d + 18);
    e.height = U16(d + 20);
    e.bottomUp = true;
    e.colours = 256;
    e.entryBytes = 3;
  } else if (info == 40 || info == 52 || info == 56 || info == 108 || info == 124) {
    if (U16(d + 26) != 1 || U16(d + 28) != 8 || U32(d + 30) != 0 || U32(d + 46) > 256) return e;
    e.width = static_cast<int32_t>(U32(d + 18));
    const int64_t height = static_cast<int32_t>(U32(d + 22));
    e.bottomUp = height > 0;
    e.height = height < 0 ? -height : height;
    e.colours = U32(d + 46) ? U32(d + 46) : 256;
    e.entryBytes = 4;
  } else {
    return e;
  }
  e.paletteAt = 14 + info;
  e.pixelsAt = U32(d + 10);
  const uint64_t paletteEnd = e.paletteAt + uint64_t{e.colours} * e.entryBytes;
  e.accepted = e.width >= 4 && e.width <= 65535 && e.width % 4 == 0 && e.height >= 4 &&
               e.height <= 65535 && e.pixelsAt >= paletteEnd && size >= paletteEnd;
  return e;
}

int32_t LoadAndCheck(const uint8_t* data, size_t size, bool withPalette) {
  MemorySource file(data, size);
  file.takeLimit = kTakeLimit;
  uint8_t palette[1024 + 16];
  std::memset(palette, 0xA5, sizeof palette);
  ShadeMap map{-1, -1, palette};
  const ShadeMapSource source = file.source();
  const int32_t result = ReadShadeMap(&map, withPalette ? palette : nullptr, &source);
  Require(std::memcmp(palette + 1024, "\xA5\xA5\xA5\xA5", 4) == 0);

  const Expected e = Judge(data, size);
  const int32_t noMemory = withPalette ? -2 : -1;
  Require(result == (!e.accepted ? -1 : e.width * e.height > kTakeLimit ? noMemory : 0));
  if (result != 0) {
    Require(map.width == 0 && map.height == 0 && map.pixels == nullptr);
    Require(file.blocks.empty());
    return result;
  }
  Require(map.width == e.width && map.height == e.height);
  Require(file.blocks.size() == 1 && map.pixels == file.blocks[0]);

  // Stored row i holds the file's bytes from pixelsAt + i * width; whatever
  // lies past the end of the file reads as zero.
  const uint64_t w = static_cast<uint64_t>(map.width);
  for (int64_t i = 0; i < e.height; ++i) {
    const uint8_t* row = map.pixels + (e.bottomUp ? e.height - 1 - i : i) * w;
    const uint64_t at = e.pixelsAt + i * w;
    for (uint64_t j = 0; j < w; ++j) Require(row[j] == (at + j < size ? data[at + j] : 0));
  }
  if (withPalette) {
    for (uint32_t i = 0; i < e.colours; ++i) {
      const uint8_t* from = data + e.paletteAt + i * e.entryBytes;
      const uint8_t reserved = e.entryBytes == 4 ? from[3] : 0;
      Require(std::memcmp(palette + i * 4, from, 3) == 0 && palette[i * 4 + 3] == reserved);
    }
    for (uint32_t i = e.colours; i < 256; ++i)
      Require(std::memcmp(palette + i * 4, "\x80\x80\x80\x00", 4) == 0);
    std::vector<uint8_t> before(map.pixels, map.pixels + w * static_cast<uint64_t>(map.height));
    GrayPalette(&map, palette);
    for (size_t k = 0; k < before.size(); ++k) {
      const uint8_t* entry = palette + before[k] * 4;
      Require(map.pixels[k] == (entry[0] + entry[1] + entry[2]) / 3);
    }
  }
  return result;
}

const char* StepOne(const char* p) { return p + 1; }

// Code page 932: a lead byte takes the next byte along, which may be 0x5C.
bool ShiftJisLead(uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
const char* StepShiftJis(const char* p) {
  return ShiftJisLead(static_cast<uint8_t>(*p)) && p[1] != '\0' ? p + 2 : p + 1;
}

void FormPathAndCheck(const uint8_t* data, size_t size, bool shiftJis) {
  if (size == 0) return;
  const uint32_t capacity = data[0];
  const char* module = reinterpret_cast<const char*>(data + 1);
  uint32_t length = 0;
  while (length < size - 1 && length < capacity && module[length] != '\0') ++length;
  std::vector<char> path(module, module + length);  // exactly capacity bytes: ASan sees overruns
  path.resize(capacity);
  if (FormShadeMapPath(path.data(), length, capacity, shiftJis ? StepShiftJis : StepOne) != 0) return;
  const size_t formed = std::strlen(path.data());
  Require(formed < capacity && formed >= 10);
  Require(std::memcmp(path.data() + formed - 10, "glmire.bmp", 10) == 0);
  Require(std::memcmp(path.data(), module, formed - 10) == 0);
  // The folder kept ends just after the last backslash that begins a character.
  size_t keep = 0;
  for (size_t i = 0; i < length;) {
    const auto b = static_cast<uint8_t>(module[i]);
    if (shiftJis && ShiftJisLead(b) && i + 1 < length) {
      i += 2;
      continue;
    }
    if (b == '\\') keep = i + 1;
    ++i;
  }
  Require(formed - 10 == keep);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int32_t with = LoadAndCheck(data, size, true);
  const int32_t without = LoadAndCheck(data, size, false);
  Require(with == without || (with == -2 && without == -1));
  FormPathAndCheck(data, size, false);
  FormPathAndCheck(data, size, true);
  return 0;
}
