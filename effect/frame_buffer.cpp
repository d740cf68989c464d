#include "effect/frame_buffer.h"

#include <cstddef>

int32_t CreateFrameBuffer(FrameBuffer* frame, int32_t width, int32_t height) {
  // Sizes whose padded rows cannot be addressed are refused before GDI sees them.
  if (SurfaceByteCount(width, height) == 0) return -1;
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof header;
  header.biWidth = width;
  header.biHeight = -height;  // top-down: row 0 is the top row
  header.biPlanes = 1;
  header.biBitCount = 16;     // uncompressed 16-bit is 5-5-5
  header.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, reinterpret_cast<const BITMAPINFO*>(&header),
                                    DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap) return -1;
  if (!bits) {
    DeleteObject(bitmap);
    return -1;
  }
  frame->header = header;
  frame->bitmap = bitmap;
  frame->pixels = static_cast<Pixel555*>(bits);
  return 0;
}

BOOL DestroyFrameBuffer(FrameBuffer* frame) {
  const BOOL deleted = frame->bitmap ? DeleteObject(frame->bitmap) : FALSE;
  *frame = FrameBuffer{};
  return deleted;
}

namespace {

// The headers are pinned to the oldest systems, which know one monitor only;
// there these metrics read 0.
constexpr int kSmXVirtualScreen = 76;
constexpr int kSmYVirtualScreen = 77;
constexpr int kSmCxVirtualScreen = 78;
constexpr int kSmCyVirtualScreen = 79;
constexpr int kSmCMonitors = 80;

}  // namespace

Rect SaverScreenRect() {
  if (GetSystemMetrics(kSmCMonitors) > 1) {
    const int64_t left = GetSystemMetrics(kSmXVirtualScreen);
    const int64_t top = GetSystemMetrics(kSmYVirtualScreen);
    const int64_t width = GetSystemMetrics(kSmCxVirtualScreen);
    const int64_t height = GetSystemMetrics(kSmCyVirtualScreen);
    if (width > 0 && height > 0 && left + width <= INT32_MAX && top + height <= INT32_MAX)
      return Rect{static_cast<int32_t>(left), static_cast<int32_t>(top), static_cast<int32_t>(left + width),
                  static_cast<int32_t>(top + height)};
  }
  return Rect{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

int32_t CaptureScreen(FrameBuffer* frame) {
  const Rect area = SaverScreenRect();
  const int32_t width = area.right - area.left;
  const int32_t height = area.bottom - area.top;
  if (CreateFrameBuffer(frame, width, height) != 0) return -1;
  HWND desktop = GetDesktopWindow();
  HDC screen = GetWindowDC(desktop);
  int32_t result = -1;
  HDC memory = screen ? CreateCompatibleDC(screen) : nullptr;
  if (memory) {
    HGDIOBJ previous = SelectObject(memory, frame->bitmap);
    // The desktop's window context counts from the desktop window's corner,
    // which systems place differently (the primary monitor's, or the virtual
    // screen's): the copy starts at the area's corner as seen from there.
    RECT origin = {};
    GetWindowRect(desktop, &origin);
    // GDI converts the display's pixels to 5-5-5 during the copy.
    BitBlt(memory, 0, 0, width, height, screen, area.left - origin.left, area.top - origin.top, SRCCOPY);
    SelectObject(memory, previous);
    DeleteDC(memory);
    result = 0;
  } else {
    DestroyFrameBuffer(frame);
  }
  if (screen) ReleaseDC(desktop, screen);
  return result;
}

PixelSurface FrameSurface(const FrameBuffer* frame) {
  const int32_t width = frame->header.biWidth;
  return PixelSurface{width, -frame->header.biHeight, SurfaceStride(width), frame->pixels};
}

void SaveRect(const FrameBuffer* frame, Rect rect, Pixel555* buffer) {
  const PixelSurface surface = FrameSurface(frame);
  SaveSurfaceRect(&surface, rect, buffer);
}

void RestoreRect(FrameBuffer* frame, Rect rect, const Pixel555* buffer) {
  PixelSurface surface = FrameSurface(frame);
  RestoreSurfaceRect(&surface, rect, buffer);
}

int32_t PresentRect(const FrameBuffer* frame, HDC dc, Rect rect, int32_t srcX, int32_t srcY) {
  const int32_t w = rect.right - rect.left;
  const int32_t h = rect.bottom - rect.top;
  if (w <= 0 || h <= 0) return 0;
  // The rows srcY ... srcY + h - 1 are handed over as an image of their own,
  // drawn whole. For a part of a top-down image the platforms disagree on
  // where the source's y counts from (Wine reads from the top when the part
  // reaches the bottom row, so a patch in the bottom-left corner would show
  // the top of the screen); for a whole image every reading is the same.
  BITMAPINFOHEADER rows = frame->header;
  rows.biHeight = -h;
  const Pixel555* first = frame->pixels + static_cast<size_t>(srcY) * SurfaceStride(frame->header.biWidth);
  StretchDIBits(dc, rect.left, rect.top, w, h, srcX, 0, w, h, first, reinterpret_cast<const BITMAPINFO*>(&rows),
                DIB_RGB_COLORS, SRCCOPY);
  return 0;
}
