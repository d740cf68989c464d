// mkshademap: writes Glowmire's built-in shade maps on the build machine (the
// default glmire.bmp and the demo maps). mkshademap.exe, for Windows users,
// writes the same patterns and also turns pictures into maps.
//
//   mkshademap PATTERN OUT.bmp [SIZE]      SIZE: 64-4096, a multiple of 4 (default 128)
//   mkshademap --list
#include <cstdio>
#include <cstring>
#include <vector>

#include "tools/shademap/map_file.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: mkshademap PATTERN OUT.bmp [SIZE]\n       mkshademap --list\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--list") == 0) {
    for (uint32_t i = 0; i < kMapPatternCount; ++i)
      std::printf("%-8s %s\n", kMapPatterns[i].name, kMapPatterns[i].description);
    return 0;
  }
  if (argc < 3 || argc > 4) return Usage();
  const int32_t pattern = FindMapPattern(argv[1]);
  if (pattern < 0) {
    std::fprintf(stderr, "mkshademap: unknown pattern '%s' (try --list)\n", argv[1]);
    return 2;
  }
  uint32_t size = kMapSizeDefault;
  if (argc == 4 && (ParseMapSize(argv[3], kMapSizeMin, kMapSizeMax, &size) != 0 || size % 4 != 0)) {
    std::fprintf(stderr, "mkshademap: SIZE must be 64-4096 and a multiple of 4\n");
    return 2;
  }

  std::vector<uint8_t> gray(size_t{size} * size);
  RenderMapPattern(static_cast<uint32_t>(pattern), gray.data(), size);
  std::vector<uint8_t> bmp(MapFileBytes(size, size));
  EncodeMapFile(bmp.data(), gray.data(), size, size);
  std::FILE* out = std::fopen(argv[2], "wb");
  if (!out) {
    std::perror(argv[2]);
    return 1;
  }
  const bool written = std::fwrite(bmp.data(), 1, bmp.size(), out) == bmp.size();
  if (std::fclose(out) != 0 || !written) {
    std::perror(argv[2]);
    return 1;
  }
  return 0;
}
