#include "effect/drift_path.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<Rect> Frames(int32_t sx, int32_t sy, int32_t tx, int32_t ty, int32_t mapW, int32_t mapH) {
  DriftSegment s = BeginSegment(sx, sy, tx, ty);
  std::vector<Rect> frames;
  for (int32_t i = 0; i < s.steps; ++i, AdvanceSegment(&s)) frames.push_back(PatchRect(&s, mapW, mapH));
  return frames;
}

TEST(DriftPath, WorkedSegment) {
  // A 64x64 map, the target 100 px right and 3 down.
  const int32_t sx = 500, sy = 300;
  const std::vector<Rect> frames = Frames(sx, sy, sx + 100, sy + 3, 64, 64);
  ASSERT_EQ(frames.size(), 20u);
  for (size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(frames[i].left, sx - 32 + 5 * static_cast<int32_t>(i));
    EXPECT_EQ(frames[i].right - frames[i].left, 64);
    EXPECT_EQ(frames[i].bottom - frames[i].top, 64);
    if (i > 0) {
      const int32_t down = frames[i].top - frames[i - 1].top;
      EXPECT_TRUE(down == 0 || down == 1) << i;
    }
  }
  EXPECT_EQ(frames.front().top, sy - 32);
  EXPECT_EQ(frames.back().left, sx + 63);
  // The next segment starts with the map centred on the target: a jump of one step.
  const std::vector<Rect> next = Frames(sx + 100, sy + 3, sx + 200, sy + 3, 64, 64);
  EXPECT_EQ(next.front().left, sx + 100 - 32);
  EXPECT_EQ(next.front().top, sy + 3 - 32);
}

TEST(DriftPath, StepsFollowTheLongerAxis) {
  struct Case { int32_t dx, dy, steps; };
  const Case cases[] = {{4, 4, 0},  {-4, 4, 0},    {5, 0, 1},      {0, -9, 1},       {-10, 3, 2},
                        {3, 100, 20}, {-99, -12, 19}, {0, 0, 0}, {1023, 767, 204}};
  for (const Case& k : cases) {
    EXPECT_EQ(BeginSegment(10, 20, 10 + k.dx, 20 + k.dy).steps, k.steps) << k.dx << "," << k.dy;
    EXPECT_EQ(Frames(10, 20, 10 + k.dx, 20 + k.dy, 64, 64).size(), static_cast<size_t>(k.steps));
  }
}

TEST(DriftPath, LeftwardStepsTruncateTowardZero) {
  // dx = -7 over 1 step and dy = -13 over 2 steps: the offsets are 0, then -13 / 2 = -6.
  const std::vector<Rect> frames = Frames(100, 100, 93, 87, 10, 10);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].left, 95);
  EXPECT_EQ(frames[1].left, 100 - 3 - 5);  // -7 / 2 = -3
  EXPECT_EQ(frames[1].top, 100 - 6 - 5);
}

TEST(DriftPath, RandomSequence) {
  SeedRandom(1);
  // state 1 -> 1 * 214013 + 2531011 = 2745024, >> 16 = 41; the classic first values.
  const uint32_t expected[] = {41, 18467, 6334, 26500, 19169};
  for (uint32_t e : expected) EXPECT_EQ(NextRandom(), e);
  SeedRandom(0xFFFFFFFFu);
  for (int i = 0; i < 1000; ++i) EXPECT_LE(NextRandom(), 32767u);
}

}  // namespace
