#pragma once

// Secure erase: overwrite a file once with random filler, sync, delete.
//
// What it does not protect against: copies the file system or the device
// keep elsewhere (journals, snapshots, copy-on-write file systems, flash
// wear levelling, backups) are not reached by an overwrite in place.

#include <sys/stat.h>
#include <sys/types.h>

#include "files/file_calls.h"
#include "files/file_outcome.h"
#include "files/opened_file.h"

namespace quorvant {

// Overwrites `file` block by block (B = min(length, 16384)), each block with
// one byte value drawn anew for it from getrandom, then syncs the data
// (fdatasync) and only then deletes the file. The overwrite covers exactly the
// file's own length: the file never grows. An empty file is simply deleted.
//
// Refused before anything is written (AsBefore): the refusals of
// CheckReadyToChange (ReadOnly, AlreadyOpen, ChangedElsewhere, Vanished,
// LinkedElsewhere), and NotDeletable when the file could not be deleted
// afterwards (FileMayBeDeleted): an overwritten file left behind helps no
// one.
//
// `progress` is called once per block before the block is written, and
// `sync_start` (when given) once after the last block is written, just before
// the sync. Cancel stops the erase and keeps the file: every block before the
// one the cancel came at is written and synced first, so that what the
// progress showed as done is done (condition PartlyOverwritten, or AsBefore
// when the cancel came at the first block).
//
// A write or random error keeps the file (PartlyOverwritten when any block
// was written). Once every block is written, a failed sync, or a failed
// delete, keeps the file with condition Overwritten. On success the
// condition is Erased; the descriptor in `file` then refers to the deleted
// file until it is closed.
FileReport SecureEraseFile(OpenedFile& file, const ProgressFunction& progress, FileCalls& calls,
                           const SyncStartFunction& sync_start = {});
FileReport SecureEraseFile(OpenedFile& file, const ProgressFunction& progress,
                           const SyncStartFunction& sync_start = {});

// Whether `file` could be deleted from its folder by this process: the
// folder is writable and searchable for it (faccessat with the effective
// user), and, in a sticky folder (as /tmp), it owns the file or the folder,
// or is privileged. Yes, or NotDeletable with the reason.
FileStatus FileMayBeDeleted(const OpenedFile& file, FileCalls& calls);

// The sticky-folder rule on its own: in a folder with the sticky bit only
// the file's owner, the folder's owner or a privileged process may delete
// (or rename) a file.
bool StickyFolderAllowsDelete(const struct stat& folder, const struct stat& file, uid_t user,
                              bool privileged);

}  // namespace quorvant
