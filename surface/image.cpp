#include "surface/image.h"

#include <algorithm>

namespace quorvant {

Rect Rect::Union(const Rect& other) const {
  if (other.Empty()) return *this;
  if (Empty()) return other;
  return Rect{std::min(x1, other.x1), std::min(y1, other.y1), std::max(x2, other.x2), std::max(y2, other.y2)};
}

Rect Rect::Intersect(const Rect& other) const {
  const Rect overlap{std::max(x1, other.x1), std::max(y1, other.y1), std::min(x2, other.x2),
                     std::min(y2, other.y2)};
  // Every empty result is the same value, so callers may compare rectangles.
  return overlap.Empty() ? Rect{} : overlap;
}

}  // namespace quorvant
