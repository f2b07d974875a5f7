#pragma once

#include "ui/app_state.h"
#include "ui/flow.h"

namespace quorvant {

// How long "Erased" stays on screen after the file is gone.
constexpr int ErasedNoticeMs = 1000;

// The second Del: overwrite the selected file, delete it, rescan.
Next EraseSelectedFile(AppState& s);

}  // namespace quorvant
