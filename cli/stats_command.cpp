#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "analysis/stat_figures.h"
#include "analysis/statistics_engine.h"
#include "cli/command.h"
#include "cli/progress_bar.h"
#include "cli/report_text.h"
#include "crypto/file_calls.h"

namespace quorvant::cli {

namespace {

// Only reads: no lock and no permission change, unlike the file operations
// that change a file.
bool ReportOne(const std::string& path, ReportCounts counts, bool heading, CommandContext& context) {
  UniqueFd file(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (file.Get() < 0) {
    Complain(Printable(path) + ": " + Error::FromErrno("open").Describe());
    return false;
  }
  struct stat facts {};
  if (fstat(file.Get(), &facts) != 0 || !S_ISREG(facts.st_mode)) {
    Complain(Printable(path) + ": not a regular file");
    return false;
  }
  ProgressBar bar("Statisting " + Printable(path));
  const Result<std::optional<FileStatistics>> result = ComputeStatistics(
      file.Get(), static_cast<std::uint64_t>(facts.st_size), [&](std::uint64_t offset, std::uint64_t last) {
        if (context.signals.Requested()) return ProgressAnswer::Cancel;
        bar.Show(static_cast<std::int64_t>(offset), static_cast<std::int64_t>(last));
        return ProgressAnswer::Continue;
      });
  bar.Clear();
  if (!result.ok()) {
    Complain(Printable(path) + ": " + result.error().Describe());
    return false;
  }
  if (!result.value().has_value()) {
    Complain(Printable(path) + ": cancelled");
    return false;
  }
  if (heading) std::printf("%s\n", Printable(path).c_str());
  const std::string report = RenderStatisticsReport(*result.value(), counts);
  std::fwrite(report.data(), 1, report.size(), stdout);
  std::fflush(stdout);
  return true;
}

}  // namespace

int StatsCommand(std::span<const std::string_view> arguments, CommandContext& context) {
  ReportCounts counts = ReportCounts::Omit;
  std::vector<std::string> paths;
  bool options_done = false;
  for (std::string_view argument : arguments) {
    if (!options_done && argument == "--") {
      options_done = true;
    } else if (!options_done && argument == "--counts") {
      counts = ReportCounts::Include;
    } else if (!options_done && argument.size() > 1 && argument[0] == '-') {
      return UsageError("unknown option " + std::string(argument));
    } else {
      paths.emplace_back(argument);
    }
  }
  if (paths.empty()) return UsageError("stats needs at least one FILE");
  bool all_done = true;
  for (size_t i = 0; i < paths.size(); ++i) {
    if (i > 0) std::printf("\n");
    all_done = ReportOne(paths[i], counts, paths.size() > 1, context) && all_done;
    if (context.signals.Requested()) break;
  }
  return all_done ? ExitSuccess : ExitFailure;
}

}  // namespace quorvant::cli
