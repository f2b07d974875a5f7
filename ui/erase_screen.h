#pragma once

#include <string_view>

#include "ui/app_state.h"
#include "ui/flow.h"

namespace quorvant {

// How long "Erased" stays on screen after the file is gone.
constexpr int ErasedNoticeMs = 1000;

// What an erase stopped part-way (Esc, a write error) says: the file is
// still there, but no longer as it was.
constexpr std::string_view PartlyOverwrittenNotice = "Kept, partly overwritten";

// The second Del: overwrite the selected file, delete it, rescan.
Next EraseSelectedFile(AppState& s);

}  // namespace quorvant
