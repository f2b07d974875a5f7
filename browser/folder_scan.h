#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "base/result.h"
#include "browser/file_table.h"
#include "files/own_files.h"

namespace quorvant {

// Lets a test act between reading an entry's name and looking at the entry
// (to make a file vanish or change kind at that moment), and count listings
// or make one fail. Not for production.
struct FolderScanSeam {
  std::function<void(std::string_view name)> BeforeStat;
  // Called as each listing begins; an errno it returns makes the opening of
  // the folder fail with it (0: opened as usual).
  std::function<int()> BeforeOpen;
};

// Lists the folder open as folder_fd into table, in name order (ListedBefore):
// regular, non-empty files only, at most FileTable::Capacity of them (the rest
// are ignored). Never listed: names beginning with ".", names beginning with
// the program's name, folders, symbolic links, FIFOs, sockets and devices.
// Nothing is opened but the folder itself and regular files named in the
// strong format's shape (read-only, never through a link, non-blocking), so a
// FIFO cannot hang the scan.
// Sets each entry's encrypted_flag and the table's EncryptedCount: a name of
// the classic shape (HasEncryptedSuffixShape) is encrypted; one of the strong
// shape (HasStrongSuffixShape) is when the file's end holds a trailer's mark
// (sound or not, as decrypting it judges the end), or the file carries a
// run's mark (it is not opened then: the open would break the run's lease).
// Other names are plain.
// and marks as interrupted each entry whose inode a journal in the folder is named for,
// or that carries the mark of a run a journal in the folder is named for (read by path).
//
// The table's storage is reused: a scan of an unchanged folder allocates
// nothing beyond the folder handle. folder_fd may be an O_PATH descriptor; its
// file position is not touched.
//
// An unreadable folder lists as empty and the error is returned; a read error
// part-way keeps what was listed before it. A file that vanishes while being
// listed is skipped.
Status FolderScan(int folder_fd, FileTable& table, const FolderScanSeam* seam = nullptr);

// Whether a file of this name could be listed at all: false for the names
// that never are (hidden ones, the program's own files).
bool NameMayBeListed(std::string_view name);

// Brings the size of the listed entry `name` up to date with one look at the
// file (no listing), and for a strong-shaped name whether it is encrypted, as
// FolderScan judges it (EncryptedCount follows): true when done. False when only a whole listing can be
// right: the name is not in the table, or no longer names the same listable
// file (gone, emptied, another kind, another inode).
bool UpdateEntry(int folder_fd, FileTable& table, const std::string& name);

// The listing order: names compared byte by byte with ASCII letters folded
// to lower case, then shorter first, then by their exact bytes, so that the
// order is total and "read.me", "Report", "rules" list in that order.
bool ListedBefore(std::string_view a, std::string_view b);

// What the main loop does after each scan.
struct ScanDecision {
  // The selection, clamped into 1..FileCount at once when the folder shrank
  // below it (unchanged when the folder is empty).
  int SelectedIndex = 1;
  // The folder has no listable file: the "Empty folder" exit.
  bool FolderEmpty = false;
  // The selected entry must be drawn again: its name or size differs from the
  // last shown ones, or the clamp moved the selection. After drawing, the
  // caller records the entry's name and size as the last shown ones.
  bool RedrawSelected = false;
};

ScanDecision DecideAfterScan(const FileTable& table, int selected_index, std::string_view last_shown_name,
                             std::uint64_t last_shown_size);

}  // namespace quorvant
