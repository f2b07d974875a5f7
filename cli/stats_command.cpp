#include <unistd.h>

#include <cerrno>
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
  std::optional<ReadOnlyFile> opened = OpenForReading(file, messages);
  if (!opened) return std::nullopt;
  const std::int64_t length = opened->length;
  ProgressBar bar("Reading " + QuoteName(file.name), context.clock, messages);
  const Result<std::optional<FileStatistics>> result = ComputeStatistics(
      opened->descriptor.Get(), static_cast<std::uint64_t>(length), FollowOnBar(bar, context.signals, length));
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
