// bare_window.exe: the yardstick of scripts/measure.sh. A full-screen topmost
// popup made as the saver makes its window, that paints itself gray and closes
// on the input that closes the saver (a key, a button, a move of more than 4
// pixels, loss of activation) and does nothing else: whatever it takes to
// start or to get out of the way is what the system costs any such window.
// It is linked as the saver is, without the C runtime, so that its start
// loads no library the saver's does not.
#include <windows.h>

namespace {

POINT start;

LONG Distance(LONG a, LONG b) { return a > b ? a - b : b - a; }
bool MovedFar(POINT now) { return Distance(now.x, start.x) + Distance(now.y, start.y) > 4; }

LRESULT CALLBACK BareProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      GetCursorPos(&start);
      break;
    case WM_MOUSEMOVE: {
      POINT now;
      if (GetCursorPos(&now) && MovedFar(now)) PostMessageA(window, WM_CLOSE, 0, 0);
      break;
    }
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
      PostMessageA(window, WM_CLOSE, 0, 0);
      break;
    case WM_ACTIVATEAPP:
      if (wParam == 0) PostMessageA(window, WM_CLOSE, 0, 0);
      break;
    case WM_DESTROY:
      PostQuitMessage(0);
      break;
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int RunBareWindow() {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = BareProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
  windowClass.lpszClassName = "GlowmireBareWindow";
  if (!RegisterClassA(&windowClass)) return 1;
  HWND window = CreateWindowExA(WS_EX_TOPMOST, windowClass.lpszClassName, "Bare Window",
                                WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0,
                                GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), nullptr, nullptr,
                                windowClass.hInstance, nullptr);
  if (window == nullptr) return 1;
  SetForegroundWindow(window);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
}

extern "C" __attribute__((noreturn)) void StartBareWindow() { ExitProcess(static_cast<UINT>(RunBareWindow())); }
