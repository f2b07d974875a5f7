#pragma once

// Secure erase: overwrite a file once with random filler, sync, delete.
//
// What it does not protect against: copies the file system or the device
// keep elsewhere (journals, snapshots, copy-on-write file systems, flash
// wear levelling, backups) are not reached by an overwrite in place.

#include "files/file_calls.h"
#include "files/file_outcome.h"
#include "files/opened_file.h"

namespace quorvant {

// Overwrites `file` block by block (B = min(length, 16384)), each block with
// one byte value drawn anew for it from getrandom, then syncs the data
// (fdatasync) and only then deletes the file. The overwrite covers exactly the
// file's own length: the file never grows. An empty file is simply deleted.
//
// `progress` is called once per block before the block is written, and
// `sync_start` (when given) once after the last block is written, just before
// the sync. Cancel stops the erase and keeps the file; the blocks already
// written stay overwritten (condition PartlyOverwritten, or AsBefore when
// nothing was written yet). Blocks are written 64 at a time, so up to 63
// blocks prepared before the cancel are not written.
//
// A write, sync or delete error keeps the file and reports the error (the
// file may be partly overwritten). Refused, untouched: ReadOnly, AlreadyOpen,
// Vanished (see CheckReadyToChange). On success the condition is Erased; the
// descriptor in `file` then refers to the deleted file until it is closed.
FileReport SecureEraseFile(OpenedFile& file, const ProgressFunction& progress, FileCalls& calls,
                           const SyncStartFunction& sync_start = {});
FileReport SecureEraseFile(OpenedFile& file, const ProgressFunction& progress,
                           const SyncStartFunction& sync_start = {});

}  // namespace quorvant
