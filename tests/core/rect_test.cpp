#include "effect/rect.h"

#include <gtest/gtest.h>

namespace {

TEST(Rect, IntersectionAndUnionFollowThePlatformRules) {
  struct Case { Rect a, b, intersection, unite; };
  const Rect zero{0, 0, 0, 0};
  const Case cases[] = {
      {{0, 0, 10, 10}, {5, 5, 15, 15}, {5, 5, 10, 10}, {0, 0, 15, 15}},
      {{0, 0, 10, 10}, {10, 0, 20, 10}, zero, {0, 0, 20, 10}},      // touching edges do not overlap
      {{-32, -32, 32, 32}, {0, 0, 1024, 768}, {0, 0, 32, 32}, {-32, -32, 1024, 768}},
      {{5, 5, 6, 6}, {20, 20, 20, 30}, zero, {5, 5, 6, 6}},          // empty operand ignored
      {{7, 7, 7, 7}, {1, 2, 3, 4}, zero, {1, 2, 3, 4}},
      {{7, 7, 7, 7}, {9, 9, 1, 1}, zero, zero},                      // both empty
  };
  for (const Case& k : cases) {
    EXPECT_EQ(RectIntersection(k.a, k.b), k.intersection);
    EXPECT_EQ(RectIntersection(k.b, k.a), k.intersection);
    EXPECT_EQ(RectUnion(k.a, k.b), k.unite);
    EXPECT_EQ(RectUnion(k.b, k.a), k.unite);
  }
}

}  // namespace
