#pragma once

#include "ui/app_state.h"
#include "ui/flow.h"

namespace quorvant {

// The Statistics icon. From anywhere but the statistics screen it opens the
// screen: the eleven figures of the selected file and a table of ten byte
// values with their counts, scrolled by the keys. Any icon click closes it,
// and then the dispatch goes on with that icon. Clicked while the screen is
// open, it only marks the screen for closing.
WaitResult ToggleStatistics(AppState& s);

// The key's effect on the table's first row, kept within 0..246 so the ten
// rows show values 0..255.
int MoveTableTop(int table_top, const std::string& pending_key);

}  // namespace quorvant
