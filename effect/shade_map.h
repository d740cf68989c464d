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
