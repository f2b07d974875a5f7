// quorvant-cli resume [--undo] FILE...: finishes (or, with --undo, takes
// back) a run on each FILE that a kill or a power loss cut short, from the
// journal the run left in the file's folder. FILE is named as it is now.

#include <fcntl.h>

#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/failure_text.h"
#include "cli/file_argument.h"
#include "cli/key_prompt.h"
#include "cli/name_quoting.h"
#include "cli/progress_bar.h"
#include "cli/transform_files.h"
#include "rewrite/file_transform.h"
#include "rewrite/journal_file.h"

namespace quorvant::cli {

namespace {

bool ResumeOne(const FileArgument& file, const KeyText& key, ResumeMode mode, CommandContext& context) {
  Messages& messages = context.messages;
  std::optional<OpenedFile> opened = OpenForChange(file, messages);
  if (!opened) return false;
  FileCalls calls;
  const InterruptedRunAnswer found = FindInterruptedRun(*opened, calls);
  if (found.outcome == FileOutcome::NothingToResume) {
    messages.Result(QuoteName(file.path) + ": no interrupted run; nothing to do");
    return true;
  }
  if (found.outcome != FileOutcome::Done) {
    FileReport refused;
    refused.outcome = found.outcome;
    refused.error = found.error;
    refused.condition = FileCondition::Interrupted;
    refused.journal = JournalName(opened->Inode());
    messages.FileFailure(file.path, DescribeTransformReport(refused, {}, file.path, Direction::Encrypt));
    return false;
  }
  const Direction direction = found.run->direction;
  const char* verb = mode == ResumeMode::Undo          ? "Undoing "
                     : direction == Direction::Encrypt ? "Encrypting "
                                                       : "Decrypting ";
  ProgressBar bar(verb + QuoteName(file.name), context.clock, messages);
  const std::int64_t length = opened->Length();
  TransformSettings settings;
  settings.sync_start = [&] { bar.ShowSyncing(length); };
  settings.key_checker = context.key_checker;
  const FileReport report =
      ResumeFile(*opened, key.View(), mode, FollowOnBar(bar, context.signals, length), calls, settings);
  bar.Clear();
  const std::string path_now = PathInFolder(file, report.name);
  if (report.outcome == FileOutcome::Done) {
    messages.Result(std::string(report.condition == FileCondition::AsBefore ? "undone " : "finished ") +
                    QuoteName(file.path) + " -> " + QuoteName(path_now));
    if (!report.journal.empty()) {
      messages.FileFailure(path_now, DescribeTransformReport(report, {}, path_now, direction));
    }
    return true;
  }
  messages.FileFailure(file.path, DescribeTransformReport(report, {}, path_now, direction));
  return false;
}

}  // namespace

int ResumeCommand(const CommandLine& line, CommandContext& context) {
  Messages& messages = context.messages;
  const ResumeMode mode = line.Has("--undo") ? ResumeMode::Undo : ResumeMode::Finish;

  // Files without a journal are named and left alone, before any key is asked.
  std::vector<FileArgument> files;
  std::vector<FileArgument> named = CheckFileArguments(line.files, messages);
  bool any_failed = named.size() != line.files.size();
  for (FileArgument& file : named) {
    UniqueFd folder(open(file.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    FileCalls calls;
    if (folder.IsOpen() && !HasJournal(folder.Get(), file.name, calls)) {
      if (std::optional<Error> taken = NotAJournalAt(folder.Get(), file.name, calls)) {
        messages.FileFailure(file.path, DescribeFailure(FileOutcome::NotAJournal, *taken));
        any_failed = true;
      } else {
        messages.Result(QuoteName(file.path) + ": no interrupted run; nothing to do");
      }
      continue;
    }
    files.push_back(std::move(file));
  }
  if (files.empty()) return any_failed ? ExitFailure : ExitSuccess;

  return RunWithKey(
      line, context, files, KeyConfirmation::Once, any_failed, "its run stays interrupted",
      [&](const FileArgument& file, const KeyText& key) { return ResumeOne(file, key, mode, context); });
}

}  // namespace quorvant::cli
