// The preview drawn in-process: under Wine a child window's drawing reaches
// the screen only when its parent belongs to the same process, so the host
// here is this test, and the pane's pixels are read back from its window.
#include "host/saver_window.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "effect/block_ledger.h"
#include "effect/drift_worker.h"
#include "effect/frame_buffer.h"
#include "host/saver_state.h"
#include "tests/support/win_session.h"

namespace {

constexpr int kPaneW = 256, kPaneH = 192;

std::string MapBesideTheExecutable() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, sizeof path);
  std::string s(path);
  return s.substr(0, s.rfind('\\') + 1) + "glmire.bmp";
}

// A 64x64 map of gray 128 everywhere: the drift changes nothing, so the pane
// shows exactly the scaled snapshot whatever frame it is in.
void WriteNeutralMap(const std::string& path) {
  std::vector<uint8_t> file(54 + 1024 + 64 * 64, 0);
  auto put32 = [&](size_t at, uint32_t v) { for (int i = 0; i < 4; ++i) file[at + i] = static_cast<uint8_t>(v >> (8 * i)); };
  file[0] = 'B', file[1] = 'M';
  put32(2, static_cast<uint32_t>(file.size()));
  put32(10, 54 + 1024);
  put32(14, 40), put32(18, 64), put32(22, 64);
  file[26] = 1, file[28] = 8;
  for (int i = 0; i < 256; ++i) file[54 + 4 * i] = file[55 + 4 * i] = file[56 + 4 * i] = 128;
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(file.data(), 1, file.size(), f);
  std::fclose(f);
}

COLORREF BlockColour(int x, int y) {
  const int b = (x / 128) + 8 * (y / 128);
  return RGB((b * 53) & 255, (b * 97 + 40) & 255, (b * 29 + 200) & 255);
}

LRESULT CALLBACK DesktopProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_PAINT) return DefWindowProcA(window, message, wParam, lParam);
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  for (int y = 0; y < GetSystemMetrics(SM_CYSCREEN); y += 128)
    for (int x = 0; x < GetSystemMetrics(SM_CXSCREEN); x += 128) {
      HBRUSH brush = CreateSolidBrush(BlockColour(x, y));
      RECT r = {x, y, x + 128, y + 128};
      FillRect(dc, &r, brush);
      DeleteObject(brush);
    }
  EndPaint(window, &paint);
  return 0;
}

struct Scene {
  HWND desktop = nullptr, host = nullptr, pane = nullptr;
  FrameBuffer before = {};  // what the saver will capture
  std::vector<uint32_t> paneSeen;
  Scene() {
    WNDCLASSA desk = {};
    desk.lpfnWndProc = DesktopProc;
    desk.lpszClassName = "TestDesktop";
    RegisterClassA(&desk);
    desktop = CreateWindowExA(0, "TestDesktop", "desktop", WS_POPUP | WS_VISIBLE, 0, 0,
                              GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), nullptr, nullptr,
                              nullptr, nullptr);
    host = CreateWindowExA(0, "STATIC", "host", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 600, 400, 400, 300,
                           nullptr, nullptr, nullptr, nullptr);
    pane = CreateWindowExA(0, "STATIC", "pane", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 100, 75, kPaneW, kPaneH,
                           host, nullptr, nullptr, nullptr);
    Pump(800);
    CaptureScreen(&before);
  }
  ~Scene() {
    DestroyFrameBuffer(&before);
    DestroyWindow(host);
    DestroyWindow(desktop);
  }
};

Scene* scene;

// Reads the pane's pixels out of the host's window, then ends the preview
// the way the display settings do: by destroying the saver's window.
void CALLBACK LookAndClose(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  HDC hostDc = GetDC(scene->host);
  BITMAPINFOHEADER header = {sizeof header, kPaneW, -kPaneH, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC memory = CreateCompatibleDC(hostDc);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, kPaneW, kPaneH, hostDc, 100, 75, SRCCOPY);
  GdiFlush();
  const auto* px = static_cast<const uint32_t*>(bits);
  scene->paneSeen.assign(px, px + kPaneW * kPaneH);
  SelectObject(memory, old);
  DeleteDC(memory);
  DeleteObject(bitmap);
  ReleaseDC(scene->host, hostDc);
  DestroyWindow(GetWindow(scene->pane, GW_CHILD));
}

int32_t RunPreview(Scene* s) {
  scene = s;
  const SaverState kept = saverState;
  saverState.instance = GetModuleHandleA(nullptr);
  SetTimer(nullptr, 0, 1500, LookAndClose);
  const int32_t result = RunSaverWindow(s->pane);
  // The saver registers its class once a process; the next case registers it anew.
  UnregisterClassA("WindowsScreenSaverClass", saverState.instance);
  saverState = kept;
  return result;
}

// The 8-bit value a 5-bit channel shows as.
int Expand5(int v) { return v << 3 | v >> 2; }

TEST(Preview, DrawsTheWholeSnapshotScaledIntoThePane) {
  const std::string map = MapBesideTheExecutable();
  WriteNeutralMap(map);
  Scene s;
  ASSERT_NE(s.before.pixels, nullptr);
  EXPECT_EQ(RunPreview(&s), 0);
  DeleteFileA(map.c_str());
  ASSERT_EQ(s.paneSeen.size(), static_cast<size_t>(kPaneW * kPaneH));

  // Each pane pixel is a snapshot pixel near its scaled place: the patch's
  // frames are stretched one rectangle at a time, so at their edges the
  // platform may pick a source pixel up to one pane pixel (4 screen pixels)
  // away. The blocks are 128 pixels, so a shift, flip or wrong scale still
  // shows everywhere. The host window itself
  // is left out: its edges are still settling on the X screen while the
  // snapshots are taken.
  const PixelSurface snap = FrameSurface(&s.before);
  int wrong = 0;
  for (int y = 0; y < kPaneH; ++y)
    for (int x = 0; x < kPaneW; ++x) {
      const uint32_t seen = s.paneSeen[y * kPaneW + x] & 0xFFFFFF;
      const int sx = x * snap.width / kPaneW, sy = y * snap.height / kPaneH;
      if (sx >= 600 - 8 && sx < 1000 + 8 && sy >= 400 - 8 && sy < 700 + 8) continue;
      bool found = false;
      for (int dy = -5; dy <= 5 && !found; ++dy)
        for (int dx = -5; dx <= 5 && !found; ++dx) {
          const int ux = std::min(std::max(sx + dx, 0), snap.width - 1);
          const int uy = std::min(std::max(sy + dy, 0), snap.height - 1);
          const Pixel555 p = snap.pixels[uy * snap.stride + ux];
          const uint32_t rgb = static_cast<uint32_t>(Expand5(p >> 10 & 31) << 16 | Expand5(p >> 5 & 31) << 8 |
                                                     Expand5(p & 31));
          found = rgb == seen;
        }
      if (!found && wrong++ < 3) ADD_FAILURE() << "pane pixel " << x << "," << y << " is " << std::hex << seen;
    }
  EXPECT_EQ(wrong, 0);
}

TEST(Preview, AMissingMapLeavesTheWholePaneBlackButForTheMessage) {
  DeleteFileA(MapBesideTheExecutable().c_str());
  Scene s;
  EXPECT_EQ(RunPreview(&s), 0);
  ASSERT_EQ(s.paneSeen.size(), static_cast<size_t>(kPaneW * kPaneH));
  int black = 0, blackBelowText = 0, belowText = 0;
  for (int y = 0; y < kPaneH; ++y)
    for (int x = 0; x < kPaneW; ++x) {
      const bool isBlack = (s.paneSeen[y * kPaneW + x] & 0xFFFFFF) == 0;
      black += isBlack;
      if (y >= 20) belowText++, blackBelowText += isBlack;
    }
  EXPECT_EQ(blackBelowText, belowText);  // the whole pane, not a rectangle somewhere else
  EXPECT_LT(black, kPaneW * kPaneH);     // and the text at its top-left
}

// The drift held still: only the worker's presents of its whole picture
// reach the window, so no frame mends by chance what a test spoils, and the
// map (gray 128) changes nothing.
volatile LONG wholePresents;
int32_t LoadNeutral(ShadeMap* map, uint8_t* palette, const ShadeMapFile*) {
  map->pixels = static_cast<uint8_t*>(AllocBlock(64 * 64));
  map->width = map->height = 64;
  for (int i = 0; i < 256 * 4; ++i) palette[i] = 128;
  return 0;
}
void PresentWholeOnly(const FrameBuffer* frame, HDC dc, Rect rect) {
  if (rect.left != 0 || rect.top != 0 || rect.right != frame->header.biWidth ||
      rect.bottom != -frame->header.biHeight)
    return;
  PresentRect(frame, dc, rect, 0, 0);
  GdiFlush();
  InterlockedIncrement(&wholePresents);
}

// The pixels of part of window's client area, through a context of its own
// (the window's own one is the worker's).
std::vector<uint32_t> ReadPart(HWND window, RECT part) {
  const int w = part.right - part.left, h = part.bottom - part.top;
  HDC dc = GetDCEx(window, nullptr, DCX_CACHE);
  BITMAPINFOHEADER header = {sizeof header, w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC memory = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, dc, part.left, part.top, SRCCOPY);
  GdiFlush();
  const auto* px = static_cast<const uint32_t*>(bits);
  std::vector<uint32_t> seen(px, px + w * h);
  SelectObject(memory, old);
  DeleteDC(memory);
  DeleteObject(bitmap);
  ReleaseDC(window, dc);
  for (uint32_t& p : seen) p &= 0xFFFFFF;
  return seen;
}

// A dialog that covered part of the saver and closed: its pixels are left
// there and the system invalidates the part it covered.
struct Covered {
  bool preview;
  RECT part;
  std::vector<uint32_t> picture;
  int phase;  // 0: waiting for the worker's picture; 1: covered, waiting for the picture back
  int looks;
  bool pictured, spoilt, back;
} covered;

void CALLBACK CoverThenLook(HWND, UINT, UINT_PTR id, DWORD) {
  Covered& c = covered;
  const HWND window = saverState.window;
  ++c.looks;
  if (c.phase == 0) {
    if (wholePresents == 0 && c.looks < 200) return;
    c.pictured = wholePresents > 0;
    RECT client = {};
    GetClientRect(window, &client);
    c.part = RECT{client.right / 4, client.bottom / 4, client.right / 2, client.bottom / 2};
    c.picture = ReadPart(window, c.part);
    HDC dc = GetDCEx(window, nullptr, DCX_CACHE);
    PatBlt(dc, c.part.left, c.part.top, c.part.right - c.part.left, c.part.bottom - c.part.top, DSTINVERT);
    ReleaseDC(window, dc);
    c.spoilt = ReadPart(window, c.part) != c.picture;
    InvalidateRect(window, &c.part, TRUE);
    c.phase = 1;
    c.looks = 0;
    return;
  }
  c.back = ReadPart(window, c.part) == c.picture;
  if (!c.back && c.looks < 200) return;
  KillTimer(nullptr, id);
  if (c.preview)
    DestroyWindow(window);  // as the display settings end a preview
  else
    PostMessageA(window, WM_KEYDOWN, VK_SPACE, 0);
}

void CALLBACK EndTheRun(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  if (IsWindow(saverState.window)) DestroyWindow(saverState.window);
}

// Where no compositor keeps a window's pixels, a paint request is the only
// news that something covered the saver; it answers with its whole picture.
TEST(Repaint, WhatCoveredTheSaverIsPaintedOverWithItsPicture) {
  Scene s;
  const DriftPieces pieces = {LoadNeutral, PresentWholeOnly, nullptr};
  for (bool preview : {false, true}) {
    SCOPED_TRACE(preview ? "preview" : "full screen");
    const SaverState kept = saverState;
    saverState.instance = GetModuleHandleA(nullptr);
    saverState.lastPasswordCheck = 0xFFFFFFFFu;
    saverState.wakeThreshold = 4;
    SetDriftPieces(&pieces);
    wholePresents = 0;
    covered = Covered{};
    covered.preview = preview;
    SetTimer(nullptr, 0, 50, CoverThenLook);
    const UINT_PTR giveUp = SetTimer(nullptr, 0, 30000, EndTheRun);

    EXPECT_EQ(RunSaverWindow(preview ? s.pane : nullptr), 0);
    KillTimer(nullptr, giveUp);
    SetDriftPieces(nullptr);
    UnregisterClassA("WindowsScreenSaverClass", saverState.instance);
    saverState = kept;
    ASSERT_TRUE(covered.pictured) << "the worker never put its picture up";
    ASSERT_TRUE(covered.spoilt) << "drawing over the window changed nothing";
    EXPECT_TRUE(covered.back) << "the covered part still shows what covered it";
  }
}

// Starts at the same moment: the one that holds the full screen runs, any
// other makes no window and ends at once with 0; once the holder lets go, the
// next start may take it.
TEST(FullScreen, OnlyTheStartThatHoldsTheScreenMakesAWindow) {
  HANDLE first = nullptr, second = nullptr;
  ASSERT_EQ(ClaimFullScreen(&first), 0);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(ClaimFullScreen(&second), -1);
  EXPECT_EQ(second, nullptr);

  const SaverState kept = saverState;
  saverState.instance = GetModuleHandleA(nullptr);
  saverState.window = nullptr;
  EXPECT_EQ(RunSaverWindow(nullptr), 0);
  EXPECT_EQ(saverState.window, nullptr);
  EXPECT_EQ(FindWindowA("WindowsScreenSaverClass", nullptr), nullptr);
  saverState = kept;

  CloseHandle(first);
  EXPECT_EQ(ClaimFullScreen(&second), 0);
  EXPECT_NE(second, nullptr);
  CloseHandle(second);
}

}  // namespace
