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
//   opening <class> <command line> <rounds> <map width> <map height>
//                                    rounds of a start: milliseconds until a window of the
//                                    class is shown and, with a map size other than 0, until
//                                    the screen is the desktop exactly (at most one patch);
//                                    min, median and max of each
//   closing <class> <command line> <move|key|click> <ready file>
//                                    starts the command, writes the file once its window is
//                                    in front and drawn, and takes the next input of that
//                                    kind (sent from outside) as the start: milliseconds to
//                                    the desktop exactly as before, and to the process's end
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

// --- The start and the close, as a user waits for them ----------------------

// A window of the class that is shown, or null.
HWND ShownWindow(const char* windowClass) {
  HWND window = FindWindowA(windowClass, nullptr);
  return window != nullptr && IsWindowVisible(window) ? window : nullptr;
}

bool Ended(HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }

// Looks at the screen until it is <screen> exactly again, for <ms> at most.
bool AwaitScreen(Screen* screen, const std::vector<uint32_t>& expected, double ms) {
  const double t0 = Now();
  do {
    if (Compare(expected, screen->Grab(), screen->width).count == 0) return true;
  } while (Now() - t0 < ms);
  return false;
}

// Ends a round's process: a close request to its window, and the process
// ended by force if that did not do it.
void EndRound(PROCESS_INFORMATION* process, HWND window) {
  if (window != nullptr) PostMessageA(window, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(process->hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(process->hProcess, 1);
  CloseHandle(process->hThread);
  CloseHandle(process->hProcess);
}

// "<name> <min> <median> <max>" of the values, or "<name> none".
void PrintSpread(const char* name, std::vector<double> values) {
  if (values.empty()) {
    std::printf("%s none\n", name);
    return;
  }
  std::sort(values.begin(), values.end());
  std::printf("%s %.1f %.1f %.1f\n", name, values.front(), values[(values.size() - 1) / 2], values.back());
}

// Rounds of: the command started; milliseconds until a window of the class
// is shown, and (with a map size) until a look at the screen, the window up,
// is the desktop exactly but for at most one map-sized patch. Each round
// starts from the desktop as the first one found it.
int Opening(const char* windowClass, const char* commandLine, int rounds, int mapW, int mapH) {
  Screen screen;
  const std::vector<uint32_t> desktop = screen.Grab();
  std::vector<double> windows, desktops;
  for (int round = 1; round <= rounds; ++round) {
    if (!AwaitScreen(&screen, desktop, 10000)) std::fprintf(stderr, "round %d: the desktop was not back\n", round);
    PROCESS_INFORMATION process = {};
    const double t0 = Now();
    if (!Start(commandLine, &process)) return 1;
    HWND window = nullptr;
    double windowAt = -1, desktopAt = -1;
    while (Now() - t0 < 10000 && !Ended(process.hProcess)) {
      if ((window = ShownWindow(windowClass)) != nullptr) break;
      Sleep(1);
    }
    if (window != nullptr) {
      windowAt = Now() - t0;
      windows.push_back(windowAt);
    }
    while (window != nullptr && mapW > 0 && Now() - t0 < 10000) {
      const Difference d = Compare(desktop, screen.Grab(), screen.width);
      if (d.count == 0 || (d.right - d.left <= mapW && d.bottom - d.top <= mapH)) {
        desktopAt = Now() - t0;
        desktops.push_back(desktopAt);
        break;
      }
    }
    std::printf("round %d window-ms %.1f desktop-ms %.1f\n", round, windowAt, desktopAt);
    EndRound(&process, window);
  }
  PrintSpread("window-ms", windows);
  if (mapW > 0) PrintSpread("desktop-ms", desktops);
  return 0;
}

// The close's input as the system takes it in: the first event of its kind
// that reaches the low-level hooks, whichever window it then goes to.
enum class Input { kMove, kKey, kClick };
Input closeInput = Input::kKey;
POINT closeFrom;
volatile double inputAt = -1;
HANDLE inputSeen;

void SeeInput() {
  if (inputAt >= 0) return;
  inputAt = Now();
  SetEvent(inputSeen);
}

LRESULT CALLBACK MouseSeen(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION) {
    const POINT at = reinterpret_cast<const MSLLHOOKSTRUCT*>(lParam)->pt;
    const bool moved = wParam == WM_MOUSEMOVE && (at.x != closeFrom.x || at.y != closeFrom.y);
    if ((closeInput == Input::kMove && moved) || (closeInput == Input::kClick && wParam == WM_LBUTTONDOWN))
      SeeInput();
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK KeySeen(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION && closeInput == Input::kKey && (wParam == WM_KEYDOWN || wParam == WM_SYSKEYDOWN))
    SeeInput();
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// The hooks live on a thread that does nothing but answer them, so the input
// is never held up by this program's looks at the screen.
DWORD WINAPI HookThread(LPVOID ready) {
  HHOOK mouse = SetWindowsHookExA(WH_MOUSE_LL, MouseSeen, GetModuleHandleA(nullptr), 0);
  HHOOK keys = SetWindowsHookExA(WH_KEYBOARD_LL, KeySeen, GetModuleHandleA(nullptr), 0);
  MSG message;
  PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);  // the queue that WM_QUIT comes to
  SetEvent(static_cast<HANDLE>(ready));
  while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
  if (mouse) UnhookWindowsHookEx(mouse);
  if (keys) UnhookWindowsHookEx(keys);
  return mouse && keys ? 0 : 1;
}

struct EndWatch {
  HANDLE process;
  double at;
};

DWORD WINAPI EndThread(LPVOID context) {
  auto* watch = static_cast<EndWatch*>(context);
  WaitForSingleObject(watch->process, INFINITE);
  watch->at = Now();
  return 0;
}

// One close: starts the command, waits until its window is shown, in front and
// has drawn, writes <ready file> and waits for the input that is to close it
// (sent by whoever reads that file). Milliseconds from the input to a look at
// the screen that is the desktop exactly as before the start, and to the
// process's end.
int Closing(const char* windowClass, const char* commandLine, const char* kind, const char* readyPath) {
  if (std::strcmp(kind, "move") == 0) closeInput = Input::kMove;
  else if (std::strcmp(kind, "click") == 0) closeInput = Input::kClick;
  else if (std::strcmp(kind, "key") != 0) return 2;
  Screen screen;
  const std::vector<uint32_t> desktop = screen.Grab();
  PROCESS_INFORMATION process = {};
  if (!Start(commandLine, &process)) return 1;
  const double t0 = Now();
  HWND window = nullptr;
  bool settled = false;
  while (!settled && Now() - t0 < 20000 && !Ended(process.hProcess)) {
    window = ShownWindow(windowClass);
    settled = window != nullptr && GetForegroundWindow() == window &&
              Compare(desktop, screen.Grab(), screen.width).count > 0;
    if (!settled) Sleep(10);
  }
  if (!settled) {
    std::printf("not-ready 1\n");
    EndRound(&process, window);
    return 1;
  }
  inputSeen = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE hooked = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD id = 0;
  HANDLE hooks = CreateThread(nullptr, 0, HookThread, hooked, 0, &id);
  WaitForSingleObject(hooked, 10000);
  EndWatch watch = {process.hProcess, -1};
  HANDLE ender = CreateThread(nullptr, 0, EndThread, &watch, 0, nullptr);
  GetCursorPos(&closeFrom);
  HANDLE ready = CreateFileA(readyPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (ready != INVALID_HANDLE_VALUE) CloseHandle(ready);

  double desktopAt = -1;
  if (WaitForSingleObject(inputSeen, 30000) == WAIT_OBJECT_0 && AwaitScreen(&screen, desktop, 10000))
    desktopAt = Now();
  WaitForSingleObject(ender, 10000);
  const double input = inputAt;
  std::printf("input-desktop-ms %.1f\ninput-end-ms %.1f\n", input >= 0 && desktopAt >= 0 ? desktopAt - input : -1.0,
              input >= 0 && watch.at >= 0 ? watch.at - input : -1.0);
  PostThreadMessageA(id, WM_QUIT, 0, 0);
  WaitForSingleObject(hooks, 5000);
  EndRound(&process, nullptr);
  CloseHandle(ender);
  CloseHandle(hooks);
  CloseHandle(hooked);
  CloseHandle(inputSeen);
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
  const ShadeMapFile file = {nullptr, mapPath};
  if (LoadShadeMap(&map, palette, &file) != 0) {
    std::fprintf(stderr, "cannot load %s\n", mapPath);
    return 1;
  }
  GrayPalette(&map, palette);
  // As the saver takes it: the copy while the window is made, shaded and
  // shown from then on. The 5-5-5 capture is what a preview takes.
  // The process's first look at the screen sets up what every later one
  // uses; timed apart, so that the captures show their own cost.
  const double firstLook = Now();
  ReleaseDC(nullptr, GetDC(nullptr));
  const double firstLookMs = Now() - firstLook;
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
  std::printf("capture  %8.1f ms the copy (a 5-5-5 snapshot from the screen %.1f ms; the process's first look at "
              "the screen before them %.1f ms); the whole screen up %.1f ms\n",
              t1 - t0, t2 - t1, firstLookMs, whole);
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
  if (argc >= 7 && std::strcmp(argv[1], "opening") == 0)
    return Opening(argv[2], argv[3], std::atoi(argv[4]), std::atoi(argv[5]), std::atoi(argv[6]));
  if (argc >= 6 && std::strcmp(argv[1], "closing") == 0) return Closing(argv[2], argv[3], argv[4], argv[5]);
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
