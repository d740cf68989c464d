#include "effect/drift_frame.h"

int32_t DriftSaveBufferCount(int32_t width, int32_t height, const ShadeMap* map, int32_t elementBytes) {
  if (width <= 0 || height <= 0 || map->width <= 0 || map->height <= 0 || elementBytes <= 0) return 0;
  const int64_t w = map->width < width ? map->width : width;
  const int64_t h = map->height < height ? map->height : height;
  const int64_t count = w * h;
  return count <= INT32_MAX / elementBytes ? static_cast<int32_t>(count) : 0;
}

Rect DriftBounds(const DriftFrame* frame) {
  if (frame->copy.surface) return Rect{0, 0, frame->copy.surface->width, frame->copy.surface->height};
  return Rect{0, 0, frame->snapshot.surface->width, frame->snapshot.surface->height};
}

Rect DriftStartRect(int32_t sx, int32_t sy) { return Rect{sx, sy, sx + 1, sy + 1}; }

void StepDriftFrame(DriftFrame* frame, const DriftSegment* segment) {
  const Rect patch = PatchRect(segment, frame->map->width, frame->map->height);
  const Rect clip = RectIntersection(patch, DriftBounds(frame));
  const int32_t mapX = clip.left - patch.left, mapY = clip.top - patch.top;
  // The new patch and the place of the old one, already clean in the
  // picture, reach the screen in one call.
  const Rect dirty = RectUnion(clip, frame->prev);
  const CopyPicture& copy = frame->copy;
  if (copy.surface) {
    SaveCopyRect(copy.surface, clip, copy.saveBuffer);
    ShadeCopyRect(copy.surface, clip, frame->map, mapX, mapY, copy.table);
    frame->present(frame->context, dirty);
    RestoreCopyRect(copy.surface, clip, copy.saveBuffer);
  } else {
    const SnapshotPicture& snapshot = frame->snapshot;
    SaveSurfaceRect(snapshot.surface, clip, snapshot.saveBuffer);
    ShadeRect(snapshot.surface, clip, frame->map, mapX, mapY, snapshot.table);
    frame->present(frame->context, dirty);
    RestoreSurfaceRect(snapshot.surface, clip, snapshot.saveBuffer);
  }
  frame->prev = clip;
}
