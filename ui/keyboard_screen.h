#pragma once

#include "ui/app_state.h"

namespace quorvant {

// Shows or hides the on-screen keyboard: twelve special keys and 95
// character keys whose order turns with the clock's fractional second.
void ToggleKeyboard(AppState& s);

// A click while the keyboard is shown: a key under it sets PendingKey to what
// the real key would deliver, and the key flashes.
void KeyboardClick(AppState& s, int x, int y);

// The character keys' order for a fractional second of `fraction_ms`
// (0..999): the 95 printable characters from max(32, 125 - r) on, cyclic,
// where r = floor(95 * fraction).
std::array<char, 95> KeyboardOrder(int fraction_ms);

}  // namespace quorvant
