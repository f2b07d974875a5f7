#pragma once

#include <string_view>

#include "ui/app_state.h"

namespace quorvant {

// The parts of the screen that stay put: the logo, the icon row, the header
// lines, the status band and its clears, and the alerts.

// Layout rows, from the measured line height c.
inline int FolderRowY(const AppState& s) { return 200 - 4 * s.Layout.LineHeight; }
inline int FileRowY(const AppState& s) { return 200 - 3 * s.Layout.LineHeight; }
inline int SizeRowY(const AppState& s) { return 200 - 2 * s.Layout.LineHeight; }
constexpr int StatusY = 200;
constexpr int LeftMargin = 20;

// The program's name in block letters, with a speckle that differs per run.
void DrawLogo(AppState& s);

// The icon row: seven square buttons of IconSize pixels, 27 pixels apart.
constexpr int IconCount = 7;
constexpr int IconSize = 20;
// The top-left corner of button `button` (0..6) at its place in the row.
constexpr Point IconRowPosition(int button) { return {20 + 27 * button, 95}; }
// The middle of a button in the row: where a click surely hits it.
constexpr Point IconRowCentre(int button) {
  return {IconRowPosition(button).x + IconSize / 2, IconRowPosition(button).y + IconSize / 2};
}
// Puts every button back at its place in the row (IconX, IconY).
void PlaceIconRow(AppState& s);

// The seven buttons at their current positions (IconX, IconY).
void DrawIconRow(AppState& s);
void DrawIconButton(AppState& s, int button);
// The inner square of the Show|Hide button: filled while the key is shown.
void DrawShowHideIndicator(AppState& s);
// The Key button's padlock: closed for an encrypted file, open for a plain one.
void DrawPadlock(AppState& s, int encrypted_flag);
// The button under (x, y) in the icon row, or -1. Strict bounds: the frame's
// outermost pixels belong to no button.
int HitTestIconRow(const AppState& s, int x, int y);
// Flashes the frame of a pressed button for 100 ms.
void PressFeedback(AppState& s, int button);

// "Folder ", the folder's path, "File" and "Size ".
void DrawHeaderLabels(AppState& s);
// The selected entry's name (suffix hidden), size and padlock.
void ShowCurrentFile(AppState& s, const FileEntry& entry);

// Both status rows right of the kept prompt label.
void ClearPromptLine(AppState& s);
// The status band from x = 0: both rows, or only the first.
void ClearStatusBand(AppState& s, int rows = 2);
// Everything below the status band.
void ClearWorkArea(AppState& s);

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

// Two padding runs the screens print after values to wipe longer old ones.
std::string_view Spaces(int count);

}  // namespace quorvant
