#include "effect/frame_buffer.h"

#include <cstddef>

#include "effect/system_version.h"

namespace {

// A top-down section of 16 (5-5-5) or 32 bits a pixel into frame.
int32_t CreateSection(FrameBuffer* frame, int32_t width, int32_t height, WORD bitCount) {
  // Sizes whose rows cannot be addressed are refused before GDI sees them.
  const int32_t bytes = bitCount == 16 ? SurfaceByteCount(width, height) : CopySurfaceByteCount(width, height);
  if (bytes == 0) return -1;
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof header;
  header.biWidth = width;
  header.biHeight = -height;  // top-down: row 0 is the top row
  header.biPlanes = 1;
  header.biBitCount = bitCount;  // uncompressed 16-bit is 5-5-5
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

// Bytes of one row of the frame's section: GDI pads rows to 4 bytes.
size_t RowBytes(const BITMAPINFOHEADER* header) {
  return (static_cast<size_t>(header->biWidth) * header->biBitCount + 31) / 32 * 4;
}

}  // namespace

int32_t CreateFrameBuffer(FrameBuffer* frame, int32_t width, int32_t height) {
  return CreateSection(frame, width, height, 16);
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

namespace {

// Rows copied at once: up to this many bytes of the section.
constexpr size_t kBandBytes = 240 * 1024;

// Copies from into frame's whole section, GDI converting the pixels on the
// way; from's (fromX, fromY) lands on the section's top-left. false when no
// memory context could be had. The copy goes a band of rows at a time: Wine
// reads the screen for one blit in one piece (the X server builds the whole
// reply, and it is read and copied on in freshly allocated memory), so every
// pixel lands in pages touched for the first time three or four times over.
// For a screen of 4K that made the capture ten times as slow as the copying
// it does; bands of a quarter megabyte go through buffers that are used again
// from band to band, and follow each other within milliseconds.
// rop is how from is read (SRCCOPY with or without CAPTUREBLT); a band the
// system refuses with the flag is read again, and the rest too, without it,
// so the copy is never left black where a plain read would have worked.
bool BlitInto(const FrameBuffer* frame, HDC from, int32_t fromX, int32_t fromY, DWORD rop) {
  HDC memory = CreateCompatibleDC(from);
  if (memory == nullptr) return false;
  HGDIOBJ previous = SelectObject(memory, frame->bitmap);
  const int32_t width = frame->header.biWidth;
  const int32_t height = -frame->header.biHeight;
  const size_t rowBytes = RowBytes(&frame->header);
  const int32_t band = rowBytes >= kBandBytes ? 1 : static_cast<int32_t>(kBandBytes / rowBytes);
  for (int32_t top = 0; top < height; top += band) {
    const int32_t rows = height - top < band ? height - top : band;
    if (!BitBlt(memory, 0, top, width, rows, from, fromX, fromY + top, rop) && rop != SRCCOPY) {
      rop = SRCCOPY;
      BitBlt(memory, 0, top, width, rows, from, fromX, fromY + top, rop);
    }
  }
  // Selecting the section out also makes GDI finish the copy before its
  // pixels are read.
  SelectObject(memory, previous);
  DeleteDC(memory);
  return true;
}

// Layered windows (translucent notifications, drop shadows, gadgets) are
// drawn into a screen read only when it asks for them with CAPTUREBLT; they
// and the flag exist from NT 5.0 (2000) on. The 9x family and NT 4.0 get the
// plain copy they know.
constexpr DWORD kCaptureBlt = 0x40000000;

DWORD ScreenReadRop() { return NtMajorVersion() >= 5 ? SRCCOPY | kCaptureBlt : SRCCOPY; }

// Creates frame at the size of SaverScreenRect, 16 (5-5-5) or 32 bits a
// pixel, and copies that part of the screen into it; GDI converts the
// display's pixels on the way. 0, or -1 with nothing held.
int32_t CaptureSection(FrameBuffer* frame, WORD bitCount) {
  const Rect area = SaverScreenRect();
  if (CreateSection(frame, area.right - area.left, area.bottom - area.top, bitCount) != 0) return -1;
  HWND desktop = GetDesktopWindow();
  HDC screen = GetWindowDC(desktop);
  bool copied = false;
  if (screen != nullptr) {
    // The desktop's window context counts from the desktop window's corner,
    // which systems place differently (the primary monitor's, or the virtual
    // screen's): the copy starts at the area's corner as seen from there.
    RECT origin = {};
    GetWindowRect(desktop, &origin);
    copied = BlitInto(frame, screen, area.left - origin.left, area.top - origin.top, ScreenReadRop());
    ReleaseDC(desktop, screen);
  }
  if (copied) return 0;
  DestroyFrameBuffer(frame);
  return -1;
}

// Fills frame from another section of the same size; GDI converts between
// their depths.
bool ConvertInto(const FrameBuffer* frame, const FrameBuffer* from) {
  HDC source = CreateCompatibleDC(nullptr);
  if (source == nullptr) return false;
  HGDIOBJ previous = SelectObject(source, from->bitmap);
  const bool copied = BlitInto(frame, source, 0, 0, SRCCOPY);
  SelectObject(source, previous);
  DeleteDC(source);
  return copied;
}

}  // namespace

int32_t CaptureScreen(FrameBuffer* frame) { return CaptureSection(frame, 16); }

int32_t CaptureScreenCopy(FrameBuffer* copy) { return CaptureSection(copy, 32); }

int32_t SnapshotFromCopy(FrameBuffer* frame, const FrameBuffer* copy) {
  if (copy->bitmap == nullptr || CreateFrameBuffer(frame, copy->header.biWidth, -copy->header.biHeight) != 0)
    return -1;
  if (ConvertInto(frame, copy)) return 0;
  DestroyFrameBuffer(frame);
  return -1;
}

PixelSurface FrameSurface(const FrameBuffer* frame) {
  const int32_t width = frame->header.biWidth;
  return PixelSurface{width, -frame->header.biHeight, SurfaceStride(width), frame->pixels};
}

CopySurface CopyFrameSurface(const FrameBuffer* copy) {
  return CopySurface{copy->header.biWidth, -copy->header.biHeight, reinterpret_cast<uint32_t*>(copy->pixels)};
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
  const uint8_t* first =
      reinterpret_cast<const uint8_t*>(frame->pixels) + static_cast<size_t>(srcY) * RowBytes(&frame->header);
  StretchDIBits(dc, rect.left, rect.top, w, h, srcX, 0, w, h, first, reinterpret_cast<const BITMAPINFO*>(&rows),
                DIB_RGB_COLORS, SRCCOPY);
  return 0;
}
