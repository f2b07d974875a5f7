#include "surface/painter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include "base/wipe.h"
#include "surface/text_encoding.h"

namespace quorvant {
namespace {

// Wipes a decoded text, or its glyph list, when the drawing is done.
template <typename Items>
struct WipedOnExit {
  Items& items;
  ~WipedOnExit() { Wipe(items.data(), items.capacity() * sizeof(typename Items::value_type)); }
};

// Coordinates beyond this are pulled in to it: far off any surface, and small
// enough that a product of two coordinate differences fits in 64 bits.
constexpr int CoordinateLimit = 1 << 29;

int ClampCoordinate(std::int64_t value) {
  return static_cast<int>(std::clamp<std::int64_t>(value, -CoordinateLimit, CoordinateLimit));
}

std::uint32_t PixelValue(Colour colour) { return static_cast<std::uint32_t>(colour) & 0xFFFFFF; }

Rect Widen(const Rect& rect, int margin) {
  return Rect{rect.x1 - margin, rect.y1 - margin, rect.x2 + margin, rect.y2 + margin};
}

// Pixel painters. Callers must clip: `area` lies inside the image.
void FillArea(Image& image, const Rect& area, std::uint32_t value) {
  for (int y = area.y1; y < area.y2; ++y) std::fill(image.Row(y) + area.x1, image.Row(y) + area.x2, value);
}

// Mixes coverage/255 of `foreground` over `under`, channel by channel.
std::uint32_t Blend(std::uint32_t foreground, std::uint32_t under, std::uint32_t coverage) {
  const std::uint32_t rest = 255 - coverage;
  std::uint32_t mixed = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    const std::uint32_t over = (foreground >> shift) & 0xFF;
    const std::uint32_t below = (under >> shift) & 0xFF;
    mixed |= ((over * coverage + below * rest + 127) / 255) << shift;
  }
  return mixed;
}

// The glyph's coverage bitmap with its top-left corner at (x, y), limited to
// `clip` (which lies inside the image).
void DrawGlyph(Image& image, const Glyph& glyph, int x, int y, const Rect& clip, std::uint32_t foreground) {
  const Rect placed{x + glyph.left, y + glyph.top, x + glyph.left + glyph.width,
                    y + glyph.top + glyph.height};
  const Rect area = placed.Intersect(clip);
  for (int row = area.y1; row < area.y2; ++row) {
    const std::uint8_t* coverage = glyph.coverage.data() + static_cast<size_t>(row - placed.y1) * glyph.width;
    std::uint32_t* pixels = image.Row(row);
    for (int column = area.x1; column < area.x2; ++column) {
      const std::uint32_t amount = coverage[column - placed.x1];
      if (amount == 255) {
        pixels[column] = foreground;
      } else if (amount != 0) {
        pixels[column] = Blend(foreground, pixels[column], amount);
      }
    }
  }
}

std::int64_t IntegerSquareRoot(std::int64_t value) {
  auto root = static_cast<std::int64_t>(std::sqrt(static_cast<double>(value)));
  while (root * root > value) --root;
  while ((root + 1) * (root + 1) <= value) ++root;
  return root;
}

// One row of a box: the pixels left <= x < right.
struct Span {
  int left = 0;
  int right = 0;
  bool Empty() const { return right <= left; }
};

// Row y of `box` with its four corners cut by circles of the given diameter:
// the pixels whose centres lie inside the rounded shape. Worked in doubled
// coordinates so that pixel centres (x + 1/2) are whole numbers and the
// shape comes out the same on every machine.
Span RoundedRow(const Rect& box, int diameter, int y) {
  if (y < box.y1 || y >= box.y2) return {};
  const std::int64_t d = diameter;
  const std::int64_t centre = 2 * std::int64_t{y} + 1;
  // Vertical distance of the row's centre from the corner circles' centres;
  // zero outside the corner rows. Below d, since d is at most the height.
  std::int64_t rise = 0;
  if (centre < 2 * std::int64_t{box.y1} + d) {
    rise = 2 * std::int64_t{box.y1} + d - centre;
  } else if (centre > 2 * std::int64_t{box.y2} - d) {
    rise = centre - (2 * std::int64_t{box.y2} - d);
  }
  if (rise == 0) return {box.x1, box.x2};
  // Pixel x is inside when (2x + 1 - 2 x1 - d)^2 + rise^2 <= d^2.
  const std::int64_t reach = IntegerSquareRoot(d * d - rise * rise);
  const std::int64_t cut = d - 1 - reach;
  const int inset = cut <= 0 ? 0 : static_cast<int>((cut + 1) / 2);
  return {box.x1 + inset, box.x2 - inset};
}

// The steps [first, last] of a line (see DrawLine) whose pen-wide square
// can meet the surface along the longer axis, `extent` pixels long; only
// they are walked, so a line reaching far outside costs no more than one
// across it. Empty (first > last) when there are none.
struct StepRange {
  std::int64_t first = 0;
  std::int64_t last = 0;
};
StepRange StepsOnSurface(std::int64_t major_start, std::int64_t major_step, std::int64_t steps, int pen,
                         int extent) {
  const int offset = pen / 2;
  const std::int64_t lowest = std::int64_t{offset} - pen + 1;
  const std::int64_t highest = std::int64_t{extent} - 1 + offset;
  if (major_step > 0) {
    return {std::max<std::int64_t>(0, lowest - major_start), std::min(steps - 1, highest - major_start)};
  }
  return {std::max<std::int64_t>(0, major_start - highest), std::min(steps - 1, major_start - lowest)};
}

}  // namespace

int RoundCoordinate(double value) {
  if (std::isnan(value)) return 0;
  // Half to even, whatever the floating-point rounding mode is.
  double whole = std::floor(value);
  const double fraction = value - whole;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0)) whole += 1.0;
  return static_cast<int>(std::clamp(whole, double{-CoordinateLimit}, double{CoordinateLimit}));
}

Painter::Painter(Surface& surface, const ScreenFont& font) : surface_(surface), font_(font) {}

void Painter::SetPosition(double x, double y) { position_ = Point{RoundCoordinate(x), RoundCoordinate(y)}; }

void Painter::DrawLine(double x, double y, Colour colour) {
  const Point from = position_;
  const Point to{RoundCoordinate(x), RoundCoordinate(y)};
  position_ = to;
  if (from == to) return;  // the only pixel is the end pixel, which lines leave out

  // Each point of the line paints a pen-wide square [p - offset, p - offset + pen)
  // in both directions: one pixel for pen 1, the point and its upper-left
  // neighbours for pen 2.
  const int pen = line_width_;
  const int offset = pen / 2;
  const Rect image_bounds{0, 0, Width(), Height()};
  const Rect span{std::min(from.x, to.x), std::min(from.y, to.y), std::max(from.x, to.x) + 1,
                  std::max(from.y, to.y) + 1};
  const Rect bounds = Widen(span, pen / 2 + 1);
  if (bounds.Intersect(image_bounds).Empty()) return;

  // Bresenham along the longer axis: step i of `steps` moves one pixel along
  // it, and the other axis follows the exact line rounded to the nearest
  // pixel. The end point (step `steps`) is not painted.
  const std::int64_t dx = std::int64_t{to.x} - from.x;
  const std::int64_t dy = std::int64_t{to.y} - from.y;
  const bool x_major = std::abs(dx) >= std::abs(dy);
  const std::int64_t major_delta = x_major ? dx : dy;
  const std::int64_t minor_delta = x_major ? dy : dx;
  const std::int64_t steps = std::abs(major_delta);
  const std::int64_t minor_span = std::abs(minor_delta);
  const std::int64_t major_step = major_delta > 0 ? 1 : -1;
  const std::int64_t minor_step = minor_delta > 0 ? 1 : -1;
  const std::int64_t major_start = x_major ? from.x : from.y;
  const std::int64_t minor_start = x_major ? from.y : from.x;

  const auto [first, last] =
      StepsOnSurface(major_start, major_step, steps, pen, x_major ? Width() : Height());
  if (first > last) return;

  const std::uint32_t value = PixelValue(colour);
  surface_.Modify(bounds, [&](Image& image) {
    for (std::int64_t i = first; i <= last; ++i) {
      const std::int64_t major = major_start + major_step * i;
      const std::int64_t minor = minor_start + minor_step * ((2 * i * minor_span + steps) / (2 * steps));
      const std::int64_t point_x = x_major ? major : minor;
      const std::int64_t point_y = x_major ? minor : major;
      const Rect square{static_cast<int>(point_x - offset), static_cast<int>(point_y - offset),
                        static_cast<int>(point_x - offset + pen), static_cast<int>(point_y - offset + pen)};
      FillArea(image, square.Intersect(image_bounds), value);
    }
  });
}

void Painter::DrawBox(double x1, double y1, double x2, double y2, int corner_percent, Colour outline,
                      Colour fill) {
  Rect box{RoundCoordinate(x1), RoundCoordinate(y1), RoundCoordinate(x2), RoundCoordinate(y2)};
  if (box.x2 < box.x1) std::swap(box.x1, box.x2);
  if (box.y2 < box.y1) std::swap(box.y1, box.y2);
  const Rect visible = box.Intersect(Rect{0, 0, Width(), Height()});
  if (visible.Empty()) return;

  const std::int64_t shorter_side = std::min(box.x2 - box.x1, box.y2 - box.y1);
  const int diameter = static_cast<int>(shorter_side * std::clamp(corner_percent, 0, 100) / 100);
  const std::uint32_t outline_value = PixelValue(outline == ForegroundOutline ? foreground_ : outline);
  const bool filled = fill != NoFill;
  const std::uint32_t fill_value = PixelValue(fill);

  // Paints [left, right) of row y, limited to the visible part of the box.
  const auto paint = [&visible](Image& image, int y, int left, int right, std::uint32_t value) {
    left = std::max(left, visible.x1);
    right = std::min(right, visible.x2);
    if (left < right) std::fill(image.Row(y) + left, image.Row(y) + right, value);
  };

  surface_.Modify(Widen(box, line_width_ / 2 + 1), [&](Image& image) {
    for (int y = visible.y1; y < visible.y2; ++y) {
      const Span row = RoundedRow(box, diameter, y);
      if (row.Empty()) continue;
      // The outline is every pixel of the shape with a neighbour (left,
      // right, above or below) outside it; the fill is the rest. The shape
      // is convex, so the inside of a row is one run.
      const Span above = RoundedRow(box, diameter, y - 1);
      const Span below = RoundedRow(box, diameter, y + 1);
      int inner_left = std::max({row.left + 1, above.left, below.left});
      int inner_right = std::min({row.right - 1, above.right, below.right});
      if (inner_right <= inner_left) inner_left = inner_right = row.right;
      paint(image, y, row.left, inner_left, outline_value);
      paint(image, y, inner_right, row.right, outline_value);
      if (filled) paint(image, y, inner_left, inner_right, fill_value);
    }
  });
}

void Painter::SetPixel(double x, double y, Colour colour) {
  position_ = Point{RoundCoordinate(x), RoundCoordinate(y)};
  const Point at = position_;
  if (at.x < 0 || at.y < 0 || at.x >= Width() || at.y >= Height()) return;
  surface_.Modify(Rect{at.x, at.y, at.x + 1, at.y + 1},
                  [&](Image& image) { image.SetPixel(at.x, at.y, colour); });
}

Colour Painter::ReadPixel(int x, int y) const { return surface_.PixelAt(x, y); }

void Painter::ClearSurface(Colour colour) {
  position_ = Point{};
  const Rect everything{0, 0, Width(), Height()};
  surface_.Modify(everything, [&](Image& image) { FillArea(image, everything, PixelValue(colour)); });
}

void Painter::PrintText(std::string_view utf8) {
  const Point origin = position_;
  if (log_enabled_)
    text_log_.push_back(TextLogEntry{origin.x, origin.y, foreground_, background_, std::string(utf8)});

  // Glyphs are looked up (and rendered on first use) before the image is
  // locked, so the presenting thread never waits on FreeType.
  std::u32string text = DecodeUtf8(utf8);
  std::vector<const Glyph*> glyphs;
  glyphs.reserve(text.size());
  // The text may be a key being typed: no copy of it stays in freed memory.
  const WipedOnExit wiped_text{text};
  const WipedOnExit wiped_glyphs{glyphs};
  std::int64_t width = 0;
  for (const char32_t code_point : text) {
    glyphs.push_back(&font_.GlyphFor(code_point));
    width += glyphs.back()->advance;
  }
  position_.x = ClampCoordinate(origin.x + width);

  // Everything stays within one row from the current position to the right
  // edge: text never wraps and never spills onto the row below.
  const int row_bottom = ClampCoordinate(std::int64_t{origin.y} + RowHeight());
  const Rect clip = Rect{origin.x, origin.y, Width(), row_bottom}.Intersect(Rect{0, 0, Width(), Height()});
  if (clip.Empty()) return;
  const Rect cell = Rect{origin.x, origin.y, position_.x, row_bottom}.Intersect(clip);

  // The opaque cell, plus whatever glyph edges reach past it.
  Rect bounds = cell;
  std::int64_t pen_x = origin.x;
  for (const Glyph* glyph : glyphs) {
    if (glyph->width > 0 && pen_x < clip.x2 + glyph->width) {
      const int left = static_cast<int>(pen_x) + glyph->left;
      const int top = origin.y + glyph->top;
      bounds = bounds.Union(Rect{left, top, left + glyph->width, top + glyph->height}.Intersect(clip));
    }
    pen_x += glyph->advance;
  }
  if (bounds.Empty()) return;

  const std::uint32_t foreground = PixelValue(foreground_);
  const std::uint32_t background = PixelValue(background_);
  surface_.Modify(bounds, [&](Image& image) {
    if (!cell.Empty()) FillArea(image, cell, background);
    // Coverage is mixed over what is already there: the cell's background,
    // or a neighbouring glyph's edge where two glyphs overlap.
    std::int64_t x = origin.x;
    for (const Glyph* glyph : glyphs) {
      if (glyph->width > 0 && x < clip.x2 + glyph->width) {
        DrawGlyph(image, *glyph, static_cast<int>(x), origin.y, clip, foreground);
      }
      x += glyph->advance;
    }
  });
}

void Painter::NewLine() { position_ = Point{0, ClampCoordinate(std::int64_t{position_.y} + RowHeight())}; }

TextSize Painter::MeasureText(std::string_view utf8) const {
  std::u32string text = DecodeUtf8(utf8);
  const WipedOnExit wiped{text};
  return font_.Measure(text);
}

void Painter::PrintAt(double x, double y, Colour foreground, std::string_view utf8) {
  SetPosition(x, y);
  SetForeground(foreground);
  PrintText(utf8);
}

}  // namespace quorvant
