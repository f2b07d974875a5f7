#pragma once

// Erasing a file whose run was cut short: its journal holds part of the
// file's content (plain text after a decryption), so it is erased with it.

#include <string_view>

#include "base/progress.h"
#include "files/file_calls.h"
#include "files/file_outcome.h"
#include "files/opened_file.h"

namespace quorvant {

// SecureEraseFile (erase/secure_erase.h) of `file`; when the file has an
// interrupted run, its journal is overwritten, synced and deleted first
// (report.journal_erased). Before the journal is touched, the file must be
// one the erase would not refuse (ready to change, deletable): a journal is
// never erased for a file that then stays. The journal is the file's as
// FindJournalName (rewrite/journal_file.h) finds it, whether it is whole or
// not; an orphan of another run stays. When the journal's erase fails, the
// file is not touched (AsBefore) and the error says so.
FileReport EraseFileAndJournal(OpenedFile& file, const ProgressFunction& progress, FileCalls& calls,
                               const SyncStartFunction& sync_start = {});

// Forgets the journal `name` of `folder` whose file is gone (an orphan, as
// rewrite/journal_list.h tells): it may hold up to a window of the file's
// content, plain text after a decryption, so it is overwritten, synced and
// deleted (SecureEraseFile), never just deleted. Refused with Interrupted,
// and report.name the file's name, when its file is there: a resume, or
// resume --undo, ends the run and the journal with it.
FileReport ForgetJournal(int folder, std::string_view name, FileCalls& calls);

}  // namespace quorvant
