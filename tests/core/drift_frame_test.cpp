#include "effect/drift_frame.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "effect/shade_kernels.h"

namespace {

// What one frame must look like from the presenter's seat.
struct Watch {
  const ShadeMap* map;
  Rect patch, clip, lastClip;
  int presents;
  int failures;
  // The picture as it was and as it is being presented: the 5-5-5 snapshot,
  // or (copy set) the screen's exact copy.
  const std::vector<Pixel555>* snapshot;
  PixelSurface* surface;
  const std::vector<uint32_t>* screen;
  CopySurface* copy;
};

void Fail(Watch* w, const char* what) {
  if (w->failures++ < 5) ADD_FAILURE() << what << " (frame " << w->presents << ")";
}

// The reference loop on a copy of the clean picture is what the clip must
// show; every other element, padding included, must be the picture's own:
// the old patch's place above all.
template <typename P, typename S, typename Kernel, typename Table>
void CheckPicture(Watch* w, const std::vector<P>& clean, S* surface, Kernel kernel, const Table* table) {
  std::vector<P> expected = clean;
  S reference = *surface;
  reference.pixels = expected.data();
  kernel(&reference, w->clip, w->map, w->clip.left - w->patch.left, w->clip.top - w->patch.top, table);
  for (size_t i = 0; i < expected.size(); ++i)
    if (surface->pixels[i] != expected[i]) {
      Fail(w, "a pixel outside the patch changed, or the patch is not shaded by the rule");
      return;
    }
}

void CheckPresented(void* context, Rect dirty) {
  auto* w = static_cast<Watch*>(context);
  ++w->presents;
  if (!(dirty == RectUnion(w->clip, w->lastClip))) Fail(w, "dirty is not this clip joined with the last");
  if (w->copy)
    CheckPicture(w, *w->screen, w->copy, ShadeCopyRectTable, BuildChannelShadeTable());
  else
    CheckPicture(w, *w->snapshot, w->surface, ShadeRectTable, BuildShadeTable());
}

TEST(DriftFrame, HundredsOfFramesTouchOnlyThePatchAndLeaveThePictureClean) {
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
    SCOPED_TRACE(withCopy ? "shading the exact copy" : "shading the snapshot");
    const int32_t stride = SurfaceStride(k.width);
    std::vector<Pixel555> pixels(static_cast<size_t>(stride) * k.height);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<Pixel555>(i * 2654435761u >> 16);
    const std::vector<Pixel555> snapshot = pixels;
    PixelSurface surface{k.width, k.height, stride, pixels.data()};
    std::vector<uint8_t> grays(static_cast<size_t>(k.mapW) * k.mapH);
    for (size_t i = 0; i < grays.size(); ++i) grays[i] = static_cast<uint8_t>(i * 37 + 11);
    const ShadeMap map{k.mapW, k.mapH, grays.data()};
    // Exactly the size the step is promised: the sanitizers see any overrun.
    std::vector<Pixel555> save(static_cast<size_t>(DriftSaveBufferCount(k.width, k.height, &map, 2)));

    // The screen as it was, every bit of all four bytes in use.
    std::vector<uint32_t> screen(static_cast<size_t>(k.width) * k.height);
    for (size_t i = 0; i < screen.size(); ++i) screen[i] = static_cast<uint32_t>(i * 2246822519u + 0x9E3779B9u);
    std::vector<uint32_t> copyPixels = screen;
    CopySurface copy{k.width, k.height, copyPixels.data()};
    std::vector<uint32_t> copySave(static_cast<size_t>(DriftSaveBufferCount(k.width, k.height, &map, 4)));

    Watch watch{&map, {}, {}, {}, 0, 0, &snapshot, &surface, &screen, withCopy ? &copy : nullptr};
    SeedRandom(k.seed);
    int32_t sx = static_cast<int32_t>(NextRandom() % static_cast<uint32_t>(k.width));
    int32_t sy = static_cast<int32_t>(NextRandom() % static_cast<uint32_t>(k.height));
    DriftFrame frame{&map, {}, {}, DriftStartRect(sx, sy), CheckPresented, &watch};
    if (withCopy)
      frame.copy = CopyPicture{&copy, BuildChannelShadeTable(), copySave.data()};
    else
      frame.snapshot = SnapshotPicture{&surface, BuildShadeTable(), save.data()};
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

TEST(DriftFrame, SaveBufferHoldsTheMapCutToThePicture) {
  struct Case { int32_t width, height, mapW, mapH, elementBytes, count; };
  const Case cases[] = {{1024, 768, 64, 64, 2, 64 * 64},         {1024, 768, 8192, 4096, 2, 1024 * 768},
                        {1024, 768, 2000, 32, 4, 1024 * 32},     {0, 768, 64, 64, 2, 0},
                        {1024, 768, 0, 64, 4, 0},                {65536, 65536, 65536, 32768, 2, 0},
                        // 2^29 elements: room at 2 bytes a pixel, none at 4.
                        {32768, 16384, 32768, 16384, 2, 1 << 29}, {32768, 16384, 32768, 16384, 4, 0}};
  for (const Case& k : cases) {
    const ShadeMap map{k.mapW, k.mapH, nullptr};
    EXPECT_EQ(DriftSaveBufferCount(k.width, k.height, &map, k.elementBytes), k.count)
        << k.width << "x" << k.height << " map " << k.mapW << "x" << k.mapH << " at " << k.elementBytes;
  }
}

}  // namespace
