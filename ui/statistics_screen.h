#pragma once

#include "ui/app_state.h"
#include "ui/flow.h"

namespace quorvant {

// The Statistics icon, in the click dispatch: from anywhere but the
// statistics screen it has the screen opened (WaitResult::Statistics);
// clicked while the screen is open, it only marks the screen for closing.
WaitResult ToggleStatistics(AppState& s);

// The statistics screen, as the main loop runs it: the eleven figures of the
// selected file and a table of ten byte values with their counts, scrolled by
// the keys. Any icon click closes it, and then the dispatch goes on with that
// icon; returns where control goes next.
Next RunStatistics(AppState& s);

// The key's effect on the table's first row, kept within 0..246 so the ten
// rows show values 0..255.
int MoveTableTop(int table_top, const std::string& pending_key);

}  // namespace quorvant
