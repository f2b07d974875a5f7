#include "surface/platform/refresh_cycle.h"

namespace quorvant {

void HandOverClick(WindowLink& link, InputQueue<Click>& clicks) {
  if (link.ClickKind.load(std::memory_order_acquire) != 0) return;
  std::optional<Click> next = clicks.Pop();
  if (!next) return;
  link.ClickX.store(next->x, std::memory_order_relaxed);
  link.ClickY.store(next->y, std::memory_order_relaxed);
  link.ClickKind.store(next->kind, std::memory_order_release);
}

bool RefreshTurn(WindowLink& link, bool window_exists, Surface& surface, const PresentFunction& present) {
  if (!window_exists) {
    link.Alive.store(0);
    return false;
  }
  return surface.PresentIfDirty([&](const Image& image, const Rect& dirty) { present(image, dirty); });
}

}  // namespace quorvant
