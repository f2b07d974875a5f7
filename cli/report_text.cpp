#include "cli/report_text.h"

namespace quorvant::cli {

namespace {

std::string_view Explanation(FileOutcome outcome) {
  switch (outcome) {
    case FileOutcome::AlreadyOpen: return " (another program has it open or locked)";
    case FileOutcome::ReadOnly: return " (it can be read but not changed)";
    case FileOutcome::Vanished: return " (it is no longer there under that name)";
    case FileOutcome::NotRegular: return " (symlinks, FIFOs, devices and folders are never opened)";
    default: return "";
  }
}

// `text` in single quotes for a shell (names often hold spaces and "[").
std::string ShellQuoted(std::string_view text) {
  std::string quoted = "'";
  for (const char character : Printable(text)) {
    if (character == '\'') {
      quoted += "'\\''";
    } else {
      quoted += character;
    }
  }
  return quoted + "'";
}

std::string ResumeCommand(std::string_view path, bool undo) {
  return "\"" + ResumeCommandFor(path, undo) + "\"";
}

std::string ConditionText(const FileReport& report, std::string_view path, Direction direction) {
  const std::string journal = Printable(report.journal);
  switch (report.condition) {
    case FileCondition::AsBefore:
      if (!report.journal.empty()) {
        return "; the file is unchanged, but its journal " + journal +
               " could not be removed: " + ResumeCommand(path, true) + " removes it";
      }
      return "; the file is unchanged";
    case FileCondition::PartlyOverwritten: return "; the file is kept, partly overwritten";
    case FileCondition::Interrupted:
      switch (report.outcome) {
        case FileOutcome::JournalDamaged:
          return "; nothing was changed. The journal " + journal +
                 " cannot be used; a person has to look at the file (see the README on journals)";
        case FileOutcome::Interrupted:
        case FileOutcome::WrongKey:
        case FileOutcome::NoMemory:
          // Refused before anything changed.
          return "; nothing was changed. The interrupted run's journal is " + journal + ": " +
                 ResumeCommand(path, false) + " finishes the run, " + ResumeCommand(path, true) +
                 " undoes it";
        default: break;
      }
      return "; THE RUN IS INTERRUPTED: the first " + std::to_string(report.done) + " of " +
             std::to_string(report.length) + " bytes are " +
             (direction == Direction::Encrypt ? "encrypted" : "decrypted") +
             ", the rest are as before, and its journal " + journal + " is kept. " +
             ResumeCommand(path, false) + " finishes it and " + ResumeCommand(path, true) +
             " undoes it (or select the file in the window, press Enter and type the key)";
    case FileCondition::RestoredNameTaken:
      return "; every byte is as before, but the file still has its encrypted name because its old name is "
             "taken. Its journal " +
             journal + " is kept, so that nothing decrypts it: once the old name is free, " +
             ResumeCommand(path, true) + " gives the file its name back";
    case FileCondition::Transformed:
      if (!report.journal.empty()) {
        return "; done, but its journal " + journal + " could not be removed: " + ResumeCommand(path, false) +
               " removes it";
      }
      break;
    case FileCondition::Erased: break;
  }
  return "";
}

}  // namespace

std::string ResumeCommandFor(std::string_view path, bool undo) {
  // A name beginning with "-" would read as an option.
  return std::string("quorvant-cli resume ") + (undo ? "--undo " : "") +
         (path.starts_with('-') ? "-- " : "") + ShellQuoted(path);
}

std::string DescribeRefusal(FileOutcome outcome, const Error& error) {
  std::string text(OutcomeText(outcome));
  text += Explanation(outcome);
  if (!error.action.empty() && outcome != FileOutcome::Cancelled) text += ": " + error.Describe();
  return text;
}

std::string DescribeReport(const FileReport& report, std::string_view path, Direction direction) {
  std::string text = DescribeRefusal(report.outcome, report.error);
  text += ConditionText(report, path.empty() ? std::string_view(report.name) : path, direction);
  return text;
}

std::string Printable(std::string_view text) {
  std::string shown(text);
  for (char& character : shown) {
    const auto code = static_cast<unsigned char>(character);
    if (code < 32 || code == 127) character = '?';
  }
  return shown;
}

}  // namespace quorvant::cli
