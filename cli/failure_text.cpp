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
    case FileOutcome::WrongKey: return "wrong key";
    case FileOutcome::NoSpace: return "no space for the run's journal";
    case FileOutcome::NoMemory: return "not enough memory for the key check";
    case FileOutcome::Interrupted: return "an earlier run on it was cut short";
    case FileOutcome::NothingToResume: return "no interrupted run";
    case FileOutcome::JournalDamaged: return "its journal cannot be used";
    case FileOutcome::NotAJournal: return "the name its journal would have is taken";
    case FileOutcome::KeyLooksWrong:
      return "the key looks wrong: no key check is stored with the file, and decrypted with this key its "
             "start looks like noise, not like a file";
    case FileOutcome::LinkedElsewhere:
      return "it has another name (a hard link), which would be left with a file that no longer fits it";
    case FileOutcome::OpenedElsewhere: return "another program opened it during the run";
    case FileOutcome::ChangedElsewhere: return "another program changed its length";
    case FileOutcome::NotDeletable: return "it could not be deleted from its folder afterwards";
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
    case FileOutcome::RandomError:
    case FileOutcome::NotDeletable: return true;
    default: return false;
  }
}

}  // namespace

std::string DescribeFailure(FileOutcome outcome, const Error& error) {
  std::string text(OutcomeWords(outcome));
  // What took the name, and what to do about it.
  if (outcome == FileOutcome::NotAJournal && !error.action.empty()) text += ": " + error.action;
  if (ShowsSystemError(outcome)) {
    text += ": ";
    // A read that found the file shorter than it was is no failed call.
    text += error.code != 0 ? std::strerror(error.code) : "the file ended early";
  }
  return text;
}

std::string ResumeCommandFor(std::string_view path, bool undo) {
  // A name beginning with "-" would read as an option.
  return std::string("quorvant-cli resume ") + (undo ? "--undo " : "") +
         (path.starts_with('-') ? "-- " : "") + QuoteName(path);
}

std::string DescribeTransformReport(const FileReport& report, std::string_view new_path,
                                    std::string_view path_now, Direction direction) {
  std::string text = report.outcome == FileOutcome::NameInUse && !new_path.empty()
                         ? QuoteName(new_path) + " exists already"
                         : DescribeFailure(report.outcome, report.error);
  // Out of space once the run had begun: an overwrite in place needs room
  // too on a copy-on-write file system, whatever was reserved beforehand.
  if (report.outcome == FileOutcome::NoSpace && report.condition == FileCondition::Interrupted) {
    text = "the disk ran out of space part-way (" + report.error.Describe() + ")";
  }
  const std::string finish = ResumeCommandFor(path_now, false);
  const std::string undo = ResumeCommandFor(path_now, true);
  const std::string journal = QuoteName(report.journal);
  switch (report.condition) {
    case FileCondition::AsBefore:
      text += "; the file is unchanged";
      if (report.outcome == FileOutcome::KeyLooksWrong) text += " (decrypt --force decrypts it all the same)";
      if (!report.journal.empty())
        text += ", but its journal " + journal + " is left: " + undo + " removes it";
      break;
    case FileCondition::Transformed:
      if (!report.journal.empty()) {
        text += "; the file is done, but its journal " + journal + " is left: " + finish + " removes it";
      } else {
        text += "; the file is done, but its new name may not survive a power loss";
      }
      break;
    case FileCondition::Interrupted:
      switch (report.outcome) {
        case FileOutcome::JournalDamaged:
          text += "; nothing was changed. ";
          if (report.in_doubt > 0) {
            // Said plainly, so that the user knows which bytes to mistrust.
            text += "The journal's copy of the bytes the run was writing is damaged: the first " +
                    std::to_string(report.done) + " of " + std::to_string(report.length) + " bytes are " +
                    (direction == Direction::Encrypt ? "encrypted" : "decrypted") + ", the next " +
                    std::to_string(report.in_doubt) + " are in doubt, the rest are as before. ";
          }
          text += "The journal " + journal +
                  " cannot be trusted and is kept; look at the file before doing "
                  "anything else with it";
          return text;
        case FileOutcome::Interrupted:
        case FileOutcome::WrongKey:
        case FileOutcome::NoMemory:
          // Refused before anything changed.
          text +=
              "; nothing was changed. " + finish + " finishes the interrupted run, " + undo + " undoes it";
          return text;
        case FileOutcome::ChangedElsewhere:
          // The journal no longer fits the file: a resume would refuse it.
          text += "; the run stopped: the first " + std::to_string(report.done) + " of " +
                  std::to_string(report.length) + " bytes are " +
                  (direction == Direction::Encrypt ? "encrypted" : "decrypted") +
                  ", and the other program's change cannot be undone. Its journal " + journal +
                  " is kept; look at the file before doing anything else with it";
          return text;
        default: break;
      }
      text += "; THE RUN IS INTERRUPTED: the first " + std::to_string(report.done) + " of " +
              std::to_string(report.length) + " bytes are " +
              (direction == Direction::Encrypt ? "encrypted" : "decrypted") + " and the rest are as before";
      if (report.torn_length > 0) {
        // Said, so that nobody takes "the first 0 bytes" for an untouched file.
        text += ", except bytes " + std::to_string(report.torn_from) + " to " +
                std::to_string(report.torn_from + report.torn_length - 1) +
                ", which were being written when it stopped (the journal holds them whole, and either "
                "command below writes them whole first)";
      }
      text += ". Its journal " + journal + " is kept. " + finish + " finishes the run, " + undo +
              " undoes it (or select the file in the window, press Enter and type the key)";
      break;
    case FileCondition::RestoredNameTaken:
      text +=
          "; every byte is as before, but the file keeps its encrypted name because its old name is "
          "taken. Its journal " +
          journal + " is kept so that nothing decrypts it: once the old name is free, " + undo +
          " gives the file its name back";
      break;
    case FileCondition::UndoneChangedElsewhere:
      text +=
          "; what the run did is undone and the name is as before, but the other program may have "
          "changed the file meanwhile: look at it before doing anything else with it";
      break;
    case FileCondition::PartlyOverwritten:
    case FileCondition::Overwritten:
    case FileCondition::Erased: break;
  }
  return text;
}

}  // namespace quorvant::cli
