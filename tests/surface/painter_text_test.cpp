// Text on the painter: opaque cells, one row, no wrapping, and the text log.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "surface/painter.h"

namespace quorvant {
namespace {

constexpr int SurfaceWidth = 300;
constexpr int SurfaceHeight = 80;

class PainterTextTest : public ::testing::Test {
 protected:
  PainterTextTest() : surface_(SurfaceWidth, SurfaceHeight), painter(surface_, font_) {}

  int Width(std::string_view text) const { return painter.MeasureText(text).width; }

  // Pixels in [x1, x2) x [y1, y2) that are not `colour`.
  int CountOtherThan(Colour colour, int x1, int y1, int x2, int y2) const {
    int count = 0;
    for (int y = y1; y < y2; ++y) {
      for (int x = x1; x < x2; ++x) count += painter.ReadPixel(x, y) != colour ? 1 : 0;
    }
    return count;
  }

  // Pixels outside `inside` that are not `colour`.
  int CountChangedOutside(Colour colour, const Rect& inside) const {
    int count = 0;
    for (int y = 0; y < SurfaceHeight; ++y) {
      for (int x = 0; x < SurfaceWidth; ++x) {
        const bool in = x >= inside.x1 && x < inside.x2 && y >= inside.y1 && y < inside.y2;
        if (!in && painter.ReadPixel(x, y) != colour) ++count;
      }
    }
    return count;
  }

  Surface surface_;
  ScreenFont font_;

 public:
  Painter painter;
};

TEST_F(PainterTextTest, SpacesPaintTheirCellInTheBackground) {
  painter.ClearSurface(Silver);
  painter.SetBackground(SlateGrey);
  painter.PrintAt(10, 10, DarkGrey, "   ");
  const int width = Width("   ");
  ASSERT_GT(width, 0);
  EXPECT_EQ(CountOtherThan(SlateGrey, 10, 10, 10 + width, 10 + painter.RowHeight()), 0);
  EXPECT_EQ(CountChangedOutside(Silver, Rect{10, 10, 10 + width, 10 + painter.RowHeight()}), 0);
}

TEST_F(PainterTextTest, PaddingErasesTheTailOfALongerOldValue) {
  painter.SetBackground(Black);
  const int tail_left = 20 + Width("12");
  const int tail_right = 20 + Width("12345");
  const int bottom = 10 + painter.RowHeight();

  painter.PrintAt(20, 10, DarkGrey, "12345");
  ASSERT_GT(CountOtherThan(Black, tail_left, 10, tail_right, bottom), 0);

  // Without padding the old digits stay visible ...
  painter.PrintAt(20, 10, DarkGrey, "12");
  EXPECT_GT(CountOtherThan(Black, tail_left, 10, tail_right, bottom), 0);

  // ... with it they are gone, and the new value is drawn.
  painter.PrintAt(20, 10, DarkGrey, "12" + std::string(60, ' '));
  EXPECT_EQ(CountOtherThan(Black, tail_left, 10, tail_right, bottom), 0);
  EXPECT_GT(CountOtherThan(Black, 20, 10, tail_left, bottom), 0);
}

TEST_F(PainterTextTest, ConsecutivePrintsAreAdjacentAndLogged) {
  painter.EnableTextLog(true);
  painter.SetBackground(SlateGrey);
  painter.PrintAt(20, 30, Grey, "Size ");
  painter.SetForeground(DarkGrey);
  painter.PrintText("1 234   ");

  const std::vector<TextLogEntry>& log = painter.TextLog();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].x, 20);
  EXPECT_EQ(log[0].y, 30);
  EXPECT_EQ(log[0].foreground, Grey);
  EXPECT_EQ(log[0].background, SlateGrey);
  EXPECT_EQ(log[0].text, "Size ");
  EXPECT_EQ(log[1].x, 20 + Width("Size "));
  EXPECT_EQ(log[1].y, 30);
  EXPECT_EQ(log[1].foreground, DarkGrey);
  EXPECT_EQ(log[1].text, "1 234   ");  // trailing spaces as given
  EXPECT_EQ(painter.Position(), (Point{20 + Width("Size ") + Width("1 234   "), 30}));

  painter.ClearTextLog();
  EXPECT_TRUE(painter.TextLog().empty());
  painter.EnableTextLog(false);
  painter.PrintText("x");
  EXPECT_TRUE(painter.TextLog().empty());
}

TEST_F(PainterTextTest, NewLineGoesToColumnZeroOfTheNextRow) {
  painter.SetPosition(33, 40);
  painter.NewLine();
  EXPECT_EQ(painter.Position(), (Point{0, 40 + painter.Font().Height() + painter.Font().ExternalLeading()}));
  EXPECT_EQ(painter.RowHeight(), 19);
  // One row is taller than the measured text height by the leading.
  EXPECT_EQ(painter.MeasureText("File ").height, 18);
}

TEST_F(PainterTextTest, TextStaysInsideItsRow) {
  // Glyphs that reach high, low and left of their pen.
  painter.ClearSurface(Silver);
  painter.SetBackground(Black);
  painter.PrintAt(30, 20, DarkGrey, "\xC3\x89\xC3\x85jgpq|_[] \xC3\x87y");
  const Rect row{30, 20, SurfaceWidth, 20 + painter.RowHeight()};
  EXPECT_EQ(CountChangedOutside(Silver, row), 0);
  EXPECT_GT(CountOtherThan(Black, 30, 20, SurfaceWidth, 20 + painter.RowHeight()), 0);
}

TEST_F(PainterTextTest, TextIsCutAtTheRightEdgeAndNeverWraps) {
  painter.ClearSurface(Silver);
  painter.SetBackground(Black);
  const int x = SurfaceWidth - 15;
  painter.PrintAt(x, 20, DarkGrey, "Wide text running past the edge");
  EXPECT_EQ(CountChangedOutside(Silver, Rect{x, 20, SurfaceWidth, 20 + painter.RowHeight()}), 0);
  EXPECT_EQ(painter.Position(), (Point{x + Width("Wide text running past the edge"), 20}));
}

TEST_F(PainterTextTest, TextFarOffTheSurfaceDrawsNothing) {
  painter.ClearSurface(Silver);
  painter.PrintAt(-1e12, 1e12, DarkGrey, "x");
  painter.PrintAt(1e12, 5, DarkGrey, "y");
  painter.PrintAt(5, -1e12, DarkGrey, "z");
  painter.PrintAt(std::numeric_limits<double>::quiet_NaN(), -100, DarkGrey, "w");
  painter.PrintAt(-5000, 5, DarkGrey, "off to the left");
  EXPECT_EQ(CountChangedOutside(Silver, Rect{}), 0);
}

TEST_F(PainterTextTest, GlyphPixelsMixForegroundAndBackground) {
  // Every pixel of the cell lies between the two colours in each channel;
  // solid stems take the foreground exactly and edges something between.
  constexpr Colour Foreground = DarkGrey;   // A9 A9 A9
  constexpr Colour Background = SlateGrey;  // 2F 4F 4F
  painter.SetBackground(Background);
  painter.PrintAt(10, 10, Foreground, "Il/W0");
  int solid = 0;
  int mixed = 0;
  for (int y = 10; y < 10 + painter.RowHeight(); ++y) {
    for (int x = 10; x < 10 + Width("Il/W0"); ++x) {
      const Colour pixel = painter.ReadPixel(x, y);
      ASSERT_GE(RedOf(pixel), RedOf(Background));
      ASSERT_LE(RedOf(pixel), RedOf(Foreground));
      ASSERT_GE(GreenOf(pixel), GreenOf(Background));
      ASSERT_LE(GreenOf(pixel), GreenOf(Foreground));
      ASSERT_GE(BlueOf(pixel), BlueOf(Background));
      ASSERT_LE(BlueOf(pixel), BlueOf(Foreground));
      solid += pixel == Foreground ? 1 : 0;
      mixed += pixel != Foreground && pixel != Background ? 1 : 0;
    }
  }
  EXPECT_GT(solid, 20);
  EXPECT_GT(mixed, 0);
}

TEST_F(PainterTextTest, InvalidBytesShowAsReplacementCharacters) {
  painter.EnableTextLog(true);
  painter.PrintAt(0, 0, DarkGrey,
                  "a\xFF"
                  "b");
  EXPECT_EQ(painter.Position().x, Width("a\xEF\xBF\xBD"
                                        "b"));
  EXPECT_EQ(painter.TextLog().back().text,
            "a\xFF"
            "b");  // logged as given
}

}  // namespace
}  // namespace quorvant
