// quorvant-cli resume [--undo] [--journal PATH] FILE...: finishes (or, with
// --undo, takes back) a run on each FILE that a kill or a power loss cut
// short, from the journal the run left in the file's folder, or at PATH for
// a file moved since. FILE is named as it is now. --list and --forget are in
// cli/journal_commands.cpp.

#include <fcntl.h>

#include <array>
#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/failure_text.h"
#include "cli/file_argument.h"
#include "cli/journal_commands.h"
#include "cli/key_prompt.h"
#include "cli/name_quoting.h"
#include "cli/progress_bar.h"
#include "cli/transform_files.h"
#include "crypto/undo_mark.h"
#include "rewrite/admission.h"
#include "rewrite/file_transform.h"
#include "rewrite/journal_file.h"
#include "rewrite/run_mark.h"

namespace quorvant::cli {

namespace {

bool ResumeOne(const FileArgument& file, const KeyText& key, ResumeMode mode, const JournalPlace* place,
               CommandContext& context) {
  Messages& messages = context.messages;
  std::optional<OpenedFile> opened = OpenForChange(file, messages);
  if (!opened) return false;
  FileCalls calls;
  const FileResult<InterruptedRun> found = FindInterruptedRun(*opened, calls, place);
  if (!found && found.error().outcome == FileOutcome::NothingToResume) {
    // An undo without a run to undo takes back a decryption, by its mark.
    if (mode == ResumeMode::Undo && place == nullptr) {
      const FileResult<Admission> undo =
          AdmitFile(*opened, FileIntent::UndoDecryption, context.clock, calls, CipherFormat::Classic);
      opened.reset();
      if (undo) return TransformOne(*undo, file, key, false, context);
      const FileOutcome why = undo.error().outcome;
      if (why != FileOutcome::NothingToResume && why != FileOutcome::AlreadyEncrypted) {
        messages.FileFailure(file.path, DescribeFailure(why, undo.error().error) + "; the file is unchanged");
        return false;
      }
    }
    messages.Result(QuoteName(file.path) + ": no interrupted run; nothing to do");
    return true;
  }
  if (!found) {
    FileReport refused;
    refused.outcome = found.error().outcome;
    refused.error = found.error().error;
    refused.condition = FileCondition::Interrupted;
    const Result<std::optional<std::string>> journal = FindJournalName(*opened, calls);
    refused.journal = place != nullptr ? place->name : journal && *journal ? **journal : "";
    messages.FileFailure(file.path, DescribeTransformReport(refused, {}, file.path, Direction::Encrypt));
    return false;
  }
  const Direction direction = found->direction;
  const char* verb = mode == ResumeMode::Undo          ? "Undoing "
                     : direction == Direction::Encrypt ? "Encrypting "
                                                       : "Decrypting ";
  ProgressBar bar(verb + QuoteName(file.name), context.clock, messages);
  const std::int64_t length = opened->Length();
  TransformSettings settings;
  settings.sync_start = [&] { bar.ShowSyncing(length); };
  settings.journal = place;
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

// A decrypted file whose decryption `resume --undo` can take back.
bool CarriesUndoMark(int folder, const std::string& name) {
  FileCalls calls;
  std::array<std::uint8_t, UndoMarkLength> value{};
  return calls.GetAttributeAt(folder, name.c_str(), UndoMarkAttributeName, value.data(), value.size()) > 0;
}

// A file without a journal beside it that is marked for a run: its journal
// is elsewhere or lost, and the file may be half done.
bool MarkedWithoutJournal(int folder, const std::string& name) {
  FileCalls calls;
  const Result<RunMark> mark = ReadRunMarkAt(folder, name, calls);
  return mark && mark->run;
}

std::string MarkedWithoutJournalText(const std::string& path) {
  const std::string quoted = (path.starts_with('-') ? "-- " : "") + QuoteName(path);
  return "it is marked for a run whose journal is not in its folder: if the file was moved, "
         "quorvant-cli resume --journal PATH " + quoted + " resumes it with the journal at PATH; "
         "if the journal is lost, see quorvant-cli resume --forget " + quoted;
}

// resume --journal PATH FILE: the journal's run must be the one FILE is
// marked for; checked here before the key is asked, and again by the run.
int ResumeWithJournal(const CommandLine& line, ResumeMode mode, CommandContext& context) {
  Messages& messages = context.messages;
  const std::string_view path = line.Value("--journal");
  const std::optional<FileArgument> journal = SplitFileArgument(path);
  if (line.files.size() != 1 || !journal) {
    return messages.UsageError(line.command, "--journal PATH takes one FILE");
  }
  std::vector<FileArgument> files = CheckFileArguments(line.files, messages);
  if (files.empty()) return ExitFailure;
  const FileArgument& file = files.front();
  UniqueFd journal_folder(open(journal->folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  UniqueFd file_folder(open(file.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  FileCalls calls;
  const std::optional<JournalRunHeader> header =
      journal_folder.IsOpen() ? ReadJournalHeader(journal_folder.Get(), journal->name, calls) : std::nullopt;
  if (!header) {
    messages.FileFailure(path, "no whole journal of a run; nothing was changed");
    return ExitFailure;
  }
  const Result<RunMark> mark =
      file_folder.IsOpen() ? ReadRunMarkAt(file_folder.Get(), file.name, calls) : Result<RunMark>(RunMark{});
  if (!mark || mark->run != header->run_id) {
    messages.FileFailure(path, "the journal of another run: " + QuoteName(file.path) +
                                   " does not carry its mark; nothing was changed");
    return ExitFailure;
  }
  const JournalPlace place{journal_folder.Get(), journal->name};
  return RunWithKey(line, context, files, KeyConfirmation::Once, false, "its run stays interrupted",
                    [&](const FileArgument& one, const KeyText& key) {
                      return ResumeOne(one, key, mode, &place, context);
                    });
}

}  // namespace

int ResumeCommand(const CommandLine& line, CommandContext& context) {
  Messages& messages = context.messages;
  const int forms = (line.Has("--list") ? 1 : 0) + (line.Has("--forget") ? 1 : 0) + (line.Has("--journal") ? 1 : 0);
  if (forms > 1) return messages.UsageError(line.command, "--list, --forget and --journal go one at a time");
  if ((forms == 1 && line.Has("--undo") && !line.Has("--journal")) || (line.Has("--yes") && !line.Has("--forget"))) {
    return messages.UsageError(line.command, "--undo goes with FILE or --journal, --yes with --forget");
  }
  if (line.Has("--list")) return ListJournalsCommand(line, context);
  if (line.Has("--forget")) return ForgetCommand(line, context);
  const ResumeMode mode = line.Has("--undo") ? ResumeMode::Undo : ResumeMode::Finish;
  if (line.Has("--journal")) return ResumeWithJournal(line, mode, context);

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
      } else if (MarkedWithoutJournal(folder.Get(), file.name)) {
        messages.FileFailure(file.path, MarkedWithoutJournalText(file.path));
        any_failed = true;
      } else if (mode == ResumeMode::Undo && CarriesUndoMark(folder.Get(), file.name)) {
        files.push_back(std::move(file));
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
      [&](const FileArgument& file, const KeyText& key) { return ResumeOne(file, key, mode, nullptr, context); });
}

}  // namespace quorvant::cli
