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
  FrameBuffer frame = {};
  if (CaptureScreen(&frame) != 0) return 1;
  PixelSurface surface = FrameSurface(&frame);
  const int W = surface.width, H = surface.height;
  WNDCLASSA windowClass = {};
  windowClass.style = CS_OWNDC;
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.lpszClassName = "FrameCost";
  RegisterClassA(&windowClass);
  HWND window = CreateWindowExA(WS_EX_TOPMOST, "FrameCost", "frame cost", WS_POPUP | WS_VISIBLE, 0, 0, W, H,
                                nullptr, nullptr, nullptr, nullptr);
  HDC dc = GetDC(window);
  PresentRect(&frame, dc, Rect{0, 0, W, H}, 0, 0);
  std::vector<Pixel555> save(static_cast<size_t>(DriftSaveBufferCount(&surface, &map)));
  const bool sse2 = ChooseShadeLoop();
  FrameCostClock clock = {&frame, dc, 0, 0};
  DriftFrame step = {&surface, &map, BuildShadeTable(), save.data(), DriftStartRect(W / 4, H / 4),
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
  std::printf("frames %d, patch %dx%d, %s shading\n", frames, map.width, map.height, sse2 ? "SSE2" : "table");
  const double perFrame = 1000.0 / frames;
  std::printf("save, shade, restore %8.1f us/frame\n", perFrame * (total - clock.present - clock.flush));
  std::printf("present  %8.1f us/frame\nflush    %8.1f us/frame\n", perFrame * clock.present,
              perFrame * clock.flush);
  std::printf("wall     %8.1f us/frame\ncpu      %8.1f us/frame (this process)\n", perFrame * wall,
              perFrame * cpu);
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
