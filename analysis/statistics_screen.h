#pragma once

#include "app/app_state.h"
#include "app/flow.h"

namespace quorvant {

// The Statistics icon: opens the statistics screen, or closes it.
WaitResult ToggleStatistics(AppState& s);

}  // namespace quorvant
