// hostprobe.exe: the Windows side of the about-box and password-lock tests.
//   owner <milliseconds>     shows a window of its own, makes it the foreground,
//                            prints its handle and lives until closed or timed out
//   close <handle>           asks that window to close
//   foreground               the foreground window's handle
//   exists <handle>          1 while the window exists, else 0
//   window <title> <ms>      waits for a top-level window with that title; its handle or 0
//   dialog <caption> <ms> <text file>
//                            waits for the dialog; prints
//                            "window=<n> owner=<n> test=<visible 0|1> length=<n>
//                             ok=<x>,<y> close=<x>,<y> focus=<control id>"
//                            and writes control 1002's text to the file, byte for byte
//   running                  the system's saver-running state, 0 or 1
//   set-running <0|1>        sets it
// Handles are decimal. Screen points are where a real click must land.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr UINT kGetSaverRunning = 114;  // SPI_GETSCREENSAVERRUNNING
constexpr int kAboutTextId = 1002;
constexpr int kAboutTestId = 1000;

unsigned long Number(HWND window) {
  return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(window));
}

HWND Window(const char* text) {
  return reinterpret_cast<HWND>(static_cast<uintptr_t>(std::strtoul(text, nullptr, 10)));
}

int Print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fflush(stdout);
  return 0;
}

LRESULT CALLBACK OwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcA(window, message, wParam, lParam);
}

int Owner(DWORD lifetime) {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = OwnerProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "GlmireProbeOwner";
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  RegisterClassA(&windowClass);
  HWND window = CreateWindowExA(0, "GlmireProbeOwner", "glmire probe owner",
                                WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 200, 120, nullptr,
                                nullptr, windowClass.hInstance, nullptr);
  if (window == nullptr) return Print("0\n"), 1;
  SetForegroundWindow(window);
  Print("%lu\n", Number(window));
  SetTimer(window, 1, lifetime, nullptr);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (message.message == WM_TIMER && message.hwnd == window) DestroyWindow(window);
    DispatchMessageA(&message);
  }
  return 0;
}

// Only a visible window counts: a dialog shows itself once its controls and
// their texts are in place.
HWND WaitFor(const char* className, const char* title, DWORD timeout) {
  const DWORD start = GetTickCount();
  for (;;) {
    HWND window = FindWindowA(className, title);
    if (window != nullptr && IsWindowVisible(window)) return window;
    if (GetTickCount() - start >= timeout) return nullptr;
    Sleep(50);
  }
}

POINT Centre(HWND window) {
  RECT box = {};
  GetWindowRect(window, &box);
  return POINT{(box.left + box.right) / 2, (box.top + box.bottom) / 2};
}

// The close box is found the way the system finds it for a click: by asking
// the dialog what lies under each point of its caption row.
POINT CloseBox(HWND dialog) {
  RECT box = {};
  GetWindowRect(dialog, &box);
  const int y = box.top + GetSystemMetrics(SM_CYDLGFRAME) + GetSystemMetrics(SM_CYCAPTION) / 2;
  for (int x = box.right - 1; x > box.left; --x) {
    const LPARAM point = MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y));
    if (SendMessageA(dialog, WM_NCHITTEST, 0, point) == HTCLOSE) return POINT{x - 3, y};
  }
  return POINT{-1, -1};
}

int Dialog(const char* caption, DWORD timeout, const char* textFile) {
  HWND dialog = WaitFor("#32770", caption, timeout);
  if (dialog == nullptr) return Print("window=0\n"), 1;
  HWND text = GetDlgItem(dialog, kAboutTextId);
  HWND test = GetDlgItem(dialog, kAboutTestId);
  const LRESULT length = SendMessageA(text, WM_GETTEXTLENGTH, 0, 0);
  char* buffer = static_cast<char*>(std::calloc(static_cast<size_t>(length) + 2, 1));
  const LRESULT got = SendMessageA(text, WM_GETTEXT, static_cast<WPARAM>(length + 1),
                                   reinterpret_cast<LPARAM>(buffer));
  FILE* out = std::fopen(textFile, "wb");
  if (out != nullptr) {
    std::fwrite(buffer, 1, static_cast<size_t>(got), out);
    std::fclose(out);
  }
  std::free(buffer);
  GUITHREADINFO gui = {};
  gui.cbSize = sizeof gui;
  GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &gui);
  const POINT ok = Centre(GetDlgItem(dialog, IDOK));
  const POINT close = CloseBox(dialog);
  return Print("window=%lu owner=%lu test=%d length=%ld ok=%ld,%ld close=%ld,%ld focus=%d\n",
               Number(dialog), Number(GetWindow(dialog, GW_OWNER)),
               test != nullptr && IsWindowVisible(test) ? 1 : 0, static_cast<long>(length), ok.x,
               ok.y, close.x, close.y, gui.hwndFocus ? GetDlgCtrlID(gui.hwndFocus) : 0);
}

}  // namespace

int main(int argc, char** argv) {
  const char* command = argc > 1 ? argv[1] : "";
  auto is = [command](const char* name) { return lstrcmpA(command, name) == 0; };
  if (is("owner") && argc == 3) return Owner(std::strtoul(argv[2], nullptr, 10));
  if (is("close") && argc == 3) return PostMessageA(Window(argv[2]), WM_CLOSE, 0, 0) ? 0 : 1;
  if (is("foreground")) return Print("%lu\n", Number(GetForegroundWindow()));
  if (is("exists") && argc == 3) return Print("%d\n", IsWindow(Window(argv[2])) ? 1 : 0);
  if (is("window") && argc == 4) {
    return Print("%lu\n", Number(WaitFor(nullptr, argv[2], std::strtoul(argv[3], nullptr, 10))));
  }
  if (is("dialog") && argc == 5) return Dialog(argv[2], std::strtoul(argv[3], nullptr, 10), argv[4]);
  if (is("running")) {
    BOOL running = FALSE;
    SystemParametersInfoA(kGetSaverRunning, 0, &running, 0);
    return Print("%d\n", running ? 1 : 0);
  }
  if (is("set-running") && argc == 3) {
    UINT previous = 0;
    return SystemParametersInfoA(SPI_SCREENSAVERRUNNING, argv[2][0] == '1', &previous, 0) ? 0 : 1;
  }
  std::fprintf(stderr, "hostprobe: unknown command\n");
  return 2;
}
