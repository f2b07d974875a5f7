#pragma once

#include "app/app_state.h"
#include "app/flow.h"

namespace quorvant {

// Enter on a file: open it, type its key, then encrypt or decrypt it.
Next RunKeyEntry(AppState& s);

}  // namespace quorvant
