// measure.exe: the Windows side of scripts/measure.sh. Watches the screen the
// way a user would and times what a user waits for.
//   bare <command line> [runs]       median milliseconds to start and end a process
//   first-frame <command line> <max changed pixels>
//                                    starts the command; milliseconds until its window
//                                    appears and until the first frame: a screen that
//                                    differs from the one before the start in at least
//                                    one and at most <max> pixels (a black window or a
//                                    half-drawn screen differs in more)
//   frames <seconds>                 screen changes per second while a saver runs
//   idle <milliseconds>              a bare process that only waits, to weigh against
//   frame-cost <map> [frames]        where a frame's time goes: the saver's own steps
//                                    (save, shade, present, flush, restore) timed one by
//                                    one on a full-screen window, without the 50 ms sleep
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "effect/block_ledger.h"
#include "effect/drift_path.h"
#include "effect/frame_buffer.h"
#include "effect/shade_kernels.h"
#include "effect/shade_map.h"

namespace {

double Now() {
  static LARGE_INTEGER frequency = {};
  if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
  LARGE_INTEGER count;
  QueryPerformanceCounter(&count);
  return 1000.0 * static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The whole screen as 32-bit pixels.
struct Screen {
  int width = GetSystemMetrics(SM_CXSCREEN);
  int height = GetSystemMetrics(SM_CYSCREEN);
  HDC screenDc = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screenDc);
  HBITMAP bitmap = nullptr;
  uint32_t* bits = nullptr;
  Screen() {
    BITMAPINFOHEADER header = {sizeof header, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* p = nullptr;
    bitmap = CreateDIBSection(screenDc, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &p, nullptr, 0);
    bits = static_cast<uint32_t*>(p);
    SelectObject(memory, bitmap);
  }
  ~Screen() {
    DeleteDC(memory);
    DeleteObject(bitmap);
    ReleaseDC(nullptr, screenDc);
  }
  std::vector<uint32_t> Grab() {
    BitBlt(memory, 0, 0, width, height, screenDc, 0, 0, SRCCOPY);
    GdiFlush();
    return std::vector<uint32_t>(bits, bits + static_cast<size_t>(width) * height);
  }
};

// Pixels that differ at the saver's 5 bits a channel: its snapshot of a
// true-colour screen loses the low 3 bits everywhere, and that is no change.
size_t Changed(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  size_t n = 0;
  for (size_t i = 0; i < a.size(); ++i) n += (a[i] & 0xF8F8F8) != (b[i] & 0xF8F8F8);
  return n;
}

bool Start(const char* commandLine, PROCESS_INFORMATION* process) {
  static char line[4096];
  std::snprintf(line, sizeof line, "%s", commandLine);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  return CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, process) != 0;
}

int Bare(const char* commandLine, int runs) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    PROCESS_INFORMATION process = {};
    const double t0 = Now();
    if (!Start(commandLine, &process)) return 1;
    WaitForSingleObject(process.hProcess, INFINITE);
    times.push_back(Now() - t0);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  std::sort(times.begin(), times.end());
  std::printf("bare-start-ms %.1f\n", times[times.size() / 2]);
  return 0;
}

int FirstFrame(const char* commandLine, size_t maxChanged) {
  Screen screen;
  const std::vector<uint32_t> before = screen.Grab();
  PROCESS_INFORMATION process = {};
  const double t0 = Now();
  if (!Start(commandLine, &process)) return 1;
  double windowAt = -1;
  for (;;) {
    const double t = Now() - t0;
    if (t > 20000) {
      std::printf("no-frame-within-ms 20000\n");
      return 1;
    }
    if (windowAt < 0 && FindWindowA("WindowsScreenSaverClass", nullptr)) windowAt = t;
    const size_t changed = Changed(before, screen.Grab());
    if (changed > 0 && changed <= maxChanged) {
      std::printf("window-ms %.1f\nfirst-frame-ms %.1f\n", windowAt, Now() - t0);
      break;
    }
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return 0;
}

int Frames(double seconds) {
  Screen screen;
  std::vector<uint32_t> last = screen.Grab();
  int grabs = 0, changes = 0;
  const double t0 = Now();
  while (Now() - t0 < seconds * 1000) {
    std::vector<uint32_t> now = screen.Grab();
    ++grabs;
    if (Changed(last, now) > 0) ++changes;
    last.swap(now);
  }
  const double elapsed = (Now() - t0) / 1000;
  std::printf("screen-changes-per-s %.1f\ngrabs-per-s %.1f\n", changes / elapsed, grabs / elapsed);
  return 0;
}

double ProcessCpuMs() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto ms = [](FILETIME t) { return (static_cast<double>(t.dwHighDateTime) * 4294967296.0 + t.dwLowDateTime) / 1e4; };
  return ms(kernel) + ms(user);
}

int FrameCost(const char* mapPath, int frames) {
  ShadeMap map = {};
  uint8_t palette[1024];
  if (LoadShadeMap(&map, palette, mapPath) != 0) {
    std::fprintf(stderr, "cannot load %s\n", mapPath);
    return 1;
  }
  GrayPalette(&map, palette);
  FrameBuffer frame = {};
  if (CaptureScreen(&frame) != 0) return 1;
  const int W = GetSystemMetrics(SM_CXSCREEN), H = GetSystemMetrics(SM_CYSCREEN);
  WNDCLASSA windowClass = {};
  windowClass.style = CS_OWNDC;
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.lpszClassName = "FrameCost";
  RegisterClassA(&windowClass);
  HWND window = CreateWindowExA(WS_EX_TOPMOST, "FrameCost", "frame cost", WS_POPUP | WS_VISIBLE, 0, 0, W, H,
                                nullptr, nullptr, nullptr, nullptr);
  HDC dc = GetDC(window);
  const Rect screen{0, 0, W, H};
  PresentRect(&frame, dc, screen, 0, 0);
  std::vector<Pixel555> save(static_cast<size_t>(map.width) * map.height);
  PixelSurface surface = FrameSurface(&frame);
  const ShadeTable* table = BuildShadeTable();

  enum { kSave, kShade, kPresent, kFlush, kRestore, kSteps };
  const char* names[kSteps] = {"save", "shade", "present", "flush", "restore"};
  double spent[kSteps] = {};
  DriftSegment segment = BeginSegment(W / 4, H / 4, 3 * W / 4, 3 * H / 4);
  Rect prev{W / 4, H / 4, W / 4 + 1, H / 4 + 1};
  const double cpu0 = ProcessCpuMs(), wall0 = Now();
  for (int i = 0; i < frames; ++i) {
    if (i % segment.steps == 0) segment = BeginSegment(segment.sx + segment.dx, segment.sy + segment.dy,
                                                       segment.sx, segment.sy);
    const Rect patch = PatchRect(&segment, map.width, map.height);
    const Rect clip = RectIntersection(patch, screen);
    double t = Now();
    auto lap = [&](int step) { const double n = Now(); spent[step] += n - t; t = n; };
    SaveRect(&frame, clip, save.data());
    lap(kSave);
    ShadeRect(&surface, clip, &map, clip.left - patch.left, clip.top - patch.top, table);
    lap(kShade);
    const Rect dirty = RectUnion(clip, prev);
    PresentRect(&frame, dc, dirty, dirty.left, dirty.top);
    lap(kPresent);
    MSG none;
    PeekMessageA(&none, nullptr, 0, 0, PM_NOREMOVE);
    lap(kFlush);
    RestoreRect(&frame, clip, save.data());
    lap(kRestore);
    prev = clip;
    AdvanceSegment(&segment);
  }
  const double wall = Now() - wall0, cpu = ProcessCpuMs() - cpu0;
  std::printf("frames %d, patch %dx%d, %s shading\n", frames, map.width, map.height,
              ShadeRectUsesSse2() ? "SSE2" : "table");
  for (int k = 0; k < kSteps; ++k) std::printf("%-8s %8.1f us/frame\n", names[k], 1000.0 * spent[k] / frames);
  std::printf("wall     %8.1f us/frame\ncpu      %8.1f us/frame (this process)\n", 1000.0 * wall / frames,
              1000.0 * cpu / frames);
  ReleaseDC(window, dc);
  DestroyWindow(window);
  DestroyFrameBuffer(&frame);
  ReleaseShadeMap(&map);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "bare") == 0) return Bare(argv[2], argc >= 4 ? std::atoi(argv[3]) : 5);
  if (argc >= 4 && std::strcmp(argv[1], "first-frame") == 0)
    return FirstFrame(argv[2], static_cast<size_t>(std::atol(argv[3])));
  if (argc >= 3 && std::strcmp(argv[1], "frames") == 0) return Frames(std::atof(argv[2]));
  if (argc >= 3 && std::strcmp(argv[1], "frame-cost") == 0)
    return FrameCost(argv[2], argc >= 4 ? std::atoi(argv[3]) : 1000);
  if (argc >= 3 && std::strcmp(argv[1], "idle") == 0) {
    Sleep(static_cast<DWORD>(std::atol(argv[2])));
    return 0;
  }
  std::fprintf(stderr, "usage: measure bare|first-frame|frames|idle|frame-cost ...\n");
  return 2;
}
