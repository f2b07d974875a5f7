#pragma once

#include <span>
#include <string_view>

#include "ui/app_state.h"
#include "ui/icon_row.h"
#include "ui/notices.h"

namespace quorvant {

// The parts of the screen that stay put: the logo, the header lines, the
// status band and its clears. Nearly every screen also draws the icon row and
// shows notices in the status band, so those come with this header.

// Layout rows, from the measured line height c.
inline int FolderRowY(const AppState& s) { return 200 - 4 * s.Layout.LineHeight; }
inline int FileRowY(const AppState& s) { return 200 - 3 * s.Layout.LineHeight; }
inline int SizeRowY(const AppState& s) { return 200 - 2 * s.Layout.LineHeight; }
constexpr int StatusY = 200;
constexpr int LeftMargin = 20;

// The program's name in block letters, with a speckle that differs per run.
void DrawLogo(AppState& s);

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

// Of `wordings` (longest first), the first that fits the status band from
// the left margin at the screen font; the last when none does.
std::string_view FittingTheBand(const AppState& s, std::span<const std::string_view> wordings);

// Two padding runs the screens print after values to wipe longer old ones.
std::string_view Spaces(int count);

}  // namespace quorvant
