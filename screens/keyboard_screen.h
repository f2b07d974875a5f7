#pragma once

#include "app/app_state.h"

namespace quorvant {

// Shows or hides the on-screen keyboard.
void ToggleKeyboard(AppState& s);
// A click while the keyboard is shown: may set PendingKey.
void KeyboardClick(AppState& s, int x, int y);

}  // namespace quorvant
