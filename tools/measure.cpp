// measure.exe: the Windows side of scripts/measure.sh. Watches the screen the
// way a user would and times what a user waits for.
//   bare <command line> [runs]       median milliseconds to start and end a process
//   start <command line> <map width> <map height> <seconds>
//                                    starts the command and looks at the screen as often
//                                    as it can for <seconds>. A look is good when every
//                                    pixel that differs from the screen before the start
//                                    lies in one map-sized rectangle (the desktop exactly,
//                                    and at most one patch); black, posterised or
//                                    half-drawn looks are not. Milliseconds until the
//                                    window appears, until the first frame (a good look
//                                    with a patch), and until the screen is good for good
//                                    (the window up and no bad look after); the bad looks
//                                    and the longest time the screen stayed bad
//   frames <seconds>                 screen changes per second while a saver runs
//   idle <milliseconds>              a bare process that only waits, to weigh against
//   frame-cost <map> [frames]        where a frame's time goes: the saver's own frame
//                                    step on a full-screen window, without the 50 ms
//                                    sleep: its present and flush, and the rest (save,
//                                    shade, restore)
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "effect/drift_frame.h"
#include "effect/drift_path.h"
#include "effect/frame_buffer.h"
#include "effect/shade_loop.h"
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

// The pixels of b that differ from a and the rectangle around them.
struct Difference {
  size_t count;
  int left, top, right, bottom;
};

Difference Compare(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b, int width) {
  Difference d = {0, width, INT32_MAX, -1, -1};
  for (size_t i = 0; i < a.size(); ++i) {
    if (((a[i] ^ b[i]) & 0xFFFFFF) == 0) continue;
    const int x = static_cast<int>(i % static_cast<size_t>(width));
    const int y = static_cast<int>(i / static_cast<size_t>(width));
    ++d.count;
    d.left = std::min(d.left, x);
    d.right = std::max(d.right, x + 1);
    d.top = std::min(d.top, y);
    d.bottom = std::max(d.bottom, y + 1);
  }
  return d;
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

int StartWatch(const char* commandLine, int mapW, int mapH, double seconds) {
  Screen screen;
  const std::vector<uint32_t> before = screen.Grab();
  PROCESS_INFORMATION process = {};
  const double t0 = Now();
  if (!Start(commandLine, &process)) return 1;
  double windowAt = -1, firstFrameAt = -1, goodFrom = -1, badSince = -1, longestBad = 0;
  int looks = 0, bad = 0;
  size_t mostChanged = 0;
  while (Now() - t0 < seconds * 1000) {
    const double t = Now() - t0;
    const bool window = FindWindowA("WindowsScreenSaverClass", nullptr) != nullptr;
    const Difference d = Compare(before, screen.Grab(), screen.width);
    ++looks;
    if (window && windowAt < 0) windowAt = t;
    const bool good = d.count == 0 || (d.right - d.left <= mapW && d.bottom - d.top <= mapH);
    if (!good) {
      ++bad;
      mostChanged = std::max(mostChanged, d.count);
      if (badSince < 0) badSince = t;
      goodFrom = -1;
      continue;
    }
    if (badSince >= 0) longestBad = std::max(longestBad, t - badSince);
    badSince = -1;
    if (d.count > 0 && firstFrameAt < 0) firstFrameAt = t;
    if (windowAt >= 0 && goodFrom < 0) goodFrom = t;
  }
  if (badSince >= 0) longestBad = std::max(longestBad, Now() - t0 - badSince);
  std::printf("window-ms %.1f\nfirst-frame-ms %.1f\nexact-from-ms %.1f\nlooks %d\nbad-looks %d\n"
              "longest-bad-ms %.1f\nmost-changed-pixels %zu\n",
              windowAt, firstFrameAt, goodFrom, looks, bad, longestBad, mostChanged);
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
    if (Compare(last, now, screen.width).count > 0) ++changes;
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

// Times the present and the flush inside the saver's own frame step; the rest
// of the step is the save, shade and restore.
struct FrameCostClock {
  const FrameBuffer* frame;
  HDC dc;
  double present, flush;
};

void TimedPresent(void* context, Rect rect) {
  auto* clock = static_cast<FrameCostClock*>(context);
  const double t0 = Now();
  PresentRect(clock->frame, clock->dc, rect, rect.left, rect.top);
  const double t1 = Now();
  MSG none;
  PeekMessageA(&none, nullptr, 0, 0, PM_NOREMOVE);
  clock->present += t1 - t0;
  clock->flush += Now() - t1;
}

int FrameCost(const char* mapPath, int frames) {
  ShadeMap map = {};
  uint8_t palette[1024];
  if (LoadShadeMap(&map, palette, mapPath) != 0) {
    std::fprintf(stderr, "cannot load %s\n", mapPath);
    return 1;
  }
  GrayPalette(&map, palette);
  // As the saver takes it: the copy while the window is made, shaded and
  // shown from then on. The 5-5-5 capture is what a preview takes.
  FrameBuffer copy = {};
  const double t0 = Now();
  if (CaptureScreenCopy(&copy) != 0) return 1;
  const double t1 = Now();
  FrameBuffer alone = {};
  CaptureScreen(&alone);
  const double t2 = Now();
  DestroyFrameBuffer(&alone);
  CopySurface surface = CopyFrameSurface(&copy);
  const int W = surface.width, H = surface.height;
  WNDCLASSA windowClass = {};
  windowClass.style = CS_OWNDC;
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.lpszClassName = "FrameCost";
  RegisterClassA(&windowClass);
  HWND window = CreateWindowExA(WS_EX_TOPMOST, "FrameCost", "frame cost", WS_POPUP | WS_VISIBLE, 0, 0, W, H,
                                nullptr, nullptr, nullptr, nullptr);
  HDC dc = GetDC(window);
  const double wholeStart = Now();
  PresentRect(&copy, dc, Rect{0, 0, W, H}, 0, 0);
  const double whole = Now() - wholeStart;
  std::vector<uint32_t> save(static_cast<size_t>(DriftSaveBufferCount(W, H, &map, sizeof(uint32_t))));
  const bool sse2 = ChooseShadeLoop();
  FrameCostClock clock = {&copy, dc, 0, 0};
  DriftFrame step = {&map, {}, {&surface, BuildChannelShadeTable(), save.data()}, DriftStartRect(W / 4, H / 4),
                     TimedPresent, &clock};

  DriftSegment segment = BeginSegment(W / 4, H / 4, 3 * W / 4, 3 * H / 4);
  double total = 0;
  const double cpu0 = ProcessCpuMs(), wall0 = Now();
  for (int i = 0; i < frames; ++i) {
    if (i % segment.steps == 0) segment = BeginSegment(segment.sx + segment.dx, segment.sy + segment.dy,
                                                       segment.sx, segment.sy);
    const double t = Now();
    StepDriftFrame(&step, &segment);
    total += Now() - t;
    AdvanceSegment(&segment);
  }
  const double wall = Now() - wall0, cpu = ProcessCpuMs() - cpu0;
  std::printf("frames %d, patch %dx%d, %s shading, the exact copy shaded at 8 bits a channel\n", frames, map.width,
              map.height, sse2 ? "SSE2" : "table");
  std::printf("capture  %8.1f ms the copy (a 5-5-5 snapshot from the screen %.1f ms); the whole screen up %.1f ms\n",
              t1 - t0, t2 - t1, whole);
  const double perFrame = 1000.0 / frames;
  std::printf("save, shade, restore %8.1f us/frame\n", perFrame * (total - clock.present - clock.flush));
  std::printf("present  %8.1f us/frame\nflush    %8.1f us/frame\n", perFrame * clock.present,
              perFrame * clock.flush);
  std::printf("frame    %8.1f us/frame (save + shade + restore + present)\n", perFrame * (total - clock.flush));
  std::printf("wall     %8.1f us/frame\ncpu      %8.1f us/frame (this process)\n", perFrame * wall,
              perFrame * cpu);
  ReleaseDC(window, dc);
  DestroyWindow(window);
  DestroyFrameBuffer(&copy);
  ReleaseShadeMap(&map);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "bare") == 0) return Bare(argv[2], argc >= 4 ? std::atoi(argv[3]) : 5);
  if (argc >= 6 && std::strcmp(argv[1], "start") == 0)
    return StartWatch(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atof(argv[5]));
  if (argc >= 3 && std::strcmp(argv[1], "frames") == 0) return Frames(std::atof(argv[2]));
  if (argc >= 3 && std::strcmp(argv[1], "frame-cost") == 0)
    return FrameCost(argv[2], argc >= 4 ? std::atoi(argv[3]) : 1000);
  if (argc >= 3 && std::strcmp(argv[1], "idle") == 0) {
    Sleep(static_cast<DWORD>(std::atol(argv[2])));
    return 0;
  }
  std::fprintf(stderr, "usage: measure bare|start|frames|idle|frame-cost ...\n");
  return 2;
}
