#pragma once

#include <string>

#include "ui/app_state.h"

namespace quorvant {

// One press, one action: what a key the keyboard repeats because it is held
// down may still do.

// Whether the keyboard's auto-repeat of `key` may act in `mode`: it moves
// through the list and types into the key field, and never starts or
// confirms anything (see the table in key_repeat.cpp).
bool RepeatActs(ScreenMode mode, const std::string& key);

// The next key that may act, without waiting: repeats that may not are
// dropped on the way. "" when none.
std::string ReadActingKey(AppState& s);

}  // namespace quorvant
