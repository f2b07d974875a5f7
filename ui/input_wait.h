#pragma once

#include "ui/app_state.h"
#include "ui/flow.h"

namespace quorvant {

// Waits until a key or a click arrives, re-listing the folder when it changed
// and drawing the key caret during key entry. Sleeps in between: until input,
// a report from the folder, or the next moment something must be drawn (the
// caret's blink, a due re-list where the folder's reports are not trusted).
// A click is hit-tested against the icon row and dispatched (DispatchClick,
// ui/click_dispatch.h); some icons pass control on to a screen.
//
// One press, one action: a key the keyboard repeats because it is held down
// is dropped unless RepeatActs (ui/key_repeat.h); clicks that came while an
// icon's action ran are dropped when the wait begins.
WaitResult InputWait(AppState& s);

// Where control goes after an input wait of a screen whose next step, given
// input, is `on_input`. A screen that the wait passes control to goes on to
// `on_input` in its place once it is done (AppState::Input.ResumeAt).
Next AfterWait(AppState& s, WaitResult result, Next on_input);
// The same for a screen that was itself handed control by a wait: input goes
// on to where that wait would have gone.
Next Resume(AppState& s, WaitResult result);

// The byte viewer, as the main loop runs it, and where control goes after.
Next RunViewerScreen(AppState& s);

}  // namespace quorvant
