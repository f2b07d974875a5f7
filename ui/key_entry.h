#pragma once

#include <string>

#include "ui/app_state.h"
#include "ui/flow.h"

namespace quorvant {

// Enter on a file: open it, type its key, then encrypt or decrypt it. Ends
// in the browser (or the program's end).
Next RunKeyEntry(AppState& s);

// Applies one key to the key field: characters 32..126 insert at the caret
// (up to 77), Backspace deletes before it; while the key is not empty, Del
// deletes after it and Left, Right, Home and End move the caret. Anything
// else is ignored.
void EditKey(AppState& s, const std::string& pending_key);

}  // namespace quorvant
