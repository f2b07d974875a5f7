#pragma once

// Erasing a file whose run was cut short: its journal holds part of the
// file's content (plain text after a decryption), so it is erased with it.

#include "base/progress.h"
#include "files/file_calls.h"
#include "files/file_outcome.h"
#include "files/opened_file.h"

namespace quorvant {

// SecureEraseFile (erase/secure_erase.h) of `file`; when the file has an
// interrupted run, its journal is overwritten, synced and deleted first
// (report.journal_erased). Before the journal is touched, the file must be
// one the erase would not refuse (ready to change, deletable): a journal is
// never erased for a file that then stays. The journal is the one named for
// the file's inode, whether it is whole or not. When the journal's erase
// fails, the file is not touched (AsBefore) and the error says so.
FileReport EraseFileAndJournal(OpenedFile& file, const ProgressFunction& progress, FileCalls& calls,
                               const SyncStartFunction& sync_start = {});

}  // namespace quorvant
