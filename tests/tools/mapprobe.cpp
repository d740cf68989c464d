// mapprobe.exe: the Windows side of the map writer's tests.
//   maps <path>...      each map read by the saver's own reader (LoadShadeMap,
//                       GrayPalette): "<path> <w>x<h> rim=<pixels on the edge
//                       not 128> step=<largest change from an edge pixel to
//                       its inward neighbour> range=<lowest>-<highest>", or
//                       "<path> unreadable=<result>"
//   box <title> <tenths>
//                       waits that long at most for a message box of that
//                       title, prints "text=<what it says>" with line breaks
//                       as '|', and presses its OK; "text=none" if none came
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "effect/shade_map.h"

namespace {

int Maps(int count, char** paths) {
  for (int i = 0; i < count; ++i) {
    ShadeMap map{};
    uint8_t palette[1024];
    const ShadeMapFile file{nullptr, paths[i]};
    const int32_t result = LoadShadeMap(&map, palette, &file);
    if (result != 0) {
      std::printf("%s unreadable=%d\n", paths[i], result);
      continue;
    }
    GrayPalette(&map, palette);
    const int32_t w = map.width, h = map.height;
    auto at = [&](int32_t x, int32_t y) { return int{map.pixels[y * w + x]}; };
    int rim = 0, step = 0, lo = 255, hi = 0;
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        lo = std::min(lo, at(x, y));
        hi = std::max(hi, at(x, y));
        if (x != 0 && y != 0 && x != w - 1 && y != h - 1) continue;
        if (at(x, y) != 128) ++rim;
        const int32_t ix = x == 0 ? 1 : (x == w - 1 ? w - 2 : x);
        const int32_t iy = y == 0 ? 1 : (y == h - 1 ? h - 2 : y);
        step = std::max(step, std::abs(at(ix, iy) - at(x, y)));
      }
    std::printf("%s %dx%d rim=%d step=%d range=%d-%d\n", paths[i], w, h, rim, step, lo, hi);
    ReleaseShadeMap(&map);
  }
  return 0;
}

BOOL CALLBACK Collect(HWND child, LPARAM into) {
  char name[32] = {}, text[1024] = {};
  GetClassNameA(child, name, sizeof name);
  if (lstrcmpiA(name, "Static") == 0 && GetWindowTextA(child, text, sizeof text) > 0)
    *reinterpret_cast<std::string*>(into) += text;
  return TRUE;
}

int Box(const char* title, int tenths) {
  for (int i = 0; i < tenths; ++i) {
    HWND box = FindWindowA("#32770", title);
    if (box) {
      std::string text;
      EnumChildWindows(box, Collect, reinterpret_cast<LPARAM>(&text));
      for (char& c : text)
        if (c == '\r' || c == '\n') c = '|';
      std::printf("text=%s\n", text.c_str());
      PostMessageA(box, WM_COMMAND, IDOK, 0);
      return 0;
    }
    Sleep(100);
  }
  std::printf("text=none\n");
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::string(argv[1]) == "maps") return Maps(argc - 2, argv + 2);
  if (argc == 4 && std::string(argv[1]) == "box") return Box(argv[2], std::atoi(argv[3]));
  std::fprintf(stderr, "usage: mapprobe maps <path>... | box <title> <tenths>\n");
  return 2;
}
