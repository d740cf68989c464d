// winprobe.exe: the Windows side of the end-to-end tests. Looks at and talks
// to windows of other processes, and plays a preview host.
//   find <title>              "<handle> visible=<0|1> foreground=<0|1> topmost=<0|1>" or "none"
//   settext <title> <text>    sends WM_SETTEXT; "<result> <title afterwards>"
//   activate                  shows a window of its own and makes it the foreground
//   host                      a host window with a preview pane; prints the pane's
//                             handle, then takes commands on stdin: "context"
//                             sends WM_CONTEXTMENU to the pane's child, "destroy"
//                             destroys the pane, "quit" ends.
//                             Prints what the pane receives.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr UINT kCommandMessage = WM_APP + 1;
HWND pane;

void Say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fflush(stdout);
}

int Find(const char* title) {
  HWND window = FindWindowA(nullptr, title);
  if (window == nullptr) {
    Say("none\n");
    return 1;
  }
  const LONG exStyle = GetWindowLongA(window, GWL_EXSTYLE);
  Say("%lu visible=%d foreground=%d topmost=%d\n", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(window)),
      IsWindowVisible(window) ? 1 : 0, GetForegroundWindow() == window ? 1 : 0,
      (exStyle & WS_EX_TOPMOST) ? 1 : 0);
  return 0;
}

int SetText(const char* title, const char* text) {
  HWND window = FindWindowA(nullptr, title);
  if (window == nullptr) {
    Say("none\n");
    return 1;
  }
  const LRESULT result = SendMessageA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
  char now[256] = {};
  GetWindowTextA(window, now, sizeof now);
  Say("%ld %s\n", static_cast<long>(result), now);
  return 0;
}

void Pump(DWORD milliseconds) {
  const DWORD start = GetTickCount();
  MSG message;
  while (GetTickCount() - start < milliseconds) {
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    Sleep(10);
  }
}

int Activate() {
  HWND window = CreateWindowExA(0, "STATIC", "winprobe", WS_POPUP | WS_VISIBLE, 10, 10, 100, 100, nullptr,
                                nullptr, nullptr, nullptr);
  SetForegroundWindow(window);
  Pump(1500);
  Say("foreground=%d\n", GetForegroundWindow() == window ? 1 : 0);
  DestroyWindow(window);
  return 0;
}

LRESULT CALLBACK PaneProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_HELP:
    case WM_CONTEXTMENU:
      Say("pane got %s wparam-is-pane=%d\n", message == WM_HELP ? "WM_HELP" : "WM_CONTEXTMENU",
          reinterpret_cast<HWND>(wParam) == window ? 1 : 0);
      return 0;
    case WM_DESTROY:
      Say("pane destroyed\n");
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kCommandMessage) {
    HWND child = pane ? GetWindow(pane, GW_CHILD) : nullptr;
    switch (wParam) {
      case 'c':
        if (child) SendMessageA(child, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(child), MAKELPARAM(5, 5));
        Say("sent WM_CONTEXTMENU child=%d\n", child ? 1 : 0);
        break;
      case 'd':
        DestroyWindow(pane);
        pane = nullptr;
        break;
      case 'q':
        DestroyWindow(window);
        break;
    }
    return 0;
  }
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

DWORD WINAPI ReadCommands(LPVOID host) {
  char line[64];
  while (std::fgets(line, sizeof line, stdin)) {
    const char* words[] = {"context", "destroy", "quit"};
    const char codes[] = {'c', 'd', 'q'};
    for (int i = 0; i < 3; ++i)
      if (std::strncmp(line, words[i], std::strlen(words[i])) == 0)
        PostMessageA(static_cast<HWND>(host), kCommandMessage, static_cast<WPARAM>(codes[i]), 0);
  }
  PostMessageA(static_cast<HWND>(host), kCommandMessage, 'q', 0);
  return 0;
}

int Host() {
  WNDCLASSA hostClass = {};
  hostClass.lpfnWndProc = HostProc;
  hostClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
  hostClass.lpszClassName = "ProbeHost";
  WNDCLASSA paneClass = {};
  paneClass.lpfnWndProc = PaneProc;
  paneClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  paneClass.lpszClassName = "ProbePane";
  RegisterClassA(&hostClass);
  RegisterClassA(&paneClass);
  HWND host = CreateWindowExA(0, "ProbeHost", "Preview Host", WS_POPUP | WS_VISIBLE, 600, 400, 400, 300, nullptr,
                              nullptr, nullptr, nullptr);
  // Like the display settings' pane: it leaves the saver's child alone when painting.
  pane = CreateWindowExA(0, "ProbePane", "pane", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 100, 75, 256, 192, host, nullptr, nullptr,
                         nullptr);
  Say("%lu\n", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(pane)));
  CreateThread(nullptr, 0, ReadCommands, host, 0, nullptr);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "find") == 0) return Find(argv[2]);
  if (argc >= 4 && std::strcmp(argv[1], "settext") == 0) return SetText(argv[2], argv[3]);
  if (argc >= 2 && std::strcmp(argv[1], "activate") == 0) return Activate();
  if (argc >= 2 && std::strcmp(argv[1], "host") == 0) return Host();
  std::fprintf(stderr, "usage: winprobe find|settext|activate|host ...\n");
  return 2;
}
