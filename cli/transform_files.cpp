#include "cli/transform_files.h"

#include <fcntl.h>

#include <string>
#include <vector>

#include "cli/failure_text.h"
#include "cli/file_argument.h"
#include "cli/key_prompt.h"
#include "cli/name_quoting.h"
#include "cli/progress_bar.h"
#include "crypto/encrypted_name.h"
#include "rewrite/file_transform.h"
#include "rewrite/journal_file.h"
#include "files/opened_file.h"

namespace quorvant::cli {

namespace {

// The direction must agree with the name, as the window program decides it
// from the name alone.
bool NameFitsDirection(Direction direction, const FileArgument& file, Messages& messages) {
  if (direction == Direction::Encrypt && HasEncryptedSuffixShape(file.name)) {
    messages.FileFailure(file.path,
                         "already an encrypted name (it ends in \" \" + 7 characters + \"[\"); "
                         "not encrypted again");
    return false;
  }
  if (direction == Direction::Decrypt && !PlainName(file.name)) {
    messages.FileFailure(file.path,
                         "not an encrypted name (it does not end in \" \" + 7 characters + \"[\")");
    return false;
  }
  return true;
}

// A file whose earlier run was cut short is resumed, never started afresh:
// refused before the key is asked, naming the commands to use.
bool HasNoInterruptedRun(const FileArgument& file, Messages& messages) {
  if (!HasInterruptedRun(file)) return true;
  messages.FileFailure(file.path, "an earlier run on it was cut short; " +
                                      ResumeCommandFor(file.path, false) + " finishes it, " +
                                      ResumeCommandFor(file.path, true) + " undoes it");
  return false;
}

bool TransformOne(Direction direction, const FileArgument& file, const KeyText& key, bool force,
                  CommandContext& context) {
  std::optional<OpenedFile> opened = OpenForChange(file, context.messages);
  if (!opened) return false;
  const EncryptedSuffix suffix =
      direction == Direction::Encrypt ? MakeEncryptedSuffix(context.clock) : *SuffixOfName(file.name);
  const std::string new_name =
      direction == Direction::Encrypt ? EncryptedName(file.name, suffix) : *PlainName(file.name);
  ProgressBar bar(
      std::string(direction == Direction::Encrypt ? "Encrypting " : "Decrypting ") + QuoteName(file.name),
      context.clock, context.messages);
  const std::int64_t length = opened->Length();
  TransformSettings settings;
  settings.sync_start = [&] { bar.ShowSyncing(length); };
  settings.key_checker = context.key_checker;
  FileCalls calls;
  FileRun run(*opened, calls, settings);
  FileReport report = run.Prepare(direction, suffix, key.View());
  if (report.outcome == FileOutcome::KeyLooksWrong && force) {
    // Said, so that a script's log shows which files were forced through.
    context.messages.FileFailure(file.path,
                                 "the key looks wrong (the file's start decrypts to noise), but --force "
                                 "was given: decrypting it all the same");
  }
  if (report.outcome == FileOutcome::Done || (report.outcome == FileOutcome::KeyLooksWrong && force)) {
    report = run.Go(FollowOnBar(bar, context.signals, length));
  }
  bar.Clear();
  const std::string path_now = PathInFolder(file, report.name);
  if (report.outcome == FileOutcome::Done) {
    context.messages.Result(QuoteName(file.path) + " -> " + QuoteName(path_now));
    // Done, but the journal could not be removed: say how to remove it.
    if (!report.journal.empty()) {
      context.messages.FileFailure(
          path_now, DescribeTransformReport(report, PathInFolder(file, new_name), path_now, direction));
    }
    return true;
  }
  context.messages.FileFailure(
      file.path, DescribeTransformReport(report, PathInFolder(file, new_name), path_now, direction));
  return false;
}

}  // namespace

int TransformFiles(Direction direction, const CommandLine& line, CommandContext& context) {
  Messages& messages = context.messages;
  std::vector<FileArgument> files;
  for (FileArgument& file : CheckFileArguments(line.files, messages)) {
    if (HasNoInterruptedRun(file, messages) && NameFitsDirection(direction, file, messages) &&
        HasOneName(file, messages, "; the file is unchanged")) {
      files.push_back(std::move(file));
    }
  }
  bool any_failed = files.size() != line.files.size();
  if (files.empty()) return ExitFailure;

  return RunWithKey(line, context, files,
                    direction == Direction::Encrypt ? KeyConfirmation::Twice : KeyConfirmation::Once,
                    any_failed, "the file is unchanged", [&](const FileArgument& file, const KeyText& key) {
                      return TransformOne(direction, file, key, line.Has("--force"), context);
                    });
}

int RunWithKey(const CommandLine& line, CommandContext& context, const std::vector<FileArgument>& files,
               KeyConfirmation confirmation, bool any_failed, std::string_view left_as,
               const std::function<bool(const FileArgument& file, const KeyText& key)>& one) {
  Messages& messages = context.messages;
  KeyText key;
  const KeyAnswer answer = ReadKey(key, confirmation, context.signals, messages);
  if (answer.outcome != KeyOutcome::Read) {
    messages.CommandFailure(line.command, answer.message + "; no file was changed");
    return ExitFailure;
  }
  // One key check derivation for all the files; wiped when the command ends.
  RunKeyChecker key_checker(key.View());
  context.key_checker = &key_checker;
  for (const FileArgument& file : files) {
    if (context.signals.StopRequested()) {
      messages.NotStarted(file.path, left_as);
      any_failed = true;
    } else if (!one(file, key)) {
      any_failed = true;
    }
  }
  context.key_checker = nullptr;
  return any_failed ? ExitFailure : ExitSuccess;
}

}  // namespace quorvant::cli
