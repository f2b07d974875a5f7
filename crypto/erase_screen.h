#pragma once

#include "app/app_state.h"
#include "app/flow.h"

namespace quorvant {

// The second Del: overwrite the selected file, delete it, rescan.
Next EraseSelectedFile(AppState& s);

}  // namespace quorvant
