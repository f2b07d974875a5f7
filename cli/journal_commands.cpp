// resume --list: the journals of a folder and what each belongs to, read
// only, no key. resume --forget: an orphan journal is erased (it may hold
// part of its file, plain text after a decryption); a file's mark of a run
// whose journal is lost is removed once the user has read what that means.

#include "cli/journal_commands.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <string>

#include "cli/failure_text.h"
#include "cli/file_argument.h"
#include "cli/key_prompt.h"
#include "cli/name_quoting.h"
#include "files/file_calls.h"
#include "rewrite/erase_with_journal.h"
#include "rewrite/journal_file.h"
#include "rewrite/journal_list.h"
#include "rewrite/run_mark.h"

namespace quorvant::cli {

namespace {

std::string Verb(Direction direction) { return direction == Direction::Encrypt ? "encrypt" : "decrypt"; }

// "encrypt, 32768 of 114788 bytes done", or while undone, how much is still
// in the run's target form.
std::string Progress(const JournalListing& journal) {
  const JournalRunHeader& header = *journal.header;
  const std::string of = std::to_string(journal.done) + " of " + std::to_string(header.length) + " bytes";
  if (journal.phase == JournalPhase::Undo) {
    return Verb(header.direction) + " being undone, " + of + " still " + Verb(header.direction) + "ed";
  }
  return Verb(header.direction) + ", " + of + " done";
}

std::string DescribeListing(const JournalListing& journal) {
  std::string text = QuoteName(journal.name) + ": ";
  if (journal.file) {
    text += QuoteName(*journal.file);
  } else {
    text += "orphan: its file is gone";
    if (journal.header) text += " (it was " + QuoteName(journal.header->old_name) + ")";
  }
  text += journal.header ? ", " + Progress(journal) : ", its header is damaged";
  return text;
}

UniqueFd OpenFolder(const std::string& path) {
  return UniqueFd(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// Overwrites, syncs and deletes the orphan journal `path`.
bool ForgetJournalAt(const FileArgument& journal, CommandContext& context) {
  UniqueFd folder = OpenFolder(journal.folder);
  if (!folder.IsOpen()) {
    context.messages.FileFailure(journal.path, DescribeFailure(FileOutcome::OpenError, Error::FromErrno("")) +
                                                   "; not forgotten");
    return false;
  }
  FileCalls calls;
  const FileReport report = ForgetJournal(folder.Get(), journal.name, calls);
  if (report.outcome == FileOutcome::Done) {
    context.messages.Result("forgot " + QuoteName(journal.path) + ": overwritten and deleted");
    return true;
  }
  if (report.outcome == FileOutcome::Interrupted) {
    const std::string file = PathInFolder(journal, report.name);
    context.messages.FileFailure(journal.path, "it is the journal of " + QuoteName(file) + ", still there: " +
                                                   ResumeCommandFor(file, false) + " finishes its run, " +
                                                   ResumeCommandFor(file, true) +
                                                   " undoes it, and either ends the journal; not forgotten");
    return false;
  }
  context.messages.FileFailure(journal.path, DescribeFailure(report.outcome, report.error) + "; not forgotten");
  return false;
}

bool Confirmed(const FileArgument& file, CommandContext& context) {
  context.messages.Prompt("forget the run of " + QuoteName(file.path) + "? [y/N] ");
  std::string answer;
  if (ReadTerminalLine(answer, 8, context.signals) != LineOutcome::Read) return false;
  for (char& character : answer)
    character = static_cast<char>(std::tolower(static_cast<unsigned char>(character)));
  return answer == "y" || answer == "yes";
}

// Removes the mark of a run whose journal is gone, once the user agrees.
bool ForgetFileRun(const FileArgument& file, bool ask, CommandContext& context) {
  Messages& messages = context.messages;
  std::optional<OpenedFile> opened = OpenForChange(file, messages, "; not forgotten");
  if (!opened) return false;
  FileCalls calls;
  const Result<RunMark> mark = ReadRunMark(opened->Descriptor(), calls);
  const Result<std::optional<std::string>> journal = FindJournalName(*opened, calls);
  if (!mark || !journal) {
    messages.FileFailure(file.path, DescribeFailure(FileOutcome::ReadError, mark ? journal.error() : mark.error()) +
                                        "; not forgotten");
    return false;
  }
  if (*journal) {
    messages.FileFailure(file.path, "its run's journal " + QuoteName(**journal) + " is there: " +
                                        ResumeCommandFor(file.path, false) + " finishes the run, " +
                                        ResumeCommandFor(file.path, true) + " undoes it; not forgotten");
    return false;
  }
  if (!mark->run) {
    messages.Result(QuoteName(file.path) + ": no run's mark; nothing to forget");
    return true;
  }
  messages.Prompt(QuoteName(file.path) +
                  " is marked for a run whose journal is gone. Without it, how far the run got is\n"
                  "unknown: some bytes may be encrypted and the rest plain, and nothing tells which.\n"
                  "Erase the file, or keep it and try decrypt at your own risk. Forgetting removes\n"
                  "only the mark; no byte changes.\n");
  if (ask && !context.signals.Requested() && !Confirmed(file, context)) {
    messages.Result("kept the mark of " + QuoteName(file.path));
    return true;
  }
  if (context.signals.StopRequested()) {
    messages.NotStarted(file.path, "not forgotten");
    return false;
  }
  if (Status cleared = ClearRunMark(opened->Descriptor(), calls); !cleared) {
    messages.FileFailure(file.path, DescribeFailure(FileOutcome::WriteError, cleared.error()) + "; not forgotten");
    return false;
  }
  messages.Result("forgot the run of " + QuoteName(file.path) + ": its mark is removed");
  return true;
}

}  // namespace

int ListJournalsCommand(const CommandLine& line, CommandContext& context) {
  if (line.files.size() > 1) return context.messages.UsageError(line.command, "--list takes one FOLDER");
  const std::string path = line.files.empty() ? "." : std::string(line.files.front());
  UniqueFd folder = OpenFolder(path);
  FileCalls calls;
  const Result<std::vector<JournalListing>> journals =
      folder.IsOpen() ? ListJournals(folder.Get(), calls) : Result<std::vector<JournalListing>>(Error::FromErrno(""));
  if (!journals) {
    context.messages.FileFailure(path, DescribeFailure(FileOutcome::OpenError, journals.error()));
    return ExitFailure;
  }
  if (journals->empty()) context.messages.Result("no journal in " + QuoteName(path));
  for (const JournalListing& journal : *journals) context.messages.Result(DescribeListing(journal));
  return ExitSuccess;
}

int ForgetCommand(const CommandLine& line, CommandContext& context) {
  const bool ask = !line.Has("--yes");
  std::vector<FileArgument> journals;
  std::vector<std::string_view> files;
  bool any_failed = false;
  for (std::string_view path : line.files) {
    const std::optional<FileArgument> split = SplitFileArgument(path);
    if (split && IsJournalName(split->name)) {
      journals.push_back(*split);
    } else {
      files.push_back(path);
    }
  }
  if (!files.empty() && ask && !isatty(0)) {
    return context.messages.UsageError(line.command, "standard input is not a terminal to confirm on; give --yes");
  }
  for (const FileArgument& journal : journals) {
    if (!ForgetJournalAt(journal, context)) any_failed = true;
  }
  const std::vector<FileArgument> checked = CheckFileArguments(files, context.messages);
  any_failed = any_failed || checked.size() != files.size();
  for (const FileArgument& file : checked) {
    if (!ForgetFileRun(file, ask, context)) any_failed = true;
  }
  return any_failed ? ExitFailure : ExitSuccess;
}

}  // namespace quorvant::cli
