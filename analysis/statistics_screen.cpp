#include "analysis/statistics_screen.h"

namespace quorvant {

// FIXME: the statistics screen is not built yet.
WaitResult ToggleStatistics(AppState&) { return WaitResult::Input; }

}  // namespace quorvant
