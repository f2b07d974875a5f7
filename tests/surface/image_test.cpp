#include "surface/image.h"

#include <gtest/gtest.h>

#include "surface/surface.h"

namespace quorvant {
namespace {

bool SameRect(const Rect& a, const Rect& b) {
  return a.x1 == b.x1 && a.y1 == b.y1 && a.x2 == b.x2 && a.y2 == b.y2;
}

struct RectCase {
  const char* name;
  Rect first;
  Rect second;
  Rect expected_union;
  Rect expected_intersection;
};

// The dirty rectangle is built from these two, so an empty side must never
// widen a union (an empty Rect{} sits at the origin and would otherwise pull
// every union out to (0, 0)).
const RectCase RectCases[] = {
    {"Overlapping", {0, 0, 10, 10}, {5, 5, 20, 15}, {0, 0, 20, 15}, {5, 5, 10, 10}},
    {"Disjoint", {0, 0, 10, 10}, {20, 20, 30, 30}, {0, 0, 30, 30}, {}},
    {"TouchingEdgesDoNotOverlap", {0, 0, 10, 10}, {10, 0, 20, 10}, {0, 0, 20, 10}, {}},
    {"EmptyLeftSide", {}, {40, 50, 60, 70}, {40, 50, 60, 70}, {}},
    {"EmptyRightSide", {40, 50, 60, 70}, {}, {40, 50, 60, 70}, {}},
    {"InvertedCountsAsEmpty", {40, 50, 60, 70}, {9, 9, 3, 3}, {40, 50, 60, 70}, {}},
    {"Contained", {0, 0, 100, 100}, {10, 20, 30, 40}, {0, 0, 100, 100}, {10, 20, 30, 40}},
};

void PrintTo(const RectCase& c, std::ostream* out) { *out << c.name; }

class RectTest : public ::testing::TestWithParam<RectCase> {};

TEST_P(RectTest, UnionAndIntersection) {
  const RectCase& c = GetParam();
  EXPECT_TRUE(SameRect(c.first.Union(c.second), c.expected_union));
  EXPECT_TRUE(SameRect(c.second.Union(c.first), c.expected_union));
  EXPECT_TRUE(SameRect(c.first.Intersect(c.second), c.expected_intersection));
  EXPECT_TRUE(SameRect(c.second.Intersect(c.first), c.expected_intersection));
}

INSTANTIATE_TEST_SUITE_P(Cases, RectTest, ::testing::ValuesIn(RectCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SurfaceTest, PresentsOnlyWhatWasDrawnAndOnlyOnce) {
  Surface surface(50, 40);
  int presented = 0;
  const auto count = [&](const Image&, const Rect&) { ++presented; };
  EXPECT_FALSE(surface.PresentIfDirty(count));

  // Bounds reaching past the image are cut to it.
  surface.Modify(Rect{-5, 30, 10, 60}, [](Image& image) { image.SetPixel(0, 39, Silver); });
  Rect dirty;
  EXPECT_TRUE(surface.PresentIfDirty([&](const Image& image, const Rect& rect) {
    dirty = rect;
    EXPECT_EQ(image.Pixel(0, 39), Silver);
  }));
  EXPECT_TRUE(SameRect(dirty, Rect{0, 30, 10, 40}));
  EXPECT_FALSE(surface.PresentIfDirty(count));
  EXPECT_EQ(presented, 0);

  // Bounds wholly outside leave nothing to present.
  surface.Modify(Rect{60, 0, 70, 10}, [](Image&) {});
  EXPECT_FALSE(surface.PresentIfDirty(count));
}

TEST(SurfaceTest, ImageIgnoresTheTopByteOfColours) {
  Image image(2, 2);
  image.SetPixel(1, 1, static_cast<Colour>(0x7F123456));
  EXPECT_EQ(image.Pixel(1, 1), 0x123456);
}

}  // namespace
}  // namespace quorvant
