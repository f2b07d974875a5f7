#pragma once

#include "ui/app_state.h"
#include "ui/flow.h"

namespace quorvant {

// Waits until a key or a click arrives, re-listing the folder when it changed
// and drawing the key caret during key entry. Sleeps in between: until input,
// a report from the folder, or the next moment something must be drawn (the
// caret's blink, a due re-list where the folder's reports are not trusted).
// A click is hit-tested against the icon row and dispatched (see the table in
// input_wait.cpp); some icons pass control on to a screen.
//
// One press, one action: a key the keyboard repeats because it is held down
// is dropped unless RepeatActs; clicks that came while an icon's action ran
// are dropped when the wait begins.
WaitResult InputWait(AppState& s);

// Whether the keyboard's auto-repeat of `key` may act in `mode`: it moves
// through the list and types into the key field, and never starts or
// confirms anything (see the table in input_wait.cpp).
bool RepeatActs(ScreenMode mode, const std::string& key);

// The next key that may act, without waiting: repeats that may not are
// dropped on the way. "" when none.
std::string ReadActingKey(AppState& s);

WaitResult DispatchClick(AppState& s, DispatchFrom from);

// Where control goes after an input wait of a screen whose next step, given
// input, is `on_input`. A screen that the wait passes control to goes on to
// `on_input` in its place once it is done (AppState::Input.ResumeAt).
Next AfterWait(AppState& s, WaitResult result, Next on_input);
// The same for a screen that was itself handed control by a wait: input goes
// on to where that wait would have gone.
Next Resume(AppState& s, WaitResult result);

// The byte viewer, as the main loop runs it, and where control goes after.
Next RunViewerScreen(AppState& s);

// Lists the folder if it changed (or at once, with Rescan::Now) and redraws
// the selected file when its name or size changed; the first listing always
// draws it, since nothing was shown before. ProgramEnd after the "Empty
// folder" notice.
enum class Rescan { IfChanged, Now };
WaitResult ScanFolderStep(AppState& s, Rescan when = Rescan::IfChanged);

// Draws the selected entry (or ends with "Empty folder") and records it as
// the last shown name and size.
WaitResult ShowSelectedFile(AppState& s);

}  // namespace quorvant
