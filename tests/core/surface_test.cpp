#include "effect/surface.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// An odd width, so the padded stride differs from the width.
struct Frame {
  static constexpr int32_t kWidth = 13, kHeight = 6;
  std::vector<Pixel555> pixels;
  PixelSurface view;
  Frame() : pixels(static_cast<size_t>(SurfaceStride(kWidth)) * kHeight) {
    view = PixelSurface{kWidth, kHeight, SurfaceStride(kWidth), pixels.data()};
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<Pixel555>(i * 2654435761u >> 17);
  }
  Pixel555 at(int32_t x, int32_t y) const { return pixels[static_cast<size_t>(y) * view.stride + x]; }
};

TEST(Surface, StrideAndSizeCoverPaddedRowsWithoutOverflow) {
  struct Case { int32_t width, height, stride, bytes; };
  const Case cases[] = {{1023, 768, 1024, 1024 * 2 * 768}, {1024, 1, 1024, 2048}, {1, 1, 2, 4},
                        {0, 5, 0, 0},  {-4, 5, 0, 0},     {4, 0, 4, 0},
                        {65536, 16384, 65536, 0}, {INT32_MAX, 1, 0, 0}};
  for (const Case& k : cases) {
    EXPECT_EQ(SurfaceStride(k.width), k.stride) << k.width;
    EXPECT_EQ(SurfaceByteCount(k.width, k.height), k.bytes) << k.width << "x" << k.height;
  }
  // The exact copy: 4 bytes a pixel, no padding; three 4K monitors fit.
  const Case copies[] = {{1023, 768, 0, 1023 * 4 * 768}, {11520, 2160, 0, 11520 * 4 * 2160},
                         {0, 5, 0, 0}, {5, -1, 0, 0}, {32768, 16384, 0, 0}, {INT32_MAX, 1, 0, 0}};
  for (const Case& k : copies)
    EXPECT_EQ(CopySurfaceByteCount(k.width, k.height), k.bytes) << k.width << "x" << k.height;
}

TEST(Surface, CopyRectsSaveAndRestoreEveryBit) {
  std::vector<uint32_t> pixels(7 * 5);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint32_t>(i * 2654435761u);
  const std::vector<uint32_t> before = pixels;
  CopySurface copy{7, 5, pixels.data()};
  for (Rect r : {Rect{0, 0, 7, 5}, Rect{6, 4, 7, 5}, Rect{2, 1, 5, 4}, Rect{3, 3, 3, 3}}) {
    const size_t count = static_cast<size_t>((r.right - r.left) * (r.bottom - r.top));
    std::vector<uint32_t> saved(count + 1, 0xFEEDu);
    SaveCopyRect(&copy, r, saved.data());
    EXPECT_EQ(saved.back(), 0xFEEDu) << "wrote past the packed rows";
    for (int32_t y = r.top; y < r.bottom; ++y)
      for (int32_t x = r.left; x < r.right; ++x) pixels[static_cast<size_t>(y) * 7 + x] = 0;
    RestoreCopyRect(&copy, r, saved.data());
    EXPECT_EQ(pixels, before);
  }
}

TEST(Surface, SaveThenRestoreGivesBackEveryBitOfTheRect) {
  struct Case { Rect rect; };
  const Case cases[] = {{{0, 0, 13, 6}}, {{10, 2, 13, 5}}, {{0, 5, 1, 6}}, {{4, 1, 9, 4}}};
  for (const Case& k : cases) {
    Frame frame;
    const std::vector<Pixel555> before = frame.pixels;
    const int32_t cols = k.rect.right - k.rect.left, rows = k.rect.bottom - k.rect.top;
    std::vector<Pixel555> saved(static_cast<size_t>(cols * rows) + 1, 0xBEEF);
    SaveSurfaceRect(&frame.view, k.rect, saved.data());
    EXPECT_EQ(saved.back(), 0xBEEF) << "wrote past the packed rows";
    for (int32_t y = 0; y < rows; ++y)
      for (int32_t x = 0; x < cols; ++x)
        ASSERT_EQ(saved[static_cast<size_t>(y * cols + x)], frame.at(k.rect.left + x, k.rect.top + y));

    for (Pixel555& p : frame.pixels) p = 0x1234;  // the whole frame, padding included
    RestoreSurfaceRect(&frame.view, k.rect, saved.data());
    for (int32_t y = 0; y < Frame::kHeight; ++y)
      for (int32_t x = 0; x < Frame::kWidth; ++x) {
        const bool inside = x >= k.rect.left && x < k.rect.right && y >= k.rect.top && y < k.rect.bottom;
        ASSERT_EQ(frame.at(x, y), inside ? before[static_cast<size_t>(y) * frame.view.stride + x] : 0x1234)
            << x << "," << y;
      }
    EXPECT_EQ(frame.pixels[13], 0x1234) << "padding is not part of any rect";
  }
}

TEST(Surface, EmptyRectsCopyNothing) {
  Frame frame;
  const std::vector<Pixel555> before = frame.pixels;
  Pixel555 buffer[4] = {1, 2, 3, 4};
  for (Rect r : {Rect{2, 3, 8, 3}, Rect{8, 1, 2, 4}, Rect{0, 0, 0, 0}}) {
    SaveSurfaceRect(&frame.view, r, buffer);
    RestoreSurfaceRect(&frame.view, r, buffer);
  }
  EXPECT_EQ(buffer[0], 1);
  EXPECT_EQ(buffer[3], 4);
  EXPECT_EQ(frame.pixels, before);
}

}  // namespace
