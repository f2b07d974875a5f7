#pragma once

#include "ui/app_state.h"

namespace quorvant {

// The legend of the icons and colours, and the list of keys.
void ShowHelp(AppState& s);

}  // namespace quorvant
