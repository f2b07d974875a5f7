#include "cli/failure_text.h"

#include "cli/name_quoting.h"

namespace quorvant::cli {

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
