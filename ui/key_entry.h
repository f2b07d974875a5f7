#pragma once

#include <string>
#include <string_view>

#include "ui/app_state.h"
#include "ui/flow.h"

namespace quorvant {

// Enter on a file: open it, type its key, then encrypt or decrypt it. Ends
// in the browser (or the program's end). While the key of a new encryption
// is typed, Tab switches its format (ui/format_choice.h).
Next RunKeyEntry(AppState& s);

// Applies one key to the key field: characters 32..126 insert at the caret
// (up to 77), Backspace deletes before it; while the key is not empty, Del
// deletes after it and Left, Right, Home and End move the caret. Anything
// else is ignored.
void EditKey(AppState& s, const std::string& pending_key);

// The "Key looks wrong" question as asked: it names the key that goes on
// and the one that stops, shortened when the status band is too narrow.
std::string_view KeyLooksWrongQuestion(const AppState& s);
// The question asked before an encryption with a key other than the one that
// decrypted the file: the longest wording that fits the status band.
std::string_view OtherKeyQuestion(const AppState& s);

}  // namespace quorvant
