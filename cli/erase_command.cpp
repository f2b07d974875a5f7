#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <string>

#include "cli/command.h"
#include "cli/file_argument.h"
#include "cli/file_list.h"
#include "cli/key_prompt.h"
#include "cli/progress_bar.h"
#include "cli/report_text.h"
#include "erase/secure_erase.h"
#include "files/opened_file.h"

namespace quorvant::cli {

namespace {

enum class Confirmation { Yes, No, Cancelled };

Confirmation Ask(const FileArgument& file, CancelSignals& signals) {
  std::fprintf(stderr, "erase %s? [y/N] ", Printable(file.path).c_str());
  std::fflush(stderr);
  std::string answer;
  const LineOutcome outcome = ReadTerminalLine(answer, 8, signals);
  if (outcome == LineOutcome::Cancelled) {
    std::fputs("\n", stderr);
    return Confirmation::Cancelled;
  }
  if (outcome != LineOutcome::Read) return Confirmation::No;
  for (char& character : answer)
    character = static_cast<char>(std::tolower(static_cast<unsigned char>(character)));
  return answer == "y" || answer == "yes" ? Confirmation::Yes : Confirmation::No;
}

bool EraseOne(const FileArgument& file, CommandContext& context) {
  std::optional<OpenedFile> opened = OpenForChange(file, "; not erased");
  if (!opened) return false;
  ProgressBar bar("Erasing " + Printable(file.name));
  const FileReport report = SecureEraseFile(*opened, [&](std::int64_t offset, std::int64_t last_offset) {
    if (context.signals.Requested()) return ProgressAnswer::Cancel;
    bar.Show(offset, last_offset);
    return ProgressAnswer::Continue;
  });
  bar.Clear();
  if (report.outcome == FileOutcome::Done) {
    std::printf("erased %s\n", Printable(file.path).c_str());
    std::fflush(stdout);
    return true;
  }
  Complain(Printable(file.path) + ": " + DescribeReport(report) + "; not erased");
  return false;
}

}  // namespace

// quorvant-cli erase [--yes] FILE...
int EraseCommand(std::span<const std::string_view> arguments, CommandContext& context) {
  const FileList list = ParseFileList(arguments, {"--yes", "-y"});
  if (!list.error.empty()) return UsageError("erase: " + list.error);
  const bool ask = list.options.empty();
  if (ask && !isatty(0)) {
    return UsageError(
        "erase: standard input is not a terminal to confirm on; give --yes to erase without asking");
  }
  bool any_failed = false;
  for (std::string_view path : list.files) {
    Result<FileArgument> file = SplitFileArgument(path);
    if (!file) {
      Complain(Printable(path) + ": " + file.error().Describe());
      any_failed = true;
      continue;
    }
    if (!context.signals.Requested() && ask) {
      const Confirmation confirmed = Ask(*file, context.signals);
      if (confirmed == Confirmation::No) {
        std::printf("kept %s\n", Printable(file->path).c_str());
        continue;
      }
    }
    if (context.signals.Requested()) {
      Complain(Printable(file->path) + ": not erased (cancelled)");
      any_failed = true;
    } else if (!EraseOne(*file, context)) {
      any_failed = true;
    }
  }
  return any_failed ? ExitFailure : ExitSuccess;
}

}  // namespace quorvant::cli
