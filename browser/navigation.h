#pragma once

#include <string_view>

#include "browser/file_table.h"

namespace quorvant {

// Moving the selection through the file table. Every function takes the
// 1-based SelectedIndex and returns the new one; none of them draws.

// A value above FileCount becomes FileCount, then a value below 1 becomes 1
// (so an empty table gives 1).
int ClampSelection(const FileTable& table, int selected_index);

// The move of a two-character navigation key, by its last character (the
// scan-code letter): "H"/"K" up one, "P"/"M" down one, "G" first, "O" last,
// "I" up a page, "Q" down a page; any other letter moves nothing. The result
// is clamped, as after every two-character key.
int MoveSelection(const FileTable& table, int selected_index, char scan_letter);

// The next entry after the selected one whose name's first byte is character
// (case counts), wrapping to the first entry; the selected entry itself is
// never reported. Without a match the selection stays.
int FindByFirstCharacter(const FileTable& table, int selected_index, char character);

// The next encrypted entry after the selected one, else the first encrypted
// entry from the start (which may be the selected one). Without any encrypted
// entry the selection stays.
int FindNextEncrypted(const FileTable& table, int selected_index);

// The name as shown: an encrypted entry's name without its 9-byte suffix. The
// view points into the entry.
std::string_view DisplayName(const FileEntry& entry);

}  // namespace quorvant
