#include "rewrite/erase_with_journal.h"

#include <fcntl.h>
#include <sys/stat.h>

#include "erase/secure_erase.h"
#include "rewrite/journal_format.h"

namespace quorvant {

namespace {

FileReport Refused(const OpenedFile& file, FileOutcome outcome, Error error) {
  FileReport report;
  report.outcome = outcome;
  report.condition = FileCondition::AsBefore;
  report.name = file.Name();
  report.length = file.Length();
  report.error = std::move(error);
  return report;
}

}  // namespace

FileReport EraseFileAndJournal(OpenedFile& file, const ProgressFunction& progress, FileCalls& calls,
                               const SyncStartFunction& sync_start) {
  // The journal named for the file's inode: this file's, damaged or not, or
  // one left by a deleted file whose inode this file now has. Either way it
  // is of no use once the file is gone.
  const std::string journal_name = JournalName(file.Inode());
  struct stat journal_status {};
  if (calls.StatAt(file.Folder(), journal_name.c_str(), &journal_status, AT_SYMLINK_NOFOLLOW) != 0) {
    return SecureEraseFile(file, progress, calls, sync_start);
  }

  // The file's own refusals first: the journal is the only way to finish or
  // undo the run, and goes only together with the file.
  if (FileStatus ready = CheckReadyToChange(file, calls); !ready) {
    return Refused(file, ready.error().outcome, std::move(ready.error().error));
  }
  if (FileStatus deletable = FileMayBeDeleted(file, calls); !deletable) {
    return Refused(file, deletable.error().outcome, std::move(deletable.error().error));
  }
  OpenAttempt opened = OpenFileInFolder(file.Folder(), journal_name, calls);
  if (opened.outcome != FileOutcome::Done) {
    return Refused(file, opened.outcome, Error{opened.error.code, "open the journal " + journal_name});
  }
  const FileReport journal_report = SecureEraseFile(*opened.file, {}, calls);
  if (journal_report.outcome != FileOutcome::Done) {
    return Refused(file, journal_report.outcome,
                   Error{journal_report.error.code, "erase the journal " + journal_name + " (" +
                                                        journal_report.error.action + ")"});
  }
  FileReport report = SecureEraseFile(file, progress, calls, sync_start);
  report.journal_erased = true;
  return report;
}

}  // namespace quorvant
