#include "host/saver_window.h"

#include <zmouse.h>

#include "effect/drift_worker.h"
#include "effect/frame_buffer.h"
#include "effect/system_entry.h"
#include "host/fault_guard.h"
#include "host/password_lock.h"
#include "host/saver_state.h"
#include "resources/resource_ids.h"

namespace {

constexpr char kClassName[] = "WindowsScreenSaverClass";
constexpr char kFullScreenTitle[] = "Screen Saver";
constexpr char kPreviewTitle[] = "Preview";
constexpr char kFullScreenClaim[] = "Glowmire full-screen saver";

// The saver window's message chain, put together here alone: OuterWindowProc,
// then the effect's EffectWindowProc, then DefaultSaverWindowProc, and last
// DefWindowProcA. The effect's worker runs under the same fault guard as the
// mode, so a fault there is handled like one on the main thread.
void ComposeSaverWindow() {
  const EffectLinks links = {DefaultSaverWindowProc, RunGuarded};
  ConnectEffectLayer(&links);
}

LRESULT PassOn(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return EffectWindowProc(window, message, wParam, lParam);
}

void PostClose(HWND window) { PostMessageA(window, WM_CLOSE, 0, 0); }

// The sideways wheel (Vista on); the headers name it only for builds that
// require Vista.
constexpr UINT kMouseHWheel = 0x020E;  // WM_MOUSEHWHEEL

// Where nothing was registered the number is 0, which is WM_NULL.
bool IsWheelRoll(UINT message) { return saverState.wheelMessage != 0 && message == saverState.wheelMessage; }

// A display change that moves or resizes the screen (a mode, a monitor, a
// dock, a remote session) would leave part of it uncovered, and outside the
// password lock: the window is put over the new screen first, then closed as
// on input, since the picture shows a screen that is gone. The system also
// tells of changes that change nothing (Wine, some drivers); those are let be.
void FollowScreen(HWND window) {
  const Rect now = SaverScreenRect();
  if (now == saverState.covered) return;
  saverState.covered = now;
  SetWindowPos(window, nullptr, now.left, now.top, now.right - now.left, now.bottom - now.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
  PostClose(window);
}

// The window went without a WM_DESTROY (the preview's host died, and its
// pane with it): the run ends as after any destruction, the worker stopped
// and the ledger checked, by giving the window's procedure that message.
void EndGoneWindow() {
  if (!IsWindow(saverState.window)) OuterWindowProc(saverState.window, WM_DESTROY, 0, 0);
}

// Brings a full-screen saver that already runs (this one or another with the
// same class) to the front; 0 when there is one.
int32_t ForegroundRunningSaver() {
  HWND running = FindWindowA(kClassName, kFullScreenTitle);
  if (running == nullptr || !IsWindow(running)) return -1;
  SetForegroundWindow(running);
  return 0;
}

void HideCursor() { SetCursor(nullptr); }

// The input method is switched off for the window and given back at the end;
// the saver only uses IMM32 when the process already has it.
void DetachInputContext(HWND window) {
  saverState.imeLibrary = GetModuleHandleA("IMM32.DLL");
  if (saverState.imeLibrary == nullptr) return;
  saverState.associateContext = SystemEntry<AssociateContextProc>(saverState.imeLibrary, "ImmAssociateContext");
  if (saverState.associateContext != nullptr)
    saverState.savedContext = saverState.associateContext(window, nullptr);
}

void RestoreInputContext(HWND window) {
  if (saverState.imeLibrary && saverState.associateContext && saverState.savedContext)
    saverState.associateContext(window, saverState.savedContext);
}

LRESULT OnOuterCreate(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DetachInputContext(window);
  GetCursorPos(&saverState.mousePoint);
  if (!saverState.isPreview) HideCursor();
  return PassOn(window, message, wParam, lParam);
}

LRESULT OnOuterDestroy(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  RestoreInputContext(window);
  PostQuitMessage(0);
  return PassOn(window, message, wParam, lParam);
}

LRESULT OnOuterPaint(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (saverState.isClosing) return DefWindowProcA(window, message, wParam, lParam);
  if (!saverState.isPreview) HideCursor();
  return PassOn(window, message, wParam, lParam);
}

// In the preview, help and context menus belong to the host's dialog.
LRESULT OnOuterHelp(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!saverState.isPreview) return PassOn(window, message, wParam, lParam);
  HWND parent = GetParent(window);
  if (parent != nullptr && IsWindow(parent))
    PostMessageA(parent, message, reinterpret_cast<WPARAM>(parent), lParam);
  return 1;
}

LRESULT OnOuterInput(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (saverState.isClosing) return DefWindowProcA(window, message, wParam, lParam);
  return PassOn(window, message, wParam, lParam);
}

LRESULT OnOuterSysCommand(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!saverState.isPreview &&
      (wParam == SC_SCREENSAVE || wParam == SC_NEXTWINDOW || wParam == SC_PREVWINDOW))
    return 0;
  return PassOn(window, message, wParam, lParam);
}

LRESULT OnOuterTimer(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (saverState.isClosing) return 0;
  Sleep(0);
  return PassOn(window, message, wParam, lParam);
}

LRESULT OnClose(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (saverState.isWin9x && !VerifyBeforeClose(window)) {
    // Refused: the next input is measured from here.
    GetCursorPos(&saverState.mousePoint);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT OnVerifyPassword(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!saverState.isWin9x) return DefWindowProcA(window, message, wParam, lParam);
  return saverState.verifyPassword ? saverState.verifyPassword(window) : 1;
}

void OnMouseMove(HWND window) {
  POINT now = {};
  GetCursorPos(&now);
  const uint32_t dx = static_cast<uint32_t>(now.x > saverState.mousePoint.x ? now.x - saverState.mousePoint.x
                                                                              : saverState.mousePoint.x - now.x);
  const uint32_t dy = static_cast<uint32_t>(now.y > saverState.mousePoint.y ? now.y - saverState.mousePoint.y
                                                                              : saverState.mousePoint.y - now.y);
  if (dx + dy > saverState.wakeThreshold) {
    PostClose(window);
    saverState.mousePoint = now;
  }
}

}  // namespace

LRESULT CALLBACK OuterWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      return OnOuterCreate(window, message, wParam, lParam);
    case WM_DESTROY:
      return OnOuterDestroy(window, message, wParam, lParam);
    case WM_SETTEXT:
      return 0;  // the title never changes
    case WM_PAINT:
      return OnOuterPaint(window, message, wParam, lParam);
    case WM_HELP:
    case WM_CONTEXTMENU:
      return OnOuterHelp(window, message, wParam, lParam);
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_XBUTTONDOWN:
    case WM_MOUSEWHEEL:
    case kMouseHWheel:
      return OnOuterInput(window, message, wParam, lParam);
    case WM_SYSCOMMAND:
      return OnOuterSysCommand(window, message, wParam, lParam);
    case WM_TIMER:
      return OnOuterTimer(window, message, wParam, lParam);
    default:
      if (IsWheelRoll(message)) return OnOuterInput(window, message, wParam, lParam);
      return PassOn(window, message, wParam, lParam);
  }
}

int32_t ClaimFullScreen(HANDLE* claim) {
  *claim = nullptr;
  SetLastError(0);  // 95 leaves the last error alone when it makes the event
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, kFullScreenClaim);
  if (event != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(event);
    return -1;
  }
  *claim = event;
  return 0;
}

LRESULT CALLBACK DefaultSaverWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (saverState.isPreview || saverState.isClosing) return DefWindowProcA(window, message, wParam, lParam);
  if (message == WM_CLOSE) return OnClose(window, message, wParam, lParam);
  if (message == VerifyPasswordMessage) return OnVerifyPassword(window, message, wParam, lParam);
  // Also while the verifier's dialog is up: the screen must stay covered.
  if (message == WM_DISPLAYCHANGE) FollowScreen(window);
  if (saverState.isCheckingPassword) return DefWindowProcA(window, message, wParam, lParam);
  switch (message) {
    case WM_SHOWWINDOW:
      if (wParam != 0) HideCursor();
      break;
    case WM_ACTIVATEAPP:
      if (wParam == 0) PostClose(window);  // the saver lost activation
      break;
    case WM_SETCURSOR:
      HideCursor();
      return 1;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_XBUTTONDOWN:
    case WM_MOUSEWHEEL:
    case kMouseHWheel:
      PostClose(window);
      break;
    case WM_MOUSEMOVE:
      OnMouseMove(window);
      break;
    default:
      if (IsWheelRoll(message)) PostClose(window);
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

int32_t RunSaverWindow(HWND parent) {
  WNDCLASSA windowClass = {};
  windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS | CS_OWNDC;
  windowClass.lpfnWndProc = OuterWindowProc;
  windowClass.hInstance = saverState.instance;
  windowClass.hIcon = LoadIconA(saverState.instance, MAKEINTRESOURCEA(IDI_SAVER));
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  windowClass.lpszClassName = kClassName;

  HANDLE claim = nullptr;
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  if (parent != nullptr) {
    RECT client = {};
    GetClientRect(parent, &client);
    width = client.right;
    height = client.bottom;
    saverState.isPreview = 1;
  } else {
    const Rect screen = SaverScreenRect();
    saverState.covered = screen;
    left = screen.left;
    top = screen.top;
    width = screen.right - screen.left;
    height = screen.bottom - screen.top;
    if (ForegroundRunningSaver() == 0) return 0;
    if (ClaimFullScreen(&claim) < 0) {
      ForegroundRunningSaver();  // the other start may not have its window yet
      return 0;
    }
    HookPasswordLibrary();
    saverState.wheelMessage = RegisterWindowMessageA(MSH_MOUSEWHEEL);
  }

  ComposeSaverWindow();
  if (RegisterClassA(&windowClass)) {
    if (parent != nullptr)
      saverState.window = CreateWindowExA(0, kClassName, kPreviewTitle, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN,
                                          0, 0, width, height, parent, nullptr, saverState.instance, nullptr);
    else
      saverState.window = CreateWindowExA(WS_EX_TOPMOST, kClassName, kFullScreenTitle,
                                          WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, left,
                                          top, width, height, nullptr, nullptr, saverState.instance, nullptr);
  }

  // Without a window no quit message will come: that is a failed run.
  int32_t result = -1;
  if (saverState.window != nullptr) {
    if (parent == nullptr) SetForegroundWindow(saverState.window);
    MSG message = {};
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
      if (message.message == WindowGoneMessage && message.hwnd == nullptr) EndGoneWindow();
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    result = static_cast<int32_t>(message.wParam);
  }
  if (claim != nullptr) CloseHandle(claim);
  UnhookPasswordLibrary();
  return result;
}
