#pragma once

#include <string_view>

#include "ui/app_state.h"

namespace quorvant {

// Notices in the status band and the timed waits they stand for.

// A timed wait: what was drawn is shown first and stays on screen for all of
// it. Ends early only when the window is closed.
void Pause(AppState& s, int milliseconds);

// A notice's timed wait. Keys and clicks that came before its end (typed
// ahead of it, or while it was shown) are dropped after it: they were meant
// for what the notice took the place of. They do not lengthen it either.
void NoticePause(AppState& s, int milliseconds);

// A refusal such as "Already open": beep, the message in the status band,
// AlertMilliseconds, then the row is cleared and Status.Message emptied.
constexpr int AlertMilliseconds = 1500;
void ShowAlert(AppState& s, std::string_view message);
// The alert's beep and message alone, for a question asked in its form.
void DrawAlert(AppState& s, std::string_view message);
// Nothing left to work on ("Empty folder"): beep, the message in Brown on the
// file row and on standard error, 2500 ms, then the window is marked gone.
// The caller ends the program.
void ShowFatalMessage(AppState& s, std::string_view message);

}  // namespace quorvant
