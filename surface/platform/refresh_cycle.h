#pragma once

#include <functional>

#include "surface/surface.h"
#include "surface/platform/input_queue.h"
#include "surface/platform/platform.h"

namespace quorvant {

// One turn of the presenting side: record whether the window exists, and
// show the surface if anything was drawn since the last turn. Returns whether
// a frame was presented. `present` gets the image and the part that changed.
using PresentFunction = std::function<void(const Image&, const Rect& dirty)>;

bool RefreshTurn(WindowLink& link, bool window_exists, Surface& surface, const PresentFunction& present);

// On the logic's side: takes the next queued click into the link's click
// words once the previous one was consumed (its kind cleared).
void HandOverClick(WindowLink& link, InputQueue<Click>& clicks);

}  // namespace quorvant
