// quorvant-cli resume [--undo] FILE...: finishes (or, with --undo, takes
// back) a run on each FILE that a kill or a power loss cut short, from the
// journal the run left in the file's folder. FILE is named as it is now.

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/file_argument.h"
#include "cli/file_list.h"
#include "cli/key_prompt.h"
#include "cli/progress_bar.h"
#include "cli/report_text.h"
#include "crypto/file_transform.h"
#include "crypto/journal_file.h"

namespace quorvant::cli {

namespace {

bool ResumeOne(const FileArgument& file, const KeyText& key, ResumeMode mode, CommandContext& context) {
  std::optional<OpenedFile> opened = OpenForChange(file);
  if (!opened) return false;
  FileCalls calls;
  const InterruptedRunAnswer found = FindInterruptedRun(*opened, calls);
  if (found.outcome == FileOutcome::NothingToResume) {
    std::printf("%s: no interrupted run; nothing to do\n", Printable(file.path).c_str());
    std::fflush(stdout);
    return true;
  }
  if (found.outcome != FileOutcome::Done) {
    FileReport refused;
    refused.outcome = found.outcome;
    refused.error = found.error;
    refused.condition = FileCondition::Interrupted;
    refused.journal = JournalName(opened->Inode());
    Complain(Printable(file.path) + ": " + DescribeReport(refused, file.path));
    return false;
  }
  const Direction direction = found.run->direction;
  const char* verb = mode == ResumeMode::Undo          ? "Undoing "
                     : direction == Direction::Encrypt ? "Encrypting "
                                                       : "Decrypting ";
  ProgressBar bar(verb + Printable(file.name));
  const FileReport report = ResumeFile(
      *opened, key.View(), mode,
      [&](std::int64_t offset, std::int64_t last_offset) {
        if (context.signals.Requested()) return ProgressAnswer::Cancel;
        bar.Show(offset, last_offset);
        return ProgressAnswer::Continue;
      },
      calls);
  bar.Clear();
  const std::string path_now = PathInFolder(file, report.name);
  if (report.outcome == FileOutcome::Done) {
    std::printf("%s %s -> %s\n", report.condition == FileCondition::AsBefore ? "undone" : "finished",
                Printable(file.path).c_str(), Printable(path_now).c_str());
    std::fflush(stdout);
    if (!report.journal.empty())
      Complain(Printable(path_now) + ": " + DescribeReport(report, path_now, direction));
    return true;
  }
  Complain(Printable(file.path) + ": " + DescribeReport(report, path_now, direction));
  return false;
}

}  // namespace

int ResumeCommand(std::span<const std::string_view> arguments, CommandContext& context) {
  const FileList list = ParseFileList(arguments, {"--undo"});
  if (!list.error.empty()) return UsageError("resume: " + list.error);
  const ResumeMode mode = list.options.empty() ? ResumeMode::Finish : ResumeMode::Undo;

  // Files without a journal are named and left alone, before any key is asked.
  bool any_failed = false;
  std::vector<FileArgument> files;
  for (std::string_view path : list.files) {
    Result<FileArgument> file = SplitFileArgument(path);
    if (!file) {
      Complain(Printable(path) + ": " + file.error().Describe());
      any_failed = true;
      continue;
    }
    Result<UniqueFd> folder = OpenFolderOf(*file);
    FileCalls calls;
    if (folder && !HasJournal(folder->Get(), file->name, calls)) {
      struct stat status {};
      if (fstatat(folder->Get(), file->name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        Complain(Printable(path) + ": " +
                 DescribeRefusal(FileOutcome::Vanished, Error::FromErrno("look at " + file->name)));
        any_failed = true;
      } else {
        std::printf("%s: no interrupted run; nothing to do\n", Printable(path).c_str());
      }
      continue;
    }
    files.push_back(std::move(*file));
  }
  std::fflush(stdout);
  if (files.empty()) return any_failed ? ExitFailure : ExitSuccess;

  KeyText key;
  const KeyAnswer answer = ReadKey(key, KeyConfirmation::Once, context.signals);
  if (answer.outcome != KeyOutcome::Read) {
    Complain(answer.outcome == KeyOutcome::Cancelled ? "cancelled; no file was changed" : answer.message);
    return ExitFailure;
  }
  for (const FileArgument& file : files) {
    if (context.signals.Requested()) {
      Complain(Printable(file.path) + ": not resumed (cancelled); its run stays interrupted");
      any_failed = true;
    } else if (!ResumeOne(file, key, mode, context)) {
      any_failed = true;
    }
  }
  return any_failed ? ExitFailure : ExitSuccess;
}

}  // namespace quorvant::cli
