#include "cli/progress_bar.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <utility>

namespace quorvant::cli {

namespace {

// One column short of the terminal's width, so that the line never wraps.
std::size_t LineWidth() {
  winsize size{};
  if (ioctl(2, TIOCGWINSZ, &size) == 0 && size.ws_col > 20) return size.ws_col - 1u;
  return 79;
}

}  // namespace

ProgressBar::ProgressBar(std::string label, Clock& clock, Messages& messages)
    : messages_(messages),
      enabled_(messages.ErrorIsTerminal()),
      meter_(std::move(label), clock, enabled_ ? LineWidth() : 79) {}

void ProgressBar::Draw(const std::string& line) {
  std::string text = "\r" + line;
  const std::size_t columns = TextColumns(line);
  // Blank what is left of a longer line before.
  if (drawn_columns_ > columns) text.append(drawn_columns_ - columns, ' ');
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
  drawn_columns_ = std::max<std::size_t>(columns, 1);
}

void ProgressBar::Show(std::int64_t done, std::int64_t total) {
  if (!enabled_) return;
  if (std::optional<std::string> line = meter_.Step(done, total)) Draw(*line);
}

void ProgressBar::ShowSyncing(std::int64_t total) {
  if (enabled_) Draw(meter_.Syncing(total));
}

void ProgressBar::Clear() {
  if (drawn_columns_ == 0) return;
  std::string blank(drawn_columns_ + 2, ' ');
  blank.front() = '\r';
  blank.back() = '\r';
  drawn_columns_ = 0;
  if (messages_.EndCancelledLine()) return;
  std::fwrite(blank.data(), 1, blank.size(), stderr);
  std::fflush(stderr);
}

ProgressFunction FollowOnBar(ProgressBar& bar, CancelSignals& signals, std::int64_t length) {
  return [&bar, &signals, length](std::int64_t offset, std::int64_t) {
    if (signals.StopRequestedDuringWork()) return ProgressAnswer::Cancel;
    bar.Show(offset, length);
    return ProgressAnswer::Continue;
  };
}

}  // namespace quorvant::cli
