#include "cli/transform_files.h"

#include <cstdio>
#include <string>
#include <vector>

#include "cli/file_argument.h"
#include "cli/file_list.h"
#include "cli/key_prompt.h"
#include "cli/progress_bar.h"
#include "cli/report_text.h"
#include "crypto/encrypted_name.h"
#include "crypto/file_transform.h"
#include "crypto/journal_file.h"
#include "files/opened_file.h"

namespace quorvant::cli {

namespace {

// The direction must agree with the name, as the window program decides it
// from the name alone.
bool NameFitsDirection(Direction direction, const FileArgument& file) {
  if (direction == Direction::Encrypt && HasEncryptedSuffixShape(file.name)) {
    Complain(Printable(file.path) +
             ": the name already ends like an encrypted file's (a space, seven characters and \"[\"); "
             "not encrypted again");
    return false;
  }
  if (direction == Direction::Decrypt && !PlainName(file.name)) {
    Complain(Printable(file.path) +
             ": Not encrypted (the name does not end in a space, seven characters and \"[\")");
    return false;
  }
  return true;
}

// A file whose earlier run was cut short is resumed, never started afresh:
// refused before the key is asked, naming the command to use.
bool HasNoInterruptedRun(const FileArgument& file) {
  Result<UniqueFd> folder = OpenFolderOf(file);
  FileCalls calls;
  if (!folder || !HasJournal(folder->Get(), file.name, calls)) return true;
  Complain(Printable(file.path) + ": Interrupted: an earlier run on it was cut short; \"" +
           ResumeCommandFor(file.path, false) + "\" finishes it, \"" + ResumeCommandFor(file.path, true) +
           "\" undoes it");
  return false;
}

bool TransformOne(Direction direction, const FileArgument& file, const KeyText& key,
                  CommandContext& context) {
  std::optional<OpenedFile> opened = OpenForChange(file);
  if (!opened) return false;
  const EncryptedSuffix suffix =
      direction == Direction::Encrypt ? MakeEncryptedSuffix(context.clock) : *SuffixOfName(file.name);
  ProgressBar bar(std::string(direction == Direction::Encrypt ? "Encrypting " : "Decrypting ") +
                  Printable(file.name));
  const FileReport report = TransformFile(*opened, direction, suffix, key.View(),
                                          [&](std::int64_t offset, std::int64_t last_offset) {
                                            if (context.signals.Requested()) return ProgressAnswer::Cancel;
                                            bar.Show(offset, last_offset);
                                            return ProgressAnswer::Continue;
                                          });
  bar.Clear();
  const std::string path_now = PathInFolder(file, report.name);
  if (report.outcome == FileOutcome::Done) {
    std::printf("%s -> %s\n", Printable(file.path).c_str(), Printable(path_now).c_str());
    std::fflush(stdout);
    if (!report.journal.empty())
      Complain(Printable(path_now) + ": " + DescribeReport(report, path_now, direction));
    return true;
  }
  Complain(Printable(file.path) + ": " + DescribeReport(report, path_now, direction));
  return false;
}

}  // namespace

int TransformFiles(Direction direction, std::span<const std::string_view> arguments,
                   CommandContext& context) {
  const std::string_view verb = direction == Direction::Encrypt ? "encrypt" : "decrypt";
  const FileList list = ParseFileList(arguments, {});
  if (!list.error.empty()) return UsageError(std::string(verb) + ": " + list.error);

  bool any_failed = false;
  std::vector<FileArgument> files;
  for (std::string_view path : list.files) {
    Result<FileArgument> file = SplitFileArgument(path);
    if (!file) {
      Complain(Printable(path) + ": " + file.error().Describe());
      any_failed = true;
    } else if (!HasNoInterruptedRun(*file) || !NameFitsDirection(direction, *file)) {
      any_failed = true;
    } else {
      files.push_back(std::move(*file));
    }
  }
  if (files.empty()) return ExitFailure;

  KeyText key;
  const KeyAnswer answer = ReadKey(
      key, direction == Direction::Encrypt ? KeyConfirmation::Twice : KeyConfirmation::Once, context.signals);
  if (answer.outcome != KeyOutcome::Read) {
    Complain(answer.outcome == KeyOutcome::Cancelled ? "cancelled; no file was changed" : answer.message);
    return ExitFailure;
  }
  for (const FileArgument& file : files) {
    if (context.signals.Requested()) {
      Complain(Printable(file.path) + ": not processed (cancelled)");
      any_failed = true;
    } else if (!TransformOne(direction, file, key, context)) {
      any_failed = true;
    }
  }
  return any_failed ? ExitFailure : ExitSuccess;
}

}  // namespace quorvant::cli
