#include <unistd.h>

#include <cctype>
#include <string>

#include "cli/command.h"
#include "cli/failure_text.h"
#include "cli/file_argument.h"
#include "cli/key_prompt.h"
#include "cli/name_quoting.h"
#include "cli/progress_bar.h"
#include "files/file_calls.h"
#include "files/opened_file.h"
#include "rewrite/admission.h"
#include "rewrite/erase_with_journal.h"

namespace quorvant::cli {

namespace {

enum class Confirmation { Yes, No, Cancelled };

Confirmation Ask(const FileArgument& file, const Admission& admitted, CommandContext& context) {
  // The journal of a cut-short run holds part of the file: it goes too.
  context.messages.Prompt("erase " + QuoteName(file.path) +
                          (admitted.journal_beside ? " and the journal of its interrupted run" : "") +
                          "? [y/N] ");
  std::string answer;
  const LineOutcome outcome = ReadTerminalLine(answer, 8, context.signals);
  if (outcome == LineOutcome::Cancelled) return Confirmation::Cancelled;
  if (outcome != LineOutcome::Read) return Confirmation::No;
  for (char& character : answer)
    character = static_cast<char>(std::tolower(static_cast<unsigned char>(character)));
  return answer == "y" || answer == "yes" ? Confirmation::Yes : Confirmation::No;
}

std::string_view EraseConsequence(FileCondition condition) {
  switch (condition) {
    case FileCondition::PartlyOverwritten: return "; not erased, partly overwritten";
    case FileCondition::Overwritten: return "; overwritten, not deleted";
    default: return "; not erased";
  }
}

bool EraseOne(const FileArgument& file, CommandContext& context) {
  std::optional<OpenedFile> opened =
      OpenForChange(file, context.messages, EraseConsequence(FileCondition::AsBefore));
  if (!opened) return false;
  FileCalls calls;
  ProgressBar bar("Erasing " + QuoteName(file.name), context.clock, context.messages);
  const std::int64_t length = opened->Length();
  const FileReport report = EraseFileAndJournal(*opened, FollowOnBar(bar, context.signals, length), calls,
                                                [&] { bar.ShowSyncing(length); });
  bar.Clear();
  if (report.outcome == FileOutcome::Done) {
    context.messages.Result("erased " + QuoteName(file.path) + (report.journal_erased ? " with its journal" : ""));
    return true;
  }
  context.messages.FileFailure(file.path, DescribeFailure(report.outcome, report.error) +
                                              std::string(EraseConsequence(report.condition)));
  return false;
}

}  // namespace

// quorvant-cli erase [--yes] FILE...
int EraseCommand(const CommandLine& line, CommandContext& context) {
  const bool ask = !line.Has("--yes");
  if (ask && !isatty(0)) {
    return context.messages.UsageError(line.command,
                                       "standard input is not a terminal to confirm on; give --yes");
  }
  std::vector<FileArgument> files;
  std::vector<Admission> admissions;
  for (FileArgument& file : CheckFileArguments(line.files, context.messages)) {
    if (std::optional<Admission> admitted = AdmitArgument(file, FileIntent::Erase, "; not erased", context.clock, context.messages)) {
      files.push_back(std::move(file));
      admissions.push_back(std::move(*admitted));
    }
  }
  bool any_failed = files.size() != line.files.size();
  for (std::size_t index = 0; index < files.size(); ++index) {
    const FileArgument& file = files[index];
    if (!context.signals.Requested() && ask) {
      const Confirmation confirmed = Ask(file, admissions[index], context);
      if (confirmed == Confirmation::No) {
        context.messages.Result("kept " + QuoteName(file.path));
        continue;
      }
    }
    if (context.signals.StopRequested()) {
      context.messages.NotStarted(file.path, "not erased");
      any_failed = true;
    } else if (!EraseOne(file, context)) {
      any_failed = true;
    }
  }
  return any_failed ? ExitFailure : ExitSuccess;
}

}  // namespace quorvant::cli
