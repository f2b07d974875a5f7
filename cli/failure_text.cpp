#include "cli/failure_text.h"

#include <cstring>

#include "cli/name_quoting.h"

namespace quorvant::cli {

namespace {

std::string_view OutcomeWords(FileOutcome outcome) {
  switch (outcome) {
    case FileOutcome::Done: return "done";
    case FileOutcome::Cancelled: return "cancelled";
    case FileOutcome::AlreadyOpen: return "another program has it open or locked";
    case FileOutcome::ReadOnly: return "read only: it can be read but not changed";
    case FileOutcome::Vanished: return "no longer there under that name";
    case FileOutcome::NotRegular: return "not a regular file";
    case FileOutcome::NameInUse: return "the new name is taken";
    case FileOutcome::NameTooLong: return "the new name would be too long";
    case FileOutcome::NameInvalid: return "not an encrypted name";
    case FileOutcome::OpenError: return "cannot open";
    case FileOutcome::ReadError: return "read error";
    case FileOutcome::WriteError: return "write error";
    case FileOutcome::SyncError: return "sync error";
    case FileOutcome::RenameError: return "cannot rename";
    case FileOutcome::DeleteError: return "cannot delete";
    case FileOutcome::RandomError: return "no random bytes";
  }
  return "failed";
}

// The refusals say all in their words; the errno behind them adds nothing.
bool ShowsSystemError(FileOutcome outcome) {
  switch (outcome) {
    case FileOutcome::OpenError:
    case FileOutcome::ReadError:
    case FileOutcome::WriteError:
    case FileOutcome::SyncError:
    case FileOutcome::RenameError:
    case FileOutcome::DeleteError:
    case FileOutcome::RandomError: return true;
    default: return false;
  }
}

}  // namespace

std::string DescribeFailure(FileOutcome outcome, const Error& error) {
  std::string text(OutcomeWords(outcome));
  if (ShowsSystemError(outcome)) {
    text += ": ";
    // A read that found the file shorter than it was is no failed call.
    text += error.code != 0 ? std::strerror(error.code) : "the file ended early";
  }
  return text;
}

std::string DescribeTransformReport(const FileReport& report, std::string_view new_path) {
  std::string text = report.outcome == FileOutcome::NameInUse && !new_path.empty()
                         ? QuoteName(new_path) + " exists already"
                         : DescribeFailure(report.outcome, report.error);
  switch (report.condition) {
    case FileCondition::AsBefore: text += "; the file is unchanged"; break;
    case FileCondition::Transformed:
      text += "; the file is done, but its new name may not survive a power loss";
      break;
    case FileCondition::PartlyTransformed:
      text +=
          "; THE FILE COULD NOT BE RESTORED and is partly transformed. Its name keeps the encrypted-name "
          "suffix, which is needed with the key to recover it";
      break;
    case FileCondition::PartlyOverwritten:
    case FileCondition::Erased: break;
  }
  return text;
}

}  // namespace quorvant::cli
