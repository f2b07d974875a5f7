#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "analysis/stat_figures.h"
#include "analysis/statistics_engine.h"
#include "cli/command.h"
#include "cli/failure_text.h"
#include "cli/file_argument.h"
#include "cli/name_quoting.h"
#include "cli/progress_bar.h"
#include "cli/stats_json.h"

namespace quorvant::cli {

namespace {

enum class StatsForm { Text, Json };

// Only reads: no lock and no permission change, unlike the commands that
// change a file. Gives the report's text, or nothing after a reported failure.
std::optional<std::string> ReportOne(const FileArgument& file, ReportCounts counts, StatsForm form,
                                     bool heading, CommandContext& context) {
  Messages& messages = context.messages;
  // Even a non-blocking open breaks the lease of a run working on the file,
  // which then stops and undoes itself: a file with a journal is not opened.
  if (HasInterruptedRun(file)) {
    messages.FileFailure(file.path,
                         "busy: a run is encrypting or decrypting it, or one was cut short (" +
                             ResumeCommandFor(file.path, false) + " finishes it)");
    return std::nullopt;
  }
  UniqueFd opened(open(file.path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!opened.IsOpen()) {
    messages.FileFailure(file.path, "cannot open: " + std::string(std::strerror(errno)));
    return std::nullopt;
  }
  // The name may have been replaced since it was checked.
  struct stat facts {};
  if (fstat(opened.Get(), &facts) != 0 || !S_ISREG(facts.st_mode)) {
    messages.FileFailure(file.path, "not a regular file");
    return std::nullopt;
  }
  const auto length = static_cast<std::int64_t>(facts.st_size);
  ProgressBar bar("Reading " + QuoteName(file.name), context.clock, messages);
  const Result<std::optional<FileStatistics>> result = ComputeStatistics(
      opened.Get(), static_cast<std::uint64_t>(length), FollowOnBar(bar, context.signals, length));
  bar.Clear();
  if (!result.ok()) {
    messages.FileFailure(file.path, DescribeFailure(FileOutcome::ReadError, result.error()));
    return std::nullopt;
  }
  if (!result.value().has_value()) {
    messages.FileFailure(file.path, "cancelled");
    return std::nullopt;
  }
  if (form == StatsForm::Json) return StatisticsJson(file.path, *result.value(), counts);
  std::string text = heading ? QuoteName(file.path) + "\n" : std::string();
  return text + RenderStatisticsReport(*result.value(), counts);
}

}  // namespace

// quorvant-cli stats [--counts] [--json] FILE...
int StatsCommand(const CommandLine& line, CommandContext& context) {
  const ReportCounts counts = line.Has("--counts") ? ReportCounts::Include : ReportCounts::Omit;
  const StatsForm form = line.Has("--json") ? StatsForm::Json : StatsForm::Text;
  const std::vector<FileArgument> files = CheckFileArguments(line.files, context.messages);
  bool all_done = files.size() == line.files.size();
  bool first = true;
  for (const FileArgument& file : files) {
    if (context.signals.StopRequested()) {
      context.messages.NotStarted(file.path, {});
      all_done = false;
      continue;
    }
    std::optional<std::string> report = ReportOne(file, counts, form, line.files.size() > 1, context);
    if (!report) {
      all_done = false;
      continue;
    }
    // Text reports of several files are set apart by an empty line.
    if (form == StatsForm::Text && !first) report->insert(report->begin(), '\n');
    first = false;
    // The report's lines end in "\n"; Result adds the last one.
    report->pop_back();
    context.messages.Result(*report);
  }
  return all_done ? ExitSuccess : ExitFailure;
}

}  // namespace quorvant::cli
