#include "rewrite/erase_with_journal.h"

#include <fcntl.h>
#include <sys/stat.h>

#include "erase/secure_erase.h"
#include "rewrite/journal_file.h"
#include "rewrite/journal_list.h"

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
  // The file's journal, damaged or not: of no use once the file is gone.
  const Result<std::optional<std::string>> found = FindJournalName(file, calls);
  if (!found) return Refused(file, FileOutcome::ReadError, found.error());
  if (!*found) return SecureEraseFile(file, progress, calls, sync_start);
  const std::string& journal_name = **found;

  // The file's own refusals first: the journal is the only way to finish or
  // undo the run, and goes only together with the file.
  if (FileStatus ready = CheckReadyToChange(file, calls); !ready) {
    return Refused(file, ready.error().outcome, std::move(ready.error().error));
  }
  if (FileStatus deletable = FileMayBeDeleted(file, calls); !deletable) {
    return Refused(file, deletable.error().outcome, std::move(deletable.error().error));
  }
  FileResult<OpenedFile> opened = OpenFileInFolder(file.Folder(), journal_name, calls);
  if (!opened) {
    return Refused(file, opened.error().outcome,
                   Error{opened.error().error.code, "open the journal " + journal_name});
  }
  const FileReport journal_report = SecureEraseFile(*opened, {}, calls);
  if (journal_report.outcome != FileOutcome::Done) {
    return Refused(file, journal_report.outcome,
                   Error{journal_report.error.code, "erase the journal " + journal_name + " (" +
                                                        journal_report.error.action + ")"});
  }
  FileReport report = SecureEraseFile(file, progress, calls, sync_start);
  report.journal_erased = true;
  return report;
}

FileReport ForgetJournal(int folder, std::string_view name, FileCalls& calls) {
  const JournalListing journal = LookAtJournal(folder, name, calls);
  if (journal.file) {
    FileReport refused;
    refused.outcome = FileOutcome::Interrupted;
    refused.condition = FileCondition::AsBefore;
    refused.name = *journal.file;
    refused.error = Error{0, std::string(name) + " belongs to " + *journal.file};
    return refused;
  }
  FileResult<OpenedFile> opened = OpenFileInFolder(folder, name, calls);
  if (!opened) {
    FileReport refused;
    refused.outcome = opened.error().outcome;
    refused.name = std::string(name);
    refused.error = opened.error().error;
    return refused;
  }
  return SecureEraseFile(*opened, {}, calls);
}

}  // namespace quorvant
