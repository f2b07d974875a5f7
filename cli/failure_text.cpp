#include "cli/failure_text.h"

#include "cli/name_quoting.h"

namespace quorvant::cli {

std::string ResumeCommandFor(std::string_view path, bool undo) {
  // A name beginning with "-" would read as an option.
  return std::string("quorvant-cli resume ") + (undo ? "--undo " : "") +
         (path.starts_with('-') ? "-- " : "") + QuoteName(path);
}

namespace {

// "the first 4096 of 10000 bytes are encrypted": how far a stopped run got.
std::string BytesDoneWords(const FileReport& report, Direction direction) {
  return "the first " + std::to_string(report.done) + " of " + std::to_string(report.length) + " bytes are " +
         (direction == Direction::Encrypt ? "encrypted" : "decrypted");
}

// What went wrong, before the state the file is left in.
std::string FailureWords(const FileReport& report, std::string_view new_path) {
  if (report.outcome == FileOutcome::NoSpace && report.condition == FileCondition::Interrupted) {
    // Out of space once the run had begun: an overwrite in place needs room
    // too on a copy-on-write file system, whatever was reserved beforehand.
    return "the disk ran out of space part-way (" + report.error.Describe() + ")";
  }
  return report.outcome == FileOutcome::NameInUse && !new_path.empty()
             ? QuoteName(new_path) + " exists already"
             : DescribeFailure(report.outcome, report.error);
}

// The commands a message offers for the file's run, ready to paste, and its
// journal's quoted name.
struct RunCommands {
  std::string finish;
  std::string undo;
  std::string journal;
};

std::string UnchangedWords(const FileReport& report, const RunCommands& commands) {
  std::string text = "; the file is unchanged";
  if (report.outcome == FileOutcome::KeyLooksWrong) text += " (decrypt --force decrypts it all the same)";
  if (!report.journal.empty()) {
    text += ", but its journal " + commands.journal + " is left: " + commands.undo + " removes it";
  }
  return text;
}

std::string TransformedWords(const FileReport& report, const RunCommands& commands) {
  if (!report.journal.empty()) {
    return "; the file is done, but its journal " + commands.journal + " is left: " + commands.finish +
           " removes it";
  }
  return "; the file is done, but its new name may not survive a power loss";
}

std::string JournalDamagedWords(const FileReport& report, Direction direction, const RunCommands& commands) {
  std::string text = "; nothing was changed. ";
  if (report.in_doubt > 0) {
    // Said plainly, so that the user knows which bytes to mistrust.
    text += "The journal's copy of the bytes the run was writing is damaged: " +
            BytesDoneWords(report, direction) + ", the next " + std::to_string(report.in_doubt) +
            " are in doubt, the rest are as before. ";
  }
  return text + "The journal " + commands.journal +
         " cannot be trusted and is kept; look at the file before doing anything else with it";
}

// A run stopped part-way, its journal kept: which bytes are done, which may
// be torn, and the commands that finish or undo it.
std::string StoppedRunWords(const FileReport& report, Direction direction, const RunCommands& commands) {
  std::string text =
      "; THE RUN IS INTERRUPTED: " + BytesDoneWords(report, direction) + " and the rest are as before";
  if (report.torn_length > 0) {
    // Said, so that nobody takes "the first 0 bytes" for an untouched file.
    text += ", except bytes " + std::to_string(report.torn_from) + " to " +
            std::to_string(report.torn_from + report.torn_length - 1) +
            ", which were being written when it stopped (the journal holds them whole, and either "
            "command below writes them whole first)";
  }
  return text + ". Its journal " + commands.journal + " is kept. " + commands.finish + " finishes the run, " +
         commands.undo + " undoes it (or select the file in the window, press Enter and type the key)";
}

std::string InterruptedWords(const FileReport& report, Direction direction, const RunCommands& commands) {
  switch (report.outcome) {
    case FileOutcome::JournalDamaged: return JournalDamagedWords(report, direction, commands);
    case FileOutcome::Interrupted:
    case FileOutcome::WrongKey:
    case FileOutcome::NoMemory:
      // Refused before anything changed.
      return "; nothing was changed. " + commands.finish + " finishes the interrupted run, " + commands.undo +
             " undoes it";
    case FileOutcome::ChangedElsewhere:
      // The journal no longer fits the file: a resume would refuse it.
      return "; the run stopped: " + BytesDoneWords(report, direction) +
             ", and the other program's change cannot be undone. Its journal " + commands.journal +
             " is kept; look at the file before doing anything else with it";
    default: return StoppedRunWords(report, direction, commands);
  }
}

}  // namespace

std::string DescribeTransformReport(const FileReport& report, std::string_view new_path,
                                    std::string_view path_now, Direction direction) {
  const RunCommands commands{ResumeCommandFor(path_now, false), ResumeCommandFor(path_now, true),
                             QuoteName(report.journal)};
  std::string text = FailureWords(report, new_path);
  switch (report.condition) {
    case FileCondition::AsBefore: return text + UnchangedWords(report, commands);
    case FileCondition::Transformed: return text + TransformedWords(report, commands);
    case FileCondition::Interrupted: return text + InterruptedWords(report, direction, commands);
    case FileCondition::RestoredNameTaken:
      return text +
             "; every byte is as before, but the file keeps its encrypted name because its old name is "
             "taken. Its journal " +
             commands.journal + " is kept so that nothing decrypts it: once the old name is free, " +
             commands.undo + " gives the file its name back";
    case FileCondition::UndoneChangedElsewhere:
      return text +
             "; what the run did is undone and the name is as before, but the other program may have "
             "changed the file meanwhile: look at it before doing anything else with it";
    case FileCondition::PartlyOverwritten:
    case FileCondition::Overwritten:
    case FileCondition::Erased: break;
  }
  return text;
}

}  // namespace quorvant::cli
