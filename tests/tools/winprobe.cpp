// winprobe.exe: the Windows side of the end-to-end tests. Looks at and talks
// to windows of other processes, and plays a preview host.
//   find <title>              "<handle> visible=<0|1> foreground=<0|1> topmost=<0|1>" or "none"
//   wait <title> <tenths> [front]
//                             looks every tenth of a second, for that many tenths at
//                             most, until the window is there (and, with "front", the
//                             foreground window); prints the last look as find does
//   settext <title> <text>    sends WM_SETTEXT; "<result> <title afterwards>"
//   activate                  shows a window of its own and makes it the foreground
//   host                      a host window with a preview pane; prints the pane's
//                             handle, then takes commands on stdin: "context"
//                             sends WM_CONTEXTMENU to the pane's child, "child"
//                             prints "child=<0|1>" (has the pane a child window),
//                             "destroy" destroys the pane, "quit" ends.
//                             Prints what the pane receives.
//   gui <title>               resources of the process that owns the window:
//                             "gdi=<n> gdi-from=<api|table> user=<n> private=<bytes>
//                              workingset=<bytes> handles=<n> windows=<n> threads=<n>"
//                             or "none"; -1 where the platform keeps no such figure
//   processes <image name>    how many processes of that executable name run
//   codepage                  "acp=<n>": the ANSI code page this process runs under
//   screens                   "monitors=<n> virtual=<x>,<y> <w>x<h> primary=<w>x<h>
//                              desktop-dc-origin=<x>,<y>" (the metrics by number:
//                              the headers predate several monitors)
//   rect <title>              the window's rectangle on the screen,
//                             "<left>,<top> <width>x<height>", or "none"
//   channels                  shows a 256x16 ramp at the screen's top-left, pixel x
//                             drawn as 32-bit (x, x, x); once a 32-bit capture of the
//                             screen sees it whole: "widened <256 RRGGBB>", what the
//                             display's pixels read back as. The ramp stays until a
//                             line (or the end) on stdin, so the caller can read the
//                             display's own pixels meanwhile.
//   cursor <x> <y>            puts the cursor there through the system, so that Wine's
//                             own idea of it is where X has the pointer; "cursor=<x>,<y>"
//                             as read back
//   moved <x> <y>             "moved=<0|1>": whether the system has queued a pointer
//                             move to that point lately (its pointer history)
//   pressed <virtual key>     "pressed=<0|1>": whether the key or mouse button went
//                             down since the last time anyone asked (decimal key code)
//   release                   a key release ('A') and a left-button release, with
//                             nothing pressed before, through the system's input
//                             (an X server drops such releases); "released"
//   settle <title> [parent]   sends eight messages that ask for nothing, one after
//                             another, to the window of that title (a child of the
//                             parent handle, when given); "settled=<answered>" or "none"
//   mode <width> <height>     sets the display mode's size (ChangeDisplaySettingsA, for
//                             this session only); "mode=<result> screen=<w>x<h>"
// Commands separated by "--" run one after another in one process, a line of
// answer each: a Wine process start costs more than most looks.
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
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

// Waiting here rather than starting a probe a tenth of a second: each start
// is a process of its own for Wine to bring up and take down.
int Wait(const char* title, const char* tenths, bool front) {
  const long looks = std::strtol(tenths, nullptr, 10);
  for (long i = 1; i < looks; ++i) {
    HWND window = FindWindowA(nullptr, title);
    if (window != nullptr && (!front || GetForegroundWindow() == window)) break;
    Sleep(100);
  }
  return Find(title);
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
      case 'h':
        Say("child=%d\n", child ? 1 : 0);
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
    const char* words[] = {"context", "child", "destroy", "quit"};
    const char codes[] = {'c', 'h', 'd', 'q'};
    for (int i = 0; i < 4; ++i)
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

struct WindowTally {
  DWORD process;
  long count;
};

BOOL CALLBACK CountWindow(HWND window, LPARAM context) {
  auto* tally = reinterpret_cast<WindowTally*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == tally->process) ++tally->count;
  return TRUE;
}

BOOL CALLBACK CountTopWindow(HWND window, LPARAM context) {
  CountWindow(window, context);
  EnumChildWindows(window, CountWindow, context);
  return TRUE;
}

// Windows of the process, children included: the USER objects a run could
// leave behind, countable where the GUI-resource count is not kept.
long CountWindows(DWORD process) {
  WindowTally tally = {process, 0};
  EnumWindows(CountTopWindow, reinterpret_cast<LPARAM>(&tally));
  return tally.count;
}

// Where the GUI-resource count is not kept (Wine): Wine keeps each process's
// GDI objects in a handle table of its own, found through the process
// environment block as on Windows; its used entries that are not stock
// objects are what the count would report. Entry layout as Wine defines it.
struct GdiHandleEntry {
  uint64_t object;
  uint32_t owner;
  uint16_t unique;  // bit 7: stock object
  uint8_t type;     // 0: free
  uint8_t flags;
  uint64_t userPointer;
};
static_assert(sizeof(GdiHandleEntry) == 24, "Wine's GDI handle entry");
constexpr DWORD kGdiHandles = 0x10000;
constexpr DWORD kPebGdiTable = 0x94;  // GdiSharedHandleTable in a 32-bit PEB

struct BasicInformation {  // PROCESS_BASIC_INFORMATION
  LONG exitStatus;
  void* peb;
  ULONG_PTR affinity;
  LONG basePriority;
  ULONG_PTR id;
  ULONG_PTR parentId;
};
using QueryProcessProc = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);

long CountGdiTable(HANDLE process) {
  auto query = reinterpret_cast<QueryProcessProc>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
  BasicInformation basic = {};
  if (query == nullptr || query(process, 0, &basic, sizeof basic, nullptr) != 0) return -1;
  DWORD table = 0;
  SIZE_T got = 0;
  if (!ReadProcessMemory(process, static_cast<char*>(basic.peb) + kPebGdiTable, &table, sizeof table, &got) ||
      table == 0)
    return -1;
  static GdiHandleEntry entries[kGdiHandles];
  if (!ReadProcessMemory(process, reinterpret_cast<void*>(static_cast<uintptr_t>(table)), entries, sizeof entries,
                         &got))
    return -1;
  long used = 0;
  for (const GdiHandleEntry& entry : entries)
    if (entry.type != 0 && (entry.unique & 0x80) == 0) ++used;
  return used;
}

// Wine's per-process handle count answers 0 for every process: count the
// handle values that can be duplicated out of it instead. Wine hands out the
// lowest free value first, so the range covers every handle a saver holds.
long CountHandles(HANDLE process) {
  DWORD count = 0;
  if (GetProcessHandleCount(process, &count) && count != 0) return static_cast<long>(count);
  long valid = 0;
  for (uintptr_t value = 4; value < 0x10000; value += 4) {
    HANDLE copy = nullptr;
    if (DuplicateHandle(process, reinterpret_cast<HANDLE>(value), GetCurrentProcess(), &copy, 0, FALSE,
                        DUPLICATE_SAME_ACCESS)) {
      ++valid;
      CloseHandle(copy);
    }
  }
  return valid;
}

long CountThreads(DWORD process) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  long count = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
    if (entry.th32OwnerProcessID == process) ++count;
  CloseHandle(snapshot);
  return count;
}

long GuiResources(HANDLE process, DWORD which) {
  SetLastError(NO_ERROR);
  const DWORD count = GetGuiResources(process, which);
  return count == 0 && GetLastError() != NO_ERROR ? -1 : static_cast<long>(count);
}

int Gui(const char* title) {
  HWND window = FindWindowA(nullptr, title);
  DWORD id = 0;
  if (window != nullptr) GetWindowThreadProcessId(window, &id);
  HANDLE process =
      id ? OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_DUP_HANDLE, FALSE, id) : nullptr;
  if (process == nullptr) {
    Say("none\n");
    return 1;
  }
  // -1 marks a figure the platform does not keep, never a count.
  long gdi = GuiResources(process, GR_GDIOBJECTS);
  const char* gdiSource = "api";
  if (gdi < 0) {
    gdi = CountGdiTable(process);
    gdiSource = "table";
  }
  const long user = GuiResources(process, GR_USEROBJECTS);
  PROCESS_MEMORY_COUNTERS_EX memory = {};
  memory.cb = sizeof memory;
  long long privateBytes = -1;
  long long workingSet = -1;
  if (GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory)) {
    // A live process always has private pages: 0 means the figure is not kept.
    if (memory.PrivateUsage != 0) privateBytes = static_cast<long long>(memory.PrivateUsage);
    workingSet = static_cast<long long>(memory.WorkingSetSize);
  }
  const long handles = CountHandles(process);
  Say("gdi=%ld gdi-from=%s user=%ld private=%lld workingset=%lld handles=%ld windows=%ld threads=%ld\n", gdi,
      gdiSource, user, privateBytes, workingSet, handles, CountWindows(id), CountThreads(id));
  CloseHandle(process);
  return 0;
}

int Processes(const char* image) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) {
    Say("-1\n");
    return 1;
  }
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  int count = 0;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    // Some systems give the full path, some the name alone.
    const char* name = std::strrchr(entry.szExeFile, '\\');
    if (lstrcmpiA(name ? name + 1 : entry.szExeFile, image) == 0) ++count;
  }
  CloseHandle(snapshot);
  Say("%d\n", count);
  return 0;
}

int Screens() {
  HWND desktop = GetDesktopWindow();
  HDC dc = GetWindowDC(desktop);
  POINT origin = {};
  GetDCOrgEx(dc, &origin);
  ReleaseDC(desktop, dc);
  Say("monitors=%d virtual=%d,%d %dx%d primary=%dx%d desktop-dc-origin=%ld,%ld\n", GetSystemMetrics(80),
      GetSystemMetrics(76), GetSystemMetrics(77), GetSystemMetrics(78), GetSystemMetrics(79),
      GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), origin.x, origin.y);
  return 0;
}

int WindowRect(const char* title) {
  HWND window = FindWindowA(nullptr, title);
  RECT r = {};
  if (window == nullptr || !GetWindowRect(window, &r)) {
    Say("none\n");
    return 1;
  }
  Say("%ld,%ld %ldx%ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
  return 0;
}

// The ramp: pixel x of every row is gray x at 8 bits a channel.
struct Ramp {
  BITMAPINFOHEADER header;
  uint32_t pixels[256 * 16];
};

void DrawRamp(HWND window, const Ramp* ramp) {
  HDC dc = GetDC(window);
  StretchDIBits(dc, 0, 0, 256, 16, 0, 0, 256, 16, ramp->pixels, reinterpret_cast<const BITMAPINFO*>(&ramp->header),
                DIB_RGB_COLORS, SRCCOPY);
  ReleaseDC(window, dc);
}

// The top row of the ramp's place as a 32-bit capture of the screen sees it,
// as the saver takes its copy.
bool CaptureRampRow(uint32_t* row) {
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof header;
  header.biWidth = 256;
  header.biHeight = -1;
  header.biPlanes = 1;
  header.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP section =
      CreateDIBSection(nullptr, reinterpret_cast<const BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits, nullptr, 0);
  if (section == nullptr) return false;
  HWND desktop = GetDesktopWindow();
  HDC screen = GetWindowDC(desktop);
  HDC memory = CreateCompatibleDC(screen);
  HGDIOBJ previous = SelectObject(memory, section);
  BitBlt(memory, 0, 0, 256, 1, screen, 0, 0, SRCCOPY);
  SelectObject(memory, previous);
  DeleteDC(memory);
  ReleaseDC(desktop, screen);
  std::memcpy(row, bits, 256 * sizeof(uint32_t));
  DeleteObject(section);
  return true;
}

// Seen whole: black at the left, white at the right, never darker to the right.
bool RampSeen(const uint32_t* row) {
  if ((row[0] & 0xFFFFFF) != 0 || (row[255] & 0xFFFFFF) != 0xFFFFFF) return false;
  for (int x = 1; x < 256; ++x)
    for (int shift = 0; shift < 24; shift += 8)
      if ((row[x] >> shift & 255) < (row[x - 1] >> shift & 255)) return false;
  return true;
}

int Channels() {
  static Ramp ramp;
  ramp.header.biSize = sizeof ramp.header;
  ramp.header.biWidth = 256;
  ramp.header.biHeight = -16;
  ramp.header.biPlanes = 1;
  ramp.header.biBitCount = 32;
  for (int i = 0; i < 256 * 16; ++i) ramp.pixels[i] = static_cast<uint32_t>(i % 256) * 0x010101u;
  HWND window = CreateWindowExA(WS_EX_TOPMOST, "STATIC", "winprobe ramp", WS_POPUP | WS_VISIBLE, 0, 0, 256, 16,
                                nullptr, nullptr, nullptr, nullptr);
  if (window == nullptr) return 1;
  uint32_t row[256] = {};
  bool seen = false;
  for (int tries = 0; tries < 200 && !seen; ++tries) {
    DrawRamp(window, &ramp);
    Pump(50);
    seen = CaptureRampRow(row) && RampSeen(row);
  }
  if (!seen) {
    Say("ramp not seen\n");
    DestroyWindow(window);
    return 1;
  }
  Say("widened");
  for (int x = 0; x < 256; ++x) Say(" %06x", static_cast<unsigned>(row[x] & 0xFFFFFF));
  Say("\n");
  char line[16];
  std::fgets(line, sizeof line, stdin);
  DestroyWindow(window);
  return 0;
}

// Wine keeps a position of its own for the cursor and learns of the pointer's
// moves only over its windows; relative motion is added to that position. A
// new Wine session may confine the cursor to an empty rectangle (it would land
// on 0,0); nothing of ours confines it, so it is let free first.
int PlaceCursor(const char* x, const char* y) {
  const POINT want = {std::atoi(x), std::atoi(y)};
  POINT at = {-1, -1};
  for (int tries = 0; tries < 100; ++tries) {
    ClipCursor(nullptr);
    if (SetCursorPos(want.x, want.y) && GetCursorPos(&at) && at.x == want.x && at.y == want.y) break;
    Sleep(50);
  }
  Say("cursor=%ld,%ld\n", at.x, at.y);
  return at.x == want.x && at.y == want.y ? 0 : 1;
}

// Newer than the headers this is built with; taken from USER32 by name.
struct MouseMovePoint {  // MOUSEMOVEPOINT
  int x;
  int y;
  DWORD time;
  ULONG_PTR extraInfo;
};
constexpr DWORD kUseDisplayPoints = 1;  // GMMP_USE_DISPLAY_POINTS
using MovePointsProc = int(WINAPI*)(UINT, MouseMovePoint*, MouseMovePoint*, int, DWORD);

template <typename Proc>
Proc User32(const char* name) {
  return reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), name)));
}

// The system keeps the points its pointer was moved to as it queues the
// moves for the window beneath, so a point found there has been handed to
// that window's thread, whichever process reads the X event.
int Moved(const char* x, const char* y) {
  auto points = User32<MovePointsProc>("GetMouseMovePointsEx");
  MouseMovePoint want = {std::atoi(x), std::atoi(y), 0, 0};
  MouseMovePoint found[1] = {};
  const int moved = points != nullptr && points(sizeof want, &want, found, 1, kUseDisplayPoints) > 0;
  Say("moved=%d\n", moved);
  return 0;
}

// The system's key state marks a key or button that went down, as the press
// is queued, until someone asks for it; the first question after a press is
// the one that sees it.
int Pressed(const char* key) {
  const SHORT state = GetAsyncKeyState(std::atoi(key));
  Say("pressed=%d\n", (state & 1) ? 1 : 0);
  return 0;
}

// They reach the window in front as a user's would, without the press that
// an X server wants before it passes a release on.
int Release() {
  keybd_event('A', static_cast<BYTE>(MapVirtualKeyA('A', 0)), KEYEVENTF_KEYUP, 0);
  mouse_event(MOUSEEVENTF_LEFTUP, 0, 0, 0, 0);
  Say("released\n");
  return 0;
}

// A message sent from another thread is handled only when the window's thread
// next looks at its queue, before what is posted or input there; that look
// then goes on to hand out one queued message. So when the last of these has
// been answered, the thread has handed out and dealt with at least seven of
// the messages that were queued before the first was sent (a move, a click
// and its release, and what they post), or had none left.
int Settle(const char* title, const char* parent) {
  HWND owner = parent ? reinterpret_cast<HWND>(static_cast<uintptr_t>(std::strtoul(parent, nullptr, 10))) : nullptr;
  HWND window = FindWindowExA(owner, nullptr, nullptr, title);
  if (window == nullptr) {
    Say("none\n");
    return 1;
  }
  int answered = 0;
  constexpr int kMessages = 8;
  for (int i = 0; i < kMessages; ++i) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 20000, &result)) break;
    ++answered;
  }
  Say("settled=%d\n", answered);
  return answered == kMessages ? 0 : 1;
}

int SetMode(const char* width, const char* height) {
  DEVMODEA mode = {};
  mode.dmSize = sizeof mode;
  mode.dmPelsWidth = std::strtoul(width, nullptr, 10);
  mode.dmPelsHeight = std::strtoul(height, nullptr, 10);
  mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
  const LONG result = ChangeDisplaySettingsA(&mode, 0);
  Say("mode=%ld screen=%dx%d\n", result, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
  return result == DISP_CHANGE_SUCCESSFUL ? 0 : 1;
}

int Command(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "find") == 0) return Find(argv[2]);
  if (argc >= 4 && std::strcmp(argv[1], "wait") == 0)
    return Wait(argv[2], argv[3], argc >= 5 && std::strcmp(argv[4], "front") == 0);
  if (argc >= 4 && std::strcmp(argv[1], "settext") == 0) return SetText(argv[2], argv[3]);
  if (argc >= 2 && std::strcmp(argv[1], "activate") == 0) return Activate();
  if (argc >= 2 && std::strcmp(argv[1], "host") == 0) return Host();
  if (argc >= 3 && std::strcmp(argv[1], "gui") == 0) return Gui(argv[2]);
  if (argc >= 3 && std::strcmp(argv[1], "processes") == 0) return Processes(argv[2]);
  if (argc >= 2 && std::strcmp(argv[1], "codepage") == 0) {
    Say("acp=%u\n", GetACP());
    return 0;
  }
  if (argc >= 2 && std::strcmp(argv[1], "screens") == 0) return Screens();
  if (argc >= 3 && std::strcmp(argv[1], "rect") == 0) return WindowRect(argv[2]);
  if (argc >= 2 && std::strcmp(argv[1], "channels") == 0) return Channels();
  if (argc >= 4 && std::strcmp(argv[1], "cursor") == 0) return PlaceCursor(argv[2], argv[3]);
  if (argc >= 4 && std::strcmp(argv[1], "moved") == 0) return Moved(argv[2], argv[3]);
  if (argc >= 3 && std::strcmp(argv[1], "pressed") == 0) return Pressed(argv[2]);
  if (argc >= 2 && std::strcmp(argv[1], "release") == 0) return Release();
  if (argc >= 3 && std::strcmp(argv[1], "settle") == 0) return Settle(argv[2], argc >= 4 ? argv[3] : nullptr);
  if (argc >= 4 && std::strcmp(argv[1], "mode") == 0) return SetMode(argv[2], argv[3]);
  std::fprintf(stderr,
               "usage: winprobe find|wait|settext|activate|host|gui|processes|codepage|screens|rect|channels|"
               "cursor|moved|pressed|release|settle|mode ... [-- <command> ...]\n");
  return 2;
}

}  // namespace

// Each command sees its own arguments as argv[1...] (argv[0] is unused); the
// status is the last command's.
int main(int argc, char** argv) {
  int status = 2;
  for (int first = 1, i = 1; i <= argc; ++i) {
    if (i < argc && std::strcmp(argv[i], "--") != 0) continue;
    status = Command(i - first + 1, argv + first - 1);
    first = i + 1;
  }
  return status;
}
