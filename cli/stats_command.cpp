#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "analysis/stat_figures.h"
#include "analysis/statistics_engine.h"
#include "cli/command.h"
#include "cli/file_list.h"
#include "cli/progress_bar.h"
#include "cli/report_text.h"
#include "files/file_calls.h"

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
      file.Get(), static_cast<std::uint64_t>(facts.st_size), [&](std::int64_t offset, std::int64_t last) {
        if (context.signals.Requested()) return ProgressAnswer::Cancel;
        bar.Show(offset, last);
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
  const FileList list = ParseFileList(arguments, {"--counts"});
  if (!list.error.empty()) return UsageError("stats: " + list.error);
  const ReportCounts counts = list.options.empty() ? ReportCounts::Omit : ReportCounts::Include;
  const std::vector<std::string_view>& paths = list.files;
  bool all_done = true;
  for (size_t i = 0; i < paths.size(); ++i) {
    if (i > 0) std::printf("\n");
    all_done = ReportOne(std::string(paths[i]), counts, paths.size() > 1, context) && all_done;
    if (context.signals.Requested()) break;
  }
  return all_done ? ExitSuccess : ExitFailure;
}

}  // namespace quorvant::cli
