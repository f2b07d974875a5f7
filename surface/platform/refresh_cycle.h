#pragma once

#include <functional>

#include "surface/image.h"
#include "surface/platform/input_queue.h"
#include "surface/platform/platform.h"

namespace quorvant {

// One turn of the presenting side, run between sleeps of RefreshInterval:
// record whether the window exists, show the surface if anything was drawn
// since the last turn, and hand the next queued click to the logic once it
// has consumed the previous one. Returns whether a frame was presented.
// `present` gets the image and the part of it that changed.
using PresentFunction = std::function<void(const Image&, const Rect& dirty)>;

bool RefreshTurn(WindowLink& link, bool window_exists, Surface& surface, const PresentFunction& present,
                 InputQueue<Click>& clicks);

// Hands the next queued click to the logic if the previous one was consumed.
void HandOverClick(WindowLink& link, InputQueue<Click>& clicks);

}  // namespace quorvant
