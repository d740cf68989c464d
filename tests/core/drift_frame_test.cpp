#include "effect/drift_frame.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "effect/shade_kernels.h"

namespace {

// What one frame must look like from the presenter's seat.
struct Watch {
  const std::vector<Pixel555>* snapshot;
  PixelSurface* surface;
  const ShadeMap* map;
  Rect patch, clip, lastClip;
  int presents;
  int failures;
  // With an exact copy: the screen as it was, and the copy being presented.
  const std::vector<uint32_t>* screen;
  CopySurface* copy;
};

void Fail(Watch* w, const char* what) {
  if (w->failures++ < 5) ADD_FAILURE() << what << " (frame " << w->presents << ")";
}

void CheckPresented(void* context, Rect dirty) {
  auto* w = static_cast<Watch*>(context);
  ++w->presents;
  if (!(dirty == RectUnion(w->clip, w->lastClip))) Fail(w, "dirty is not this clip joined with the last");
  // The reference loop on a copy of the snapshot is what the clip must show;
  // every other element, padding included, must be the snapshot's.
  std::vector<Pixel555> expected = *w->snapshot;
  PixelSurface reference = *w->surface;
  reference.pixels = expected.data();
  ShadeRectTable(&reference, w->clip, w->map, w->clip.left - w->patch.left, w->clip.top - w->patch.top,
                 BuildShadeTable());
  const Pixel555* seen = w->surface->pixels;
  for (size_t i = 0; i < expected.size(); ++i)
    if (seen[i] != expected[i]) {
      Fail(w, "a pixel outside the patch changed, or the patch is not shaded by the rule");
      break;
    }
  if (w->copy == nullptr) return;
  // What is drawn comes from the copy: the patch widened from the shaded
  // snapshot, and everything else, the old patch's place above all, exactly
  // the screen as it was.
  const ChannelExpansion wide = ReplicatedExpansion();
  for (int32_t y = 0; y < w->copy->height; ++y)
    for (int32_t x = 0; x < w->copy->width; ++x) {
      const size_t at = static_cast<size_t>(y) * w->copy->width + x;
      const bool inPatch = x >= w->clip.left && x < w->clip.right && y >= w->clip.top && y < w->clip.bottom;
      const Pixel555 p = expected[static_cast<size_t>(y) * w->surface->stride + x];
      const uint32_t want = inPatch ? static_cast<uint32_t>(wide.red[p >> 10 & 31]) << 16 |
                                          static_cast<uint32_t>(wide.green[p >> 5 & 31]) << 8 | wide.blue[p & 31]
                                    : (*w->screen)[at];
      if (w->copy->pixels[at] != want) {
        const bool inDirty = x >= dirty.left && x < dirty.right && y >= dirty.top && y < dirty.bottom;
        Fail(w, inPatch ? "the copy's patch is not the shaded snapshot widened"
                : inDirty ? "the old patch's place is not the exact screen"
                          : "the copy changed outside the drawn area");
        return;
      }
    }
}

TEST(DriftFrame, HundredsOfFramesTouchOnlyThePatchAndLeaveTheSnapshotClean) {
  struct Case {
    const char* name;
    int32_t width, height, mapW, mapH;
    uint32_t seed;
  };
  const Case cases[] = {
      {"small map on an even surface", 48, 36, 16, 12, 7},
      {"odd width (padded rows)", 37, 29, 12, 10, 99},
      {"map wider and taller than the surface", 20, 14, 32, 24, 5},
      {"map wider, not taller", 30, 40, 44, 8, 12345},
  };
  for (const bool withCopy : {false, true})
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    SCOPED_TRACE(withCopy ? "presenting the exact copy" : "presenting the snapshot");
    const int32_t stride = SurfaceStride(k.width);
    std::vector<Pixel555> pixels(static_cast<size_t>(stride) * k.height);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<Pixel555>(i * 2654435761u >> 16);
    const std::vector<Pixel555> snapshot = pixels;
    PixelSurface surface{k.width, k.height, stride, pixels.data()};
    std::vector<uint8_t> grays(static_cast<size_t>(k.mapW) * k.mapH);
    for (size_t i = 0; i < grays.size(); ++i) grays[i] = static_cast<uint8_t>(i * 37 + 11);
    const ShadeMap map{k.mapW, k.mapH, grays.data()};
    // Exactly the size the step is promised: the sanitizers see any overrun.
    std::vector<Pixel555> save(static_cast<size_t>(DriftSaveBufferCount(&surface, &map)));

    // The screen as it was: the low bits the snapshot lost are set, so a
    // copy that was put back from the snapshot would show.
    std::vector<uint32_t> screen(static_cast<size_t>(k.width) * k.height);
    for (size_t i = 0; i < screen.size(); ++i) screen[i] = static_cast<uint32_t>(i * 2246822519u) >> 8 | 0x070307;
    std::vector<uint32_t> copyPixels = screen;
    CopySurface copy{k.width, k.height, copyPixels.data()};
    std::vector<uint32_t> copySave(save.size());
    const ChannelExpansion wide = ReplicatedExpansion();
    const ExactCopy exact{&copy, copySave.data(), &wide};

    Watch watch{&snapshot, &surface, &map, {}, {}, {}, 0, 0, &screen, withCopy ? &copy : nullptr};
    SeedRandom(k.seed);
    int32_t sx = static_cast<int32_t>(NextRandom() % static_cast<uint32_t>(k.width));
    int32_t sy = static_cast<int32_t>(NextRandom() % static_cast<uint32_t>(k.height));
    DriftFrame frame{&surface, &map, BuildShadeTable(), save.data(), DriftStartRect(sx, sy), CheckPresented,
                     &watch, withCopy ? &exact : nullptr};
    watch.clip = frame.prev;
    int frames = 0;
    while (frames < 300 && watch.failures == 0) {
      const int32_t tx = static_cast<int32_t>(NextRandom() % static_cast<uint32_t>(k.width));
      const int32_t ty = static_cast<int32_t>(NextRandom() % static_cast<uint32_t>(k.height));
      DriftSegment segment = BeginSegment(sx, sy, tx, ty);
      for (int32_t i = 0; i < segment.steps && frames < 300; ++i, AdvanceSegment(&segment)) {
        watch.lastClip = watch.clip;
        watch.patch = PatchRect(&segment, k.mapW, k.mapH);
        watch.clip = RectIntersection(watch.patch, Rect{0, 0, k.width, k.height});
        StepDriftFrame(&frame, &segment);
        ++frames;
        ASSERT_EQ(watch.presents, frames) << "one present per frame";
        ASSERT_TRUE(pixels == snapshot) << "frame " << frames << " left the snapshot changed";
        ASSERT_TRUE(copyPixels == screen) << "frame " << frames << " left the copy changed";
        ASSERT_TRUE(frame.prev == watch.clip);
      }
      sx = tx;
      sy = ty;
    }
    EXPECT_EQ(watch.failures, 0);
    EXPECT_EQ(frames, 300);
  }
}

TEST(DriftFrame, SaveBufferHoldsTheMapCutToTheSurface) {
  struct Case { int32_t width, height, mapW, mapH, count; };
  const Case cases[] = {{1024, 768, 64, 64, 64 * 64},     {1024, 768, 8192, 4096, 1024 * 768},
                        {1024, 768, 2000, 32, 1024 * 32}, {0, 768, 64, 64, 0},
                        {1024, 768, 0, 64, 0},            {65536, 65536, 65536, 32768, 0}};
  for (const Case& k : cases) {
    const PixelSurface surface{k.width, k.height, SurfaceStride(k.width), nullptr};
    const ShadeMap map{k.mapW, k.mapH, nullptr};
    EXPECT_EQ(DriftSaveBufferCount(&surface, &map), k.count) << k.width << "x" << k.height << " map "
                                                              << k.mapW << "x" << k.mapH;
  }
}

}  // namespace
