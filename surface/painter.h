#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "surface/surface.h"
#include "surface/palette.h"
#include "surface/screen_font.h"

namespace quorvant {

// One printed text, as tests read it back.
struct TextLogEntry {
  int x = 0;
  int y = 0;
  Colour foreground = 0;
  Colour background = 0;
  std::string text;  // UTF-8
};

// The drawing operations every screen uses, with exact geometry:
// - coordinates are rounded to the nearest pixel, halves to the even one;
// - boxes are half-open (x1 <= x < x2), corners in any order, the corner
//   percentage clamped to 0..100 and rounded by an ellipse;
// - a line does not paint its end pixel; pen widths 1 and 2: each point of a
//   line paints the square [x - w/2, x - w/2 + w) x [y - w/2, y - w/2 + w),
//   so width 2 paints the point and its neighbours above and to the left.
//   Box outlines are one pixel whatever the pen;
// - text is opaque: its cell is filled with the background colour, clipped to
//   one row (font height + external leading) and to the right edge; glyph
//   coverage is mixed over the cell's background;
// - NewLine goes to x = 0 of the next row.
// Every operation adds what it touched to the surface's dirty rectangle.
class Painter {
 public:
  Painter(Surface& surface, const ScreenFont& font);

  int Width() const { return surface_.Width(); }
  int Height() const { return surface_.Height(); }
  const ScreenFont& Font() const { return font_; }

  void SetPosition(double x, double y);
  Point Position() const { return position_; }
  void SetForeground(Colour colour) { foreground_ = colour; }
  void SetBackground(Colour colour) { background_ = colour; }
  Colour Foreground() const { return foreground_; }
  Colour Background() const { return background_; }
  void SetLineWidth(int pixels) { line_width_ = pixels < 1 ? 1 : pixels; }
  int LineWidth() const { return line_width_; }

  // From the current position to (x, y), end pixel excluded; the current
  // position becomes (x, y).
  void DrawLine(double x, double y, Colour colour);
  // outline ForegroundOutline means the foreground colour; fill NoFill leaves
  // the interior untouched.
  void DrawBox(double x1, double y1, double x2, double y2, int corner_percent, Colour outline, Colour fill);
  void SetPixel(double x, double y, Colour colour);
  Colour ReadPixel(int x, int y) const;
  void ClearSurface(Colour colour);

  // UTF-8 text at the current position; the position moves right by its width.
  void PrintText(std::string_view utf8);
  void NewLine();
  TextSize MeasureText(std::string_view utf8) const;
  int RowHeight() const { return font_.Height() + font_.ExternalLeading(); }

  // Convenience used by every screen: position, colours, print.
  void PrintAt(double x, double y, Colour foreground, std::string_view utf8);

  void EnableTextLog(bool on) { log_enabled_ = on; }
  const std::vector<TextLogEntry>& TextLog() const { return text_log_; }
  void ClearTextLog() { text_log_.clear(); }

 private:
  Surface& surface_;
  const ScreenFont& font_;
  Point position_;
  Colour foreground_ = Black;
  Colour background_ = Black;
  int line_width_ = 1;
  bool log_enabled_ = false;
  std::vector<TextLogEntry> text_log_;
};

// Round half to even, as every coordinate is.
int RoundCoordinate(double value);

}  // namespace quorvant
