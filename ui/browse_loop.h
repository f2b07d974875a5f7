#pragma once

#include "ui/app_state.h"
#include "ui/flow.h"

namespace quorvant {

// The browse loop's entry, where other screens come back to: resets the
// status band and, unless the selection is unchanged, waits for the next key.
// With the selection unchanged the key that ended the other screen (say Up
// after an erase prompt) is handled by the browser as well.
Next BrowseEntry(AppState& s);

// Handles PendingKey while browsing: moves, finds, opens or asks to erase.
Next BrowseStep(AppState& s);

// Del was pressed: "Delete" waits for a second Del.
Next ErasePrompt(AppState& s);
// The answer to the prompt: a second Del erases, anything else cancels.
Next EraseChoice(AppState& s);

// Runs the screens from `next` until the program ends.
void RunMainLoop(AppState& s, Next next);

}  // namespace quorvant
