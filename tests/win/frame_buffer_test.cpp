#include "effect/frame_buffer.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tests/support/win_session.h"

namespace {

// A pixel that names its own place, so any shift, shear or flip shows.
Pixel555 Marker(int32_t x, int32_t y) { return static_cast<Pixel555>((y & 31) << 10 | (x & 1023)); }

void Fill(FrameBuffer* frame) {
  const PixelSurface s = FrameSurface(frame);
  for (int32_t y = 0; y < s.height; ++y)
    for (int32_t x = 0; x < s.width; ++x) s.pixels[y * s.stride + x] = Marker(x, y);
}

// A 16-bit top-down bitmap to draw into, read back through GetDIBits.
struct Target {
  int32_t width, height;
  HDC dc;
  HBITMAP bitmap;
  HGDIOBJ previous;
  BITMAPINFOHEADER header;
  Target(int32_t w, int32_t h) : width(w), height(h) {
    header = BITMAPINFOHEADER{sizeof header, w, -h, 1, 16, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    bitmap = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits,
                              nullptr, 0);
    dc = CreateCompatibleDC(nullptr);
    previous = SelectObject(dc, bitmap);
  }
  ~Target() {
    SelectObject(dc, previous);
    DeleteDC(dc);
    DeleteObject(bitmap);
  }
  // Row y is at y * stride; the padding is dropped.
  std::vector<Pixel555> ReadBack() {
    GdiFlush();
    SelectObject(dc, previous);  // GetDIBits wants the bitmap out of any context
    const int32_t stride = SurfaceStride(width);
    std::vector<Pixel555> rows(static_cast<size_t>(stride) * height);
    BITMAPINFOHEADER h = header;
    EXPECT_EQ(GetDIBits(dc, bitmap, 0, static_cast<UINT>(height), rows.data(),
                        reinterpret_cast<BITMAPINFO*>(&h), DIB_RGB_COLORS),
              height);
    SelectObject(dc, bitmap);
    std::vector<Pixel555> packed;
    for (int32_t y = 0; y < height; ++y)
      packed.insert(packed.end(), rows.begin() + y * stride, rows.begin() + y * stride + width);
    return packed;
  }
};

TEST(FrameBuffer, CreateDescribesATopDown555SectionAndDestroyEmptiesIt) {
  FrameBuffer frame{};
  ASSERT_EQ(CreateFrameBuffer(&frame, 101, 37), 0);
  EXPECT_EQ(frame.header.biSize, 40u);
  EXPECT_EQ(frame.header.biWidth, 101);
  EXPECT_EQ(frame.header.biHeight, -37);
  EXPECT_EQ(frame.header.biBitCount, 16);
  EXPECT_EQ(frame.header.biCompression, static_cast<DWORD>(BI_RGB));
  ASSERT_NE(frame.bitmap, nullptr);
  ASSERT_NE(frame.pixels, nullptr);
  const PixelSurface s = FrameSurface(&frame);
  EXPECT_EQ(s.width, 101);
  EXPECT_EQ(s.height, 37);
  EXPECT_EQ(s.stride, 102);
  DIBSECTION dib;
  ASSERT_EQ(GetObjectA(frame.bitmap, sizeof dib, &dib), static_cast<int>(sizeof dib));
  EXPECT_EQ(dib.dsBm.bmWidthBytes, s.stride * 2) << "rows are addressed at the platform's stride";

  EXPECT_NE(DestroyFrameBuffer(&frame), FALSE);
  EXPECT_EQ(frame.bitmap, nullptr);
  EXPECT_EQ(frame.pixels, nullptr);
  EXPECT_EQ(frame.header.biWidth, 0);
  EXPECT_EQ(DestroyFrameBuffer(&frame), FALSE);

  for (auto size : {std::pair<int32_t, int32_t>{0, 10}, {10, 0}, {-4, 10}, {65536, 65536}}) {
    FrameBuffer untouched{};
    untouched.header.biWidth = 77;
    EXPECT_EQ(CreateFrameBuffer(&untouched, size.first, size.second), -1);
    EXPECT_EQ(untouched.header.biWidth, 77);
    EXPECT_EQ(untouched.bitmap, nullptr);
  }
}

// Every frame row at the platform's padded stride: odd widths draw exactly.
TEST(FrameBuffer, PresentingTheWholeFrameDrawsItUpright) {
  for (int32_t width : {1023, 1024, 101}) {
    const int32_t height = 9;
    FrameBuffer frame{};
    ASSERT_EQ(CreateFrameBuffer(&frame, width, height), 0);
    Fill(&frame);
    Target target(width, height);
    EXPECT_EQ(PresentRect(&frame, target.dc, Rect{0, 0, width, height}, 0, 0), 0);
    const std::vector<Pixel555> drawn = target.ReadBack();
    for (int32_t y = 0; y < height; ++y)
      for (int32_t x = 0; x < width; ++x)
        ASSERT_EQ(drawn[static_cast<size_t>(y * width + x)], Marker(x, y)) << width << ": " << x << "," << y;
    DestroyFrameBuffer(&frame);
  }
}

TEST(FrameBuffer, PresentingARectDrawsOnlyThatRect) {
  const int32_t width = 101, height = 31;
  FrameBuffer frame{};
  ASSERT_EQ(CreateFrameBuffer(&frame, width, height), 0);
  Fill(&frame);
  // Every vertical place for a few heights, on the left edge and off it: a
  // source at the bottom-left corner is where the platform reads rows from
  // the other end.
  std::vector<Rect> rects = {Rect{width - 3, 0, width, height}, Rect{0, 0, width, height}};
  for (int32_t h : {1, 5, height - 1})
    for (int32_t top = 0; top + h <= height; ++top)
      for (int32_t left : {0, 1 + top}) rects.push_back(Rect{left, top, left + 30, top + h});
  for (Rect r : rects) {
    Target target(width, height);  // starts all zero
    PresentRect(&frame, target.dc, r, r.left, r.top);
    const std::vector<Pixel555> drawn = target.ReadBack();
    for (int32_t y = 0; y < height; ++y)
      for (int32_t x = 0; x < width; ++x) {
        const bool inside = x >= r.left && x < r.right && y >= r.top && y < r.bottom;
        ASSERT_EQ(drawn[static_cast<size_t>(y * width + x)], inside ? Marker(x, y) : 0)
            << r.left << "," << r.top << ": " << x << "," << y;
      }
  }
  DestroyFrameBuffer(&frame);
}

TEST(FrameBuffer, EdgeRectsSaveExactlyTheirPixelsAndRestoreBitExact) {
  const int32_t width = 1023, height = 20;
  FrameBuffer frame{};
  ASSERT_EQ(CreateFrameBuffer(&frame, width, height), 0);
  Fill(&frame);
  const PixelSurface s = FrameSurface(&frame);
  const std::vector<Pixel555> snapshot(s.pixels, s.pixels + s.stride * height);
  const Rect edge{width - 3, 16, width, height};
  std::vector<Pixel555> saved(3 * 4 + 1, 0xBEEF);
  SaveRect(&frame, edge, saved.data());
  EXPECT_EQ(saved.back(), 0xBEEF);
  for (int32_t i = 0; i < 12; ++i) EXPECT_EQ(saved[i], Marker(width - 3 + i % 3, 16 + i / 3));
  for (int32_t y = edge.top; y < height; ++y)
    for (int32_t x = edge.left; x < width; ++x) s.pixels[y * s.stride + x] = 0x7FFF;
  RestoreRect(&frame, edge, saved.data());
  EXPECT_TRUE(std::equal(snapshot.begin(), snapshot.end(), s.pixels));
  DestroyFrameBuffer(&frame);
}

// A top-most window of known colours at a known place; Wine's desktop
// capture sees real X windows, so this is what the screen shows there. The
// colours' low bits, which the 5-5-5 snapshot drops, are set: the exact copy
// must keep them.
constexpr int32_t kLeft = 200, kTop = 150, kWidth = 64, kHeight = 48;
struct Quadrant { COLORREF colour; Pixel555 pixel; uint32_t exact; };
const Quadrant kQuadrants[4] = {{RGB(255, 0, 0), 0x7C00, 0xFF0000},     // top left
                                {RGB(0, 253, 0), 0x03E0, 0x00FD00},     // top right
                                {RGB(0, 0, 250), 0x001F, 0x0000FA},     // bottom left
                                {RGB(131, 66, 13), 0x4101, 0x83420D}};  // bottom right

LRESULT CALLBACK PatternProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    for (int i = 0; i < 4; ++i) {
      const RECT r = {(i & 1) * kWidth / 2, (i >> 1) * kHeight / 2, (i & 1 ? kWidth : kWidth / 2),
                      (i & 2 ? kHeight : kHeight / 2)};
      HBRUSH brush = CreateSolidBrush(kQuadrants[i].colour);
      FillRect(dc, &r, brush);
      DeleteObject(brush);
    }
    EndPaint(window, &ps);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

const Quadrant& QuadrantAt(int32_t x, int32_t y) { return kQuadrants[(x >= kWidth / 2) + 2 * (y >= kHeight / 2)]; }

// Pattern pixels that differ in the snapshot, and in the copy when there is one.
int32_t Mismatches(const FrameBuffer* frame, const FrameBuffer* copy) {
  const PixelSurface s = FrameSurface(frame);
  const CopySurface c = CopyFrameSurface(copy);
  int32_t wrong = 0;
  for (int32_t y = 0; y < kHeight; ++y)
    for (int32_t x = 0; x < kWidth; ++x) {
      wrong += s.pixels[(kTop + y) * s.stride + kLeft + x] != QuadrantAt(x, y).pixel;
      if (copy->bitmap) wrong += (c.pixels[(kTop + y) * c.width + kLeft + x] & 0xFFFFFF) != QuadrantAt(x, y).exact;
    }
  return wrong;
}

// The copy's pattern drawn at its own place into a 32-bit bitmap: every bit.
int32_t PresentedMismatches(const FrameBuffer* copy) {
  const CopySurface c = CopyFrameSurface(copy);
  BITMAPINFOHEADER header = {sizeof header, c.width, -c.height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits,
                                    nullptr, 0);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ previous = SelectObject(dc, bitmap);
  const Rect pattern{kLeft, kTop, kLeft + kWidth, kTop + kHeight};
  PresentRect(copy, dc, pattern, pattern.left, pattern.top);
  GdiFlush();
  int32_t wrong = 0;
  const uint32_t* drawn = static_cast<const uint32_t*>(bits);
  for (int32_t y = 0; y < c.height; ++y)
    for (int32_t x = 0; x < c.width; ++x) {
      const bool inside = x >= pattern.left && x < pattern.right && y >= pattern.top && y < pattern.bottom;
      const size_t at = static_cast<size_t>(y) * c.width + x;
      wrong += (drawn[at] & 0xFFFFFF) != (inside ? QuadrantAt(x - kLeft, y - kTop).exact : 0u);
    }
  SelectObject(dc, previous);
  DeleteDC(dc);
  DeleteObject(bitmap);
  return wrong;
}

TEST(FrameBuffer, CaptureSeesTheScreenAndSaveRestoreGivesItBack) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = PatternProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "GlmireCapturePattern";
  RegisterClassA(&wc);
  HWND window = CreateWindowExA(WS_EX_TOPMOST, wc.lpszClassName, "pattern", WS_POPUP | WS_VISIBLE,
                                kLeft, kTop, kWidth, kHeight, nullptr, nullptr, wc.hInstance, nullptr);
  ASSERT_NE(window, nullptr);
  UpdateWindow(window);

  for (const bool withCopy : {false, true}) {
    SCOPED_TRACE(withCopy ? "snapshot made from the exact copy" : "snapshot alone");
    // Wine puts window surfaces on screen lazily: look again until it is there.
    FrameBuffer frame{}, copy{};
    int32_t wrong = -1;
    for (int attempt = 0; attempt < 40 && wrong != 0; ++attempt) {
      DestroyFrameBuffer(&frame);
      DestroyFrameBuffer(&copy);
      InvalidateRect(window, nullptr, FALSE);
      Pump(50);
      if (withCopy) {
        ASSERT_EQ(CaptureScreenCopy(&copy), 0);
        ASSERT_EQ(SnapshotFromCopy(&frame, &copy), 0);
      } else {
        ASSERT_EQ(CaptureScreen(&frame), 0);
      }
      wrong = Mismatches(&frame, &copy);
    }
    EXPECT_EQ(wrong, 0) << "pixels of the pattern window differ in the capture";
    EXPECT_EQ(frame.header.biWidth, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(frame.header.biHeight, -GetSystemMetrics(SM_CYSCREEN));
    if (withCopy) {
      ASSERT_NE(copy.bitmap, nullptr);
      EXPECT_EQ(copy.header.biBitCount, 32);
      EXPECT_EQ(copy.header.biWidth, frame.header.biWidth);
      EXPECT_EQ(copy.header.biHeight, frame.header.biHeight);
      EXPECT_EQ(PresentedMismatches(&copy), 0) << "the copy is not drawn back bit for bit";
    }

    PixelSurface s = FrameSurface(&frame);
    const std::vector<Pixel555> snapshot(s.pixels, s.pixels + s.stride * s.height);
    const Rect patch{kLeft - 10, kTop - 10, kLeft + kWidth + 10, kTop + kHeight + 10};
    std::vector<Pixel555> saved(static_cast<size_t>((kWidth + 20) * (kHeight + 20)));
    SaveRect(&frame, patch, saved.data());
    for (int32_t y = patch.top; y < patch.bottom; ++y)
      for (int32_t x = patch.left; x < patch.right; ++x) s.pixels[y * s.stride + x] ^= 0x5555;
    RestoreRect(&frame, patch, saved.data());
    EXPECT_TRUE(std::equal(snapshot.begin(), snapshot.end(), s.pixels)) << "restore is not bit-exact";

    DestroyFrameBuffer(&copy);
    DestroyFrameBuffer(&frame);
  }
  DestroyWindow(window);
  UnregisterClassA(wc.lpszClassName, wc.hInstance);
}

// A screen whose every pixel names its row and column: the capture copies the
// screen a band of rows at a time, and a band put at the wrong rows, cut short
// or shifted sideways shows as pixels out of place.
uint32_t PlaceColour(int32_t x, int32_t y) {
  return static_cast<uint32_t>((y & 0xFF) << 16 | ((y >> 8 & 0xF) << 4 | (x & 0xF)) << 8 | (x >> 4 & 0xFF));
}

std::vector<uint32_t>* placePicture;

LRESULT CALLBACK PlaceProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    const int32_t w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    BITMAPINFOHEADER header = {sizeof header, w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    SetDIBitsToDevice(dc, 0, 0, static_cast<DWORD>(w), static_cast<DWORD>(h), 0, 0, 0, static_cast<UINT>(h),
                      placePicture->data(), reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS);
    EndPaint(window, &ps);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

// Pixels of the whole screen that are not the place picture: exactly in the
// copy, as the 5-5-5 value of each channel in the snapshot.
int64_t PlaceMismatches(const FrameBuffer* frame, bool exact) {
  const int32_t w = frame->header.biWidth, h = -frame->header.biHeight;
  int64_t wrong = 0;
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const uint32_t colour = PlaceColour(x, y);
      if (exact) {
        wrong += (CopyFrameSurface(frame).pixels[static_cast<size_t>(y) * w + x] & 0xFFFFFF) != colour;
      } else {
        const PixelSurface s = FrameSurface(frame);
        const uint32_t r = colour >> 19 & 31, g = colour >> 11 & 31, b = colour >> 3 & 31;
        wrong += s.pixels[static_cast<size_t>(y) * s.stride + x] != static_cast<Pixel555>(r << 10 | g << 5 | b);
      }
    }
  return wrong;
}

TEST(FrameBuffer, CapturesOfTheWholeScreenPutEveryRowInItsPlace) {
  const int32_t w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
  std::vector<uint32_t> picture(static_cast<size_t>(w) * h);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) picture[static_cast<size_t>(y) * w + x] = PlaceColour(x, y);
  placePicture = &picture;
  WNDCLASSA wc = {};
  wc.lpfnWndProc = PlaceProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "GlmireCapturePlaces";
  RegisterClassA(&wc);
  HWND window = CreateWindowExA(WS_EX_TOPMOST, wc.lpszClassName, "places", WS_POPUP | WS_VISIBLE, 0, 0, w, h,
                                nullptr, nullptr, wc.hInstance, nullptr);
  ASSERT_NE(window, nullptr);
  UpdateWindow(window);

  const struct {
    const char* what;
    int32_t (*capture)(FrameBuffer*);
    bool exact;
  } kCaptures[] = {{"the exact copy", CaptureScreenCopy, true}, {"the 5-5-5 snapshot", CaptureScreen, false}};
  for (const auto& c : kCaptures) {
    SCOPED_TRACE(c.what);
    FrameBuffer frame{};
    int64_t wrong = -1;
    for (int attempt = 0; attempt < 40 && wrong != 0; ++attempt) {
      DestroyFrameBuffer(&frame);
      InvalidateRect(window, nullptr, FALSE);
      Pump(50);
      ASSERT_EQ(c.capture(&frame), 0);
      wrong = PlaceMismatches(&frame, c.exact);
    }
    EXPECT_EQ(wrong, 0) << "pixels of the screen out of place in the capture";
    DestroyFrameBuffer(&frame);
  }
  DestroyWindow(window);
  UnregisterClassA(wc.lpszClassName, wc.hInstance);
  placePicture = nullptr;
}

}  // namespace
