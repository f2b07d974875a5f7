#pragma once

#include "ui/app_state.h"
#include "ui/flow.h"

namespace quorvant {

// The second Del: overwrite the selected file, delete it, rescan.
Next EraseSelectedFile(AppState& s);

}  // namespace quorvant
