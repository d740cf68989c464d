// Rectangles with exclusive right and bottom edges, combined by the same rules
// as the platform's IntersectRect and UnionRect.
#pragma once
#include <cstdint>

struct Rect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};

inline bool operator==(const Rect& a, const Rect& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

bool RectIsEmpty(Rect r);
// The overlap of a and b; the all-zero rectangle when they do not overlap.
Rect RectIntersection(Rect a, Rect b);
// The smallest rectangle holding a and b; an empty operand is ignored.
Rect RectUnion(Rect a, Rect b);
