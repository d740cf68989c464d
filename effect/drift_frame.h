// One frame of the drift: shade the patch into the snapshot, hand the changed
// area to the caller to draw, and put the snapshot back. Pure arithmetic and
// copies; the drawing is the caller's.
#pragma once
#include <cstdint>

#include "effect/drift_path.h"
#include "effect/rect.h"
#include "effect/shade_table.h"
#include "effect/surface.h"

// Draws rect of the surface (in the surface's coordinates) where the caller
// shows it.
typedef void (*PresentProc)(void* context, Rect rect);

// The screen exactly as it was, beside the 5-5-5 snapshot: what is shown of
// every pixel outside the patch.
struct ExactCopy {
  CopySurface* surface;     // the snapshot's size; exact between frames
  uint32_t* saveBuffer;     // DriftSaveBufferCount elements
  const ChannelExpansion* expansion;
};

struct DriftFrame {
  PixelSurface* surface;    // the snapshot; clean between frames
  const ShadeMap* map;
  const ShadeTable* table;
  Pixel555* saveBuffer;     // DriftSaveBufferCount elements
  Rect prev;                // the previous frame's clip, already clean again
  PresentProc present;
  void* context;
  // Null: the snapshot itself is presented. Otherwise the shaded patch is
  // widened into the copy for the present, which then shows the rest exactly.
  const ExactCopy* exact;
};

// Elements of a save buffer that holds the largest patch: the map cut to the
// surface. 0 when either is empty or the product does not fit 32 bits signed.
int32_t DriftSaveBufferCount(const PixelSurface* surface, const ShadeMap* map);

// The drift's first frame also draws the 1x1 rectangle at its start point.
Rect DriftStartRect(int32_t sx, int32_t sy);

// Draws the frame of segment's current step: the map's patch cut to the
// surface is saved, shaded, presented together with the previous frame's
// place, and restored (in the exact copy too, when there is one). Afterwards
// prev is this frame's clip.
void StepDriftFrame(DriftFrame* frame, const DriftSegment* segment);
