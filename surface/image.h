#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "surface/palette.h"

namespace quorvant {

struct Point {
  int x = 0;
  int y = 0;
  bool operator==(const Point&) const = default;
};

struct Rect {
  int x1 = 0, y1 = 0, x2 = 0, y2 = 0;  // half-open: x1 <= x < x2
  bool Empty() const { return x2 <= x1 || y2 <= y1; }
  Rect Union(const Rect& other) const;
  Rect Intersect(const Rect& other) const;
};

// Width x height pixels, each 0x00BBGGRR.
class Image {
 public:
  Image(int width, int height)
      : width_(width), height_(height), pixels_(static_cast<size_t>(width) * height) {}

  int Width() const { return width_; }
  int Height() const { return height_; }
  Colour Pixel(int x, int y) const { return static_cast<Colour>(pixels_[Index(x, y)]); }
  void SetPixel(int x, int y, Colour c) { pixels_[Index(x, y)] = static_cast<std::uint32_t>(c) & 0xFFFFFF; }
  bool Contains(int x, int y) const { return x >= 0 && y >= 0 && x < width_ && y < height_; }
  const std::uint32_t* Row(int y) const { return &pixels_[static_cast<size_t>(y) * width_]; }
  std::uint32_t* Row(int y) { return &pixels_[static_cast<size_t>(y) * width_]; }

 private:
  size_t Index(int x, int y) const { return static_cast<size_t>(y) * width_ + x; }

  int width_;
  int height_;
  std::vector<std::uint32_t> pixels_;
};

}  // namespace quorvant
