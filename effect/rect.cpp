#include "effect/rect.h"

#include <algorithm>

bool RectIsEmpty(Rect r) { return r.right <= r.left || r.bottom <= r.top; }

Rect RectIntersection(Rect a, Rect b) {
  Rect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
         std::min(a.bottom, b.bottom)};
  return RectIsEmpty(r) ? Rect{0, 0, 0, 0} : r;
}

Rect RectUnion(Rect a, Rect b) {
  if (RectIsEmpty(a)) return RectIsEmpty(b) ? Rect{0, 0, 0, 0} : b;
  if (RectIsEmpty(b)) return a;
  return Rect{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
              std::max(a.bottom, b.bottom)};
}
