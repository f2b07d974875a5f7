// Geometry of the painter's boxes, lines and pixels, checked pixel by pixel.
#include "surface/painter.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace quorvant {
namespace {

constexpr int SurfaceWidth = 160;
constexpr int SurfaceHeight = 100;

// Colours that show which step painted a pixel.
constexpr Colour Outline = Lavender;
constexpr Colour Fill = SlateGrey;

using Drawing = std::function<void(Painter&)>;

struct Probe {
  int x;
  int y;
  Colour expected;
};

struct ProbeCase {
  const char* name;
  Drawing draw;
  std::vector<Probe> probes;
};

std::string CaseName(const char* name) { return name; }

void PrintTo(const ProbeCase& c, std::ostream* out) { *out << c.name; }

class Canvas {
 public:
  Canvas() : surface_(SurfaceWidth, SurfaceHeight), painter_(surface_, font_) {}
  Painter& painter() { return painter_; }
  Surface& surface() { return surface_; }

  std::vector<Colour> Pixels() const {
    std::vector<Colour> pixels;
    for (int y = 0; y < SurfaceHeight; ++y) {
      for (int x = 0; x < SurfaceWidth; ++x) pixels.push_back(painter_.ReadPixel(x, y));
    }
    return pixels;
  }

 private:
  Surface surface_;
  ScreenFont font_;
  Painter painter_;
};

// Boxes 20 x 20 at (10, 10) and the 62 x 41 key of the keyboard picture at (20, 20).
// clang-format off
const ProbeCase ProbeCases[] = {
    {"BoxIsHalfOpen",
     [](Painter& p) { p.DrawBox(10, 10, 30, 30, 0, Outline, Fill); },
     {{10, 10, Outline}, {29, 10, Outline}, {10, 29, Outline}, {29, 29, Outline}, {20, 29, Outline},
      {30, 10, Black}, {10, 30, Black}, {30, 30, Black}, {9, 10, Black}, {10, 9, Black},
      {11, 11, Fill}, {28, 28, Fill}}},
    {"HollowBoxInsideLeavesOuterRing",
     [](Painter& p) {
       p.DrawBox(10, 10, 30, 30, 0, Outline, Fill);
       p.DrawBox(11, 11, 29, 29, 0, DimGrey, NoFill);
     },
     {{10, 10, Outline}, {20, 10, Outline}, {29, 20, Outline}, {29, 29, Outline}, {11, 11, DimGrey},
      {28, 11, DimGrey}, {28, 28, DimGrey}, {12, 12, Fill}, {20, 20, Fill}, {27, 27, Fill}}},
    {"RoundedKeyCutsCornersKeepsEdges",
     [](Painter& p) { p.DrawBox(20, 20, 82, 61, 20, Outline, Fill); },
     {{20, 20, Black}, {21, 20, Black}, {20, 21, Black}, {81, 20, Black}, {20, 60, Black}, {81, 60, Black},
      {22, 20, Outline}, {21, 21, Outline}, {20, 22, Outline}, {51, 20, Outline}, {20, 40, Outline},
      {81, 40, Outline}, {51, 60, Outline}, {80, 59, Outline}, {21, 22, Fill}, {51, 40, Fill}}},
    {"ZeroCornerIsSquare",
     [](Painter& p) { p.DrawBox(20, 20, 82, 61, 0, Outline, Fill); },
     {{20, 20, Outline}, {81, 20, Outline}, {20, 60, Outline}, {81, 60, Outline}, {21, 21, Fill}}},
    {"FullCornerMakesEndsRound",
     [](Painter& p) { p.DrawBox(10, 10, 50, 30, 100, Outline, Fill); },
     {{10, 20, Outline}, {49, 20, Outline}, {30, 10, Outline}, {30, 29, Outline}, {10, 10, Black},
      {12, 12, Black}, {30, 20, Fill}}},
    {"HorizontalLineLeavesEndPixel",
     [](Painter& p) {
       p.SetPosition(10, 10);
       p.DrawLine(20, 10, Outline);
     },
     {{10, 10, Outline}, {19, 10, Outline}, {20, 10, Black}, {9, 10, Black}, {15, 9, Black}, {15, 11, Black}}},
    {"UpwardLineLeavesEndPixel",
     [](Painter& p) {
       p.SetPosition(30, 40);
       p.DrawLine(30, 30, Outline);
     },
     {{30, 40, Outline}, {30, 31, Outline}, {30, 30, Black}, {29, 35, Black}, {31, 35, Black}}},
    {"DiagonalLineLeavesEndPixel",
     [](Painter& p) {
       p.SetPosition(40, 10);
       p.DrawLine(50, 20, Outline);
     },
     {{40, 10, Outline}, {45, 15, Outline}, {49, 19, Outline}, {50, 20, Black}, {41, 10, Black}}},
    {"ShallowLineFollowsNearestPixels",
     // y = 50 + 0.3 i rounded: 0 0 1 1 1 2 2 2 2 3 (the tie at i = 5 goes away from the start).
     [](Painter& p) {
       p.SetPosition(0, 50);
       p.DrawLine(10, 53, Outline);
     },
     {{1, 50, Outline}, {2, 51, Outline}, {4, 51, Outline}, {5, 52, Outline}, {8, 52, Outline},
      {9, 53, Outline}, {2, 50, Black}, {5, 51, Black}, {10, 53, Black}}},
    {"PenWidthTwoPaintsTwoPixelsAcross",
     // Each point paints itself and its neighbours above and to the left.
     [](Painter& p) {
       p.SetLineWidth(2);
       p.SetPosition(10, 70);
       p.DrawLine(30, 70, Outline);
       p.SetPosition(50, 60);
       p.DrawLine(50, 80, Outline);
     },
     {{20, 69, Outline}, {20, 70, Outline}, {20, 68, Black}, {20, 71, Black}, {29, 70, Outline},
      {30, 70, Black}, {49, 70, Outline}, {50, 70, Outline}, {48, 70, Black}, {51, 70, Black},
      {50, 79, Outline}, {50, 80, Black}}},
    {"CoordinatesRoundHalfToEven",
     [](Painter& p) {
       p.SetPixel(10.5, 20.5, Outline);  // -> (10, 20)
       p.SetPixel(11.5, 30.5, Outline);  // -> (12, 30)
       p.SetPixel(-0.5, 40, Outline);    // -> (0, 40)
       p.SetPixel(2.5, 40, Outline);     // -> (2, 40)
       p.SetPixel(3.5, 40, Outline);     // -> (4, 40)
       p.SetPixel(6.4999, 40, Outline);  // -> (6, 40)
     },
     {{10, 20, Outline}, {11, 20, Black}, {10, 21, Black}, {12, 30, Outline}, {11, 30, Black},
      {0, 40, Outline}, {1, 40, Black}, {2, 40, Outline}, {3, 40, Black}, {4, 40, Outline},
      {6, 40, Outline}, {7, 40, Black}}},
    {"ClippedAtEveryEdge",
     [](Painter& p) {
       p.DrawBox(-20, -20, 5, 5, 0, Outline, Fill);
       p.DrawBox(150, 90, 4000, 4000, 0, Outline, Fill);
       p.SetPosition(-1e9, 50);
       p.DrawLine(1e9, 50, Outline);
       p.SetPosition(80, -1e9);
       p.DrawLine(80, 1e9, DimGrey);
     },
     {{0, 0, Fill}, {4, 0, Outline}, {0, 4, Outline}, {4, 4, Outline}, {5, 5, Black},
      {150, 95, Outline}, {155, 90, Outline}, {159, 99, Fill}, {149, 95, Black},
      {0, 50, Outline}, {159, 50, Outline}, {0, 51, Black}, {80, 0, DimGrey}, {80, 99, DimGrey}}},
};
// clang-format on

class PainterGeometryTest : public ::testing::TestWithParam<ProbeCase> {};

TEST_P(PainterGeometryTest, PaintsExactlyTheStatedPixels) {
  Canvas canvas;
  GetParam().draw(canvas.painter());
  for (const Probe& probe : GetParam().probes) {
    EXPECT_EQ(canvas.painter().ReadPixel(probe.x, probe.y), probe.expected)
        << "at (" << probe.x << ", " << probe.y << ")";
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, PainterGeometryTest, ::testing::ValuesIn(ProbeCases),
                         [](const auto& info) { return CaseName(info.param.name); });

// Two ways of drawing that must give the same image, pixel for pixel.
struct SameImageCase {
  const char* name;
  Drawing draw;
  Drawing reference;
};

const SameImageCase SameImageCases[] = {
    {"CornersInWrongOrder", [](Painter& p) { p.DrawBox(70, 61, 20, 20, 20, Outline, Fill); },
     [](Painter& p) { p.DrawBox(20, 20, 70, 61, 20, Outline, Fill); }},
    {"OnlyXInWrongOrder", [](Painter& p) { p.DrawBox(70, 20, 20, 61, 20, Outline, Fill); },
     [](Painter& p) { p.DrawBox(20, 20, 70, 61, 20, Outline, Fill); }},
    {"Corner150LikeCorner100", [](Painter& p) { p.DrawBox(10, 10, 70, 50, 150, Outline, Fill); },
     [](Painter& p) { p.DrawBox(10, 10, 70, 50, 100, Outline, Fill); }},
    {"NegativeCornerIsSquare", [](Painter& p) { p.DrawBox(10, 10, 70, 50, -5, Outline, Fill); },
     [](Painter& p) { p.DrawBox(10, 10, 70, 50, 0, Outline, Fill); }},
    {"HalfCoordinatesRoundToEven", [](Painter& p) { p.DrawBox(10.5, 11.5, 30.5, 31.5, 20, Outline, Fill); },
     [](Painter& p) { p.DrawBox(10, 12, 30, 32, 20, Outline, Fill); }},
    {"OutlineMinusOneIsForeground",
     [](Painter& p) {
       p.SetForeground(Outline);
       p.DrawBox(10, 10, 40, 30, 0, ForegroundOutline, Fill);
     },
     [](Painter& p) { p.DrawBox(10, 10, 40, 30, 0, Outline, Fill); }},
    {"PenWidthZeroDrawsAsOne",
     [](Painter& p) {
       p.SetLineWidth(0);
       p.SetPosition(5, 5);
       p.DrawLine(60, 37, Outline);
     },
     [](Painter& p) {
       p.SetPosition(5, 5);
       p.DrawLine(60, 37, Outline);
     }},
    {"LineStartsAtTheRoundedPosition",
     [](Painter& p) {
       p.SetPosition(4.5, 5.5);
       p.DrawLine(59.5, 36.5, Outline);
     },
     [](Painter& p) {
       p.SetPosition(4, 6);
       p.DrawLine(60, 36, Outline);
     }},
};

void PrintTo(const SameImageCase& c, std::ostream* out) { *out << c.name; }

class PainterSameImageTest : public ::testing::TestWithParam<SameImageCase> {};

TEST_P(PainterSameImageTest, DrawsLikeTheReference) {
  Canvas drawn;
  Canvas reference;
  GetParam().draw(drawn.painter());
  GetParam().reference(reference.painter());
  EXPECT_EQ(drawn.Pixels(), reference.Pixels());
}

INSTANTIATE_TEST_SUITE_P(Cases, PainterSameImageTest, ::testing::ValuesIn(SameImageCases),
                         [](const auto& info) { return CaseName(info.param.name); });

TEST(PainterTest, RoundedBoxIsSymmetric) {
  // An odd and an even corner size; mirrored pixels must match.
  for (const int height : {41, 40}) {
    Canvas canvas;
    canvas.painter().DrawBox(20, 20, 82, 20 + height, 20, Outline, Fill);
    for (int y = 20; y < 20 + height; ++y) {
      for (int x = 20; x < 82; ++x) {
        const Colour here = canvas.painter().ReadPixel(x, y);
        ASSERT_EQ(here, canvas.painter().ReadPixel(20 + 81 - x, y)) << x << ", " << y;
        ASSERT_EQ(here, canvas.painter().ReadPixel(x, 20 + 20 + height - 1 - y)) << x << ", " << y;
      }
    }
  }
}

TEST(PainterTest, RoundedOutlineIsClosedAroundTheFill) {
  // Every fill pixel has its four neighbours inside the shape, so the fill
  // never touches the background.
  Canvas canvas;
  canvas.painter().DrawBox(10, 10, 70, 60, 100, Outline, Fill);
  int fill_pixels = 0;
  for (int y = 10; y < 60; ++y) {
    for (int x = 10; x < 70; ++x) {
      if (canvas.painter().ReadPixel(x, y) != Fill) continue;
      ++fill_pixels;
      for (const auto& [dx, dy] : {std::pair{1, 0}, {-1, 0}, {0, 1}, {0, -1}}) {
        EXPECT_NE(canvas.painter().ReadPixel(x + dx, y + dy), Black) << x << ", " << y;
      }
    }
  }
  EXPECT_GT(fill_pixels, 0);
}

TEST(PainterTest, PositionFollowsLinesPixelsAndClears) {
  Canvas canvas;
  Painter& painter = canvas.painter();
  painter.SetPosition(10.5, 20.5);
  EXPECT_EQ(painter.Position(), (Point{10, 20}));
  painter.DrawLine(30, 40, Outline);
  EXPECT_EQ(painter.Position(), (Point{30, 40}));
  painter.SetPixel(500, -7, Outline);  // off the surface: paints nothing, still moves
  EXPECT_EQ(painter.Position(), (Point{500, -7}));
  painter.ClearSurface(Silver);
  EXPECT_EQ(painter.Position(), (Point{0, 0}));
}

TEST(PainterTest, ClearSurfaceFillsEverythingAndReadPixelIsBlackOutside) {
  Canvas canvas;
  Painter& painter = canvas.painter();
  painter.ClearSurface(static_cast<Colour>(0x7F000000 | Silver));  // the top byte is ignored
  EXPECT_EQ(canvas.Pixels(), std::vector<Colour>(SurfaceWidth * SurfaceHeight, Silver));
  EXPECT_EQ(painter.ReadPixel(-1, 0), Black);
  EXPECT_EQ(painter.ReadPixel(0, SurfaceHeight), Black);
  EXPECT_EQ(painter.ReadPixel(SurfaceWidth, 5), Black);
}

TEST(PainterTest, ExtremeCoordinatesDrawNothingAndDoNotCrash) {
  constexpr double Huge = 1e300;
  const double infinity = std::numeric_limits<double>::infinity();
  const double not_a_number = std::numeric_limits<double>::quiet_NaN();
  Canvas canvas;
  Painter& painter = canvas.painter();
  painter.DrawBox(Huge, Huge, infinity, infinity, 50, Outline, Fill);
  painter.DrawBox(-infinity, -Huge, -1, -1, 100, Outline, Fill);
  painter.SetLineWidth(2);
  painter.SetPosition(-Huge, -1e9);
  painter.DrawLine(-1e9, Huge, Outline);  // passes left of the surface
  painter.SetPosition(1e9, 1e9);
  painter.DrawLine(2e9, -3e9, Outline);
  painter.SetPixel(infinity, 3, Outline);
  EXPECT_EQ(canvas.Pixels(), std::vector<Colour>(SurfaceWidth * SurfaceHeight, Black));
  EXPECT_FALSE(canvas.surface().PresentIfDirty([](const Image&, const Rect&) {}));

  // NaN is taken as 0.
  painter.SetPixel(not_a_number, not_a_number, Outline);
  EXPECT_EQ(painter.ReadPixel(0, 0), Outline);
}

TEST(PainterTest, LongLineCrossingTheSurfaceMatchesItsVisiblePart) {
  // Walking only the visible steps of a long line must land on the same
  // pixels as walking all of them: compare with a line of the same slope
  // that starts on the surface.
  Canvas long_line;
  Canvas short_line;
  long_line.painter().SetPosition(-1000, -500);
  long_line.painter().DrawLine(1000, 500, Outline);
  short_line.painter().SetPosition(0, 0);
  short_line.painter().DrawLine(1000, 500, Outline);
  for (int y = 0; y < SurfaceHeight; ++y) {
    for (int x = 0; x < SurfaceWidth; ++x) {
      ASSERT_EQ(long_line.painter().ReadPixel(x, y), short_line.painter().ReadPixel(x, y)) << x << ", " << y;
    }
  }
  EXPECT_EQ(long_line.painter().ReadPixel(0, 0), Outline);
  EXPECT_EQ(long_line.painter().ReadPixel(100, 50), Outline);
}

// The dirty rectangle: what the presenting side gets after each drawing.
class DirtyRectangleTest : public ::testing::Test {
 protected:
  // The rectangle handed to the presenter, or an empty one when it was not called.
  Rect Present() {
    Rect presented;
    canvas.surface().PresentIfDirty([&](const Image&, const Rect& dirty) { presented = dirty; });
    return presented;
  }

  static void ExpectRect(const Rect& actual, const Rect& expected) {
    EXPECT_EQ(actual.x1, expected.x1);
    EXPECT_EQ(actual.y1, expected.y1);
    EXPECT_EQ(actual.x2, expected.x2);
    EXPECT_EQ(actual.y2, expected.y2);
  }

  Canvas canvas;
  Painter& painter = canvas.painter();
};

TEST_F(DirtyRectangleTest, GrowsWithDrawingAndEmptiesWhenPresented) {
  EXPECT_TRUE(Present().Empty());

  // A box's outline widens its bounds by half the pen width plus one.
  painter.DrawBox(10, 10, 20, 20, 0, Outline, Fill);
  painter.SetPixel(50, 40, Outline);
  ExpectRect(Present(), Rect{9, 9, 51, 41});
  EXPECT_TRUE(Present().Empty());

  // So does a line's, with pen width 2: two pixels on each side.
  painter.SetLineWidth(2);
  painter.SetPosition(30, 30);
  painter.DrawLine(40, 30, Outline);
  ExpectRect(Present(), Rect{28, 28, 43, 33});

  // Moving, measuring and reading draw nothing.
  painter.SetPosition(70, 70);
  painter.NewLine();
  (void)painter.MeasureText("File ");
  (void)painter.ReadPixel(3, 3);
  EXPECT_TRUE(Present().Empty());

  // A text's bounds cover at least its opaque cell.
  painter.PrintAt(60, 20, DarkGrey, "Size ");
  const Rect text = Present();
  EXPECT_LE(text.x1, 60);
  EXPECT_LE(text.y1, 20);
  EXPECT_GE(text.x2, 60 + painter.MeasureText("Size ").width);
  EXPECT_GE(text.y2, 20 + painter.RowHeight());

  painter.ClearSurface(Black);
  ExpectRect(Present(), Rect{0, 0, SurfaceWidth, SurfaceHeight});
}

TEST_F(DirtyRectangleTest, StaysEmptyForDrawingOffTheSurface) {
  painter.DrawBox(-50, -50, -10, -10, 0, Outline, Fill);
  painter.SetPosition(-30, 200);
  painter.DrawLine(300, 200, Outline);
  painter.PrintAt(SurfaceWidth + 5, 10, DarkGrey, "Key ");
  painter.PrintAt(10, SurfaceHeight, DarkGrey, "Key ");
  EXPECT_TRUE(Present().Empty());
}

}  // namespace
}  // namespace quorvant
