#pragma once

#include <mutex>

#include "surface/image.h"
#include "surface/palette.h"

namespace quorvant {

// The off-screen image shared between the thread that draws and the thread
// that presents it. Drawing happens under the lock; the dirty rectangle says
// whether anything was drawn since the last present.
class Surface {
 public:
  Surface(int width, int height) : image_(width, height) {}

  int Width() const { return image_.Width(); }
  int Height() const { return image_.Height(); }

  // Runs `draw(image)` under the lock and adds `bounds` to the dirty rectangle.
  template <typename Draw>
  void Modify(const Rect& bounds, Draw&& draw) {
    std::lock_guard lock(mutex_);
    draw(image_);
    dirty_ = dirty_.Union(bounds.Intersect(Rect{0, 0, image_.Width(), image_.Height()}));
  }

  // Runs `read(image)` under the lock.
  template <typename Reader>
  auto Read(Reader&& read) const {
    std::lock_guard lock(mutex_);
    return read(image_);
  }

  // Hands the image and the dirty rectangle to `present` when something was
  // drawn since the last call, then empties the dirty rectangle. Returns
  // whether it presented.
  template <typename Present>
  bool PresentIfDirty(Present&& present) {
    std::lock_guard lock(mutex_);
    if (dirty_.Empty()) return false;
    present(image_, dirty_);
    dirty_ = Rect{};
    return true;
  }

  bool Dirty() const {
    std::lock_guard lock(mutex_);
    return !dirty_.Empty();
  }

  Colour PixelAt(int x, int y) const {
    return Read([&](const Image& image) { return image.Contains(x, y) ? image.Pixel(x, y) : Black; });
  }

 private:
  mutable std::mutex mutex_;
  Image image_;
  Rect dirty_;
};

}  // namespace quorvant
