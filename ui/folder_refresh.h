#pragma once

#include "ui/app_state.h"
#include "ui/flow.h"

namespace quorvant {

// Keeping the listing up to date while the program waits, and the selected
// file's lines with it.

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
