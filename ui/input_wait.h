#pragma once

#include <optional>

#include "ui/app_state.h"
#include "ui/flow.h"

namespace quorvant {

// Polls until a key or a click arrives, re-listing the folder when it
// changed and drawing the key caret during key entry. A click is hit-tested
// against the icon row and dispatched (see the table in input_wait.cpp);
// some icons run a screen from here, which may pass control on.
WaitResult InputWait(AppState& s);

// Where the click dispatch may be entered again by a screen that closes on
// an icon click.
enum class DispatchFrom {
  Start,         // ClickedIcon := -1, then any pending click
  ShowHideTest,  // the tests from the Show|Hide icon on, for ClickedIcon as it is
};
WaitResult DispatchClick(AppState& s, DispatchFrom from);

// Runs the byte viewer from the dispatch. Nothing when it simply closed (the
// dispatch's tests go on); otherwise where control goes, the dispatch having
// acted on the icon that closed it.
std::optional<WaitResult> RunViewerInDispatch(AppState& s);

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
