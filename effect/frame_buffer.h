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
// The screen exactly as it was, at the size of SaverScreenRect: a record of
// the same kind at 32 bits a pixel, which a 16-, 24- or 32-bit display takes
// back bit for bit. 0, or -1 with nothing held.
int32_t CaptureScreenCopy(FrameBuffer* copy);
// Makes frame the 5-5-5 snapshot of what copy holds, as CaptureScreen would
// have taken it then (GDI converts), for a run that cannot shade the copy
// itself. 0, or -1 with nothing held.
int32_t SnapshotFromCopy(FrameBuffer* frame, const FrameBuffer* copy);
// The frame as a surface for the shading code (rows padded to 4 bytes).
PixelSurface FrameSurface(const FrameBuffer* frame);
// A 32-bit copy as a surface.
CopySurface CopyFrameSurface(const FrameBuffer* copy);
// Copy rect (inside the frame) to / from buffer, rows packed.
void SaveRect(const FrameBuffer* frame, Rect rect, Pixel555* buffer);
void RestoreRect(FrameBuffer* frame, Rect rect, const Pixel555* buffer);
// Draws the frame's (or a copy's) rectangle of rect's size at (srcX, srcY)
// onto rect of dc, in dc's logical units. 0.
int32_t PresentRect(const FrameBuffer* frame, HDC dc, Rect rect, int32_t srcX, int32_t srcY);
