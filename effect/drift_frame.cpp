#include "effect/drift_frame.h"

int32_t DriftSaveBufferCount(const PixelSurface* surface, const ShadeMap* map) {
  if (surface->width <= 0 || surface->height <= 0 || map->width <= 0 || map->height <= 0) return 0;
  const int64_t w = map->width < surface->width ? map->width : surface->width;
  const int64_t h = map->height < surface->height ? map->height : surface->height;
  const int64_t count = w * h;
  // The ledger takes byte counts as signed 32-bit numbers.
  return count <= INT32_MAX / static_cast<int64_t>(sizeof(Pixel555)) ? static_cast<int32_t>(count) : 0;
}

Rect DriftStartRect(int32_t sx, int32_t sy) { return Rect{sx, sy, sx + 1, sy + 1}; }

void StepDriftFrame(DriftFrame* frame, const DriftSegment* segment) {
  const Rect bounds{0, 0, frame->surface->width, frame->surface->height};
  const Rect patch = PatchRect(segment, frame->map->width, frame->map->height);
  const Rect clip = RectIntersection(patch, bounds);
  SaveSurfaceRect(frame->surface, clip, frame->saveBuffer);
  ShadeRect(frame->surface, clip, frame->map, clip.left - patch.left, clip.top - patch.top, frame->table);
  const ExactCopy* exact = frame->exact;
  if (exact) {
    SaveCopyRect(exact->surface, clip, exact->saveBuffer);
    ExpandRect(frame->surface, clip, exact->surface, exact->expansion);
  }
  // The new patch and the place of the old one, already clean in the
  // snapshot (and exact in the copy), reach the screen in one call.
  frame->present(frame->context, RectUnion(clip, frame->prev));
  if (exact) RestoreCopyRect(exact->surface, clip, exact->saveBuffer);
  RestoreSurfaceRect(frame->surface, clip, frame->saveBuffer);
  frame->prev = clip;
}
