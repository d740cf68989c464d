// The frame buffer: the saver's private 16-bit (5-5-5) top-down copy of the
// screen, in a DIB section the shading code writes and GDI draws.
#pragma once
#include <windows.h>

#include <cstdint>

#include "effect/rect.h"
#include "effect/surface.h"

struct FrameBuffer {
  BITMAPINFOHEADER header;  // passed to every drawing call
  HBITMAP bitmap;
  Pixel555* pixels;
};

// 0, or -1 when the platform gives no section (the record is left as it was).
int32_t CreateFrameBuffer(FrameBuffer* frame, int32_t width, int32_t height);
// The platform's result of deleting the section; the record is zeroed either way.
BOOL DestroyFrameBuffer(FrameBuffer* frame);
// The screen the saver covers, in screen coordinates: the whole virtual
// screen where the system has several monitors, else the primary monitor.
// The full-screen window and the snapshot (and with it the drift and the save
// buffer) take their size from here alone.
Rect SaverScreenRect();
// Creates the frame at the size of SaverScreenRect and copies that part of
// the screen into it. 0, or -1 with nothing held.
int32_t CaptureScreen(FrameBuffer* frame);
// The frame as a surface for the shading code (rows padded to 4 bytes).
PixelSurface FrameSurface(const FrameBuffer* frame);
// Copy rect (inside the frame) to / from buffer, rows packed.
void SaveRect(const FrameBuffer* frame, Rect rect, Pixel555* buffer);
void RestoreRect(FrameBuffer* frame, Rect rect, const Pixel555* buffer);
// Draws the frame's rectangle of rect's size at (srcX, srcY) onto rect of dc,
// in dc's logical units. 0.
int32_t PresentRect(const FrameBuffer* frame, HDC dc, Rect rect, int32_t srcX, int32_t srcY);
