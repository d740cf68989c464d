// One frame of the drift: shade the patch into the picture, hand the changed
// area to the caller to draw, and put the picture back. Pure arithmetic and
// copies; the drawing is the caller's.
#pragma once
#include <cstdint>

#include "effect/drift_path.h"
#include "effect/rect.h"
#include "effect/shade_table.h"
#include "effect/surface.h"

// Draws rect of the picture (in the picture's coordinates) where the caller
// shows it.
typedef void (*PresentProc)(void* context, Rect rect);

// The 5-5-5 snapshot, shaded by the 5-bit rule.
struct SnapshotPicture {
  PixelSurface* surface;    // clean between frames
  const ShadeTable* table;
  Pixel555* saveBuffer;     // DriftSaveBufferCount elements
};

// The screen's exact copy, shaded by the 8-bit rule: gray 128 shows the
// screen's own pixel, and the lens keeps the display's precision.
struct CopyPicture {
  CopySurface* surface;     // exact between frames
  const ChannelShadeTable* table;
  uint32_t* saveBuffer;     // DriftSaveBufferCount elements
};

// The frame shades and presents the copy when there is one (copy.surface set),
// else the snapshot; the picture's size is the screen the patch moves on.
struct DriftFrame {
  const ShadeMap* map;
  SnapshotPicture snapshot;
  CopyPicture copy;
  Rect prev;                // the previous frame's clip, already clean again
  PresentProc present;
  void* context;
};

// Elements of a save buffer that holds the largest patch, the map cut to a
// width x height picture, at elementBytes each. 0 when either is empty or the
// buffer's bytes do not fit 32 bits signed (the ledger's byte counts).
int32_t DriftSaveBufferCount(int32_t width, int32_t height, const ShadeMap* map, int32_t elementBytes);

// The screen the patch moves on and is cut to: the frame's picture.
Rect DriftBounds(const DriftFrame* frame);

// The drift's first frame also draws the 1x1 rectangle at its start point.
Rect DriftStartRect(int32_t sx, int32_t sy);

// Draws the frame of segment's current step: the map's patch cut to the
// picture is saved, shaded, presented together with the previous frame's
// place, and restored. Afterwards prev is this frame's clip.
void StepDriftFrame(DriftFrame* frame, const DriftSegment* segment);
