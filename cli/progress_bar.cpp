#include "cli/progress_bar.h"

#include <unistd.h>

#include <cstdio>
#include <utility>

#include "base/progress.h"

namespace quorvant::cli {

namespace {
constexpr int BarWidth = 30;
constexpr std::size_t LongestLabel = 40;
}  // namespace

ProgressBar::ProgressBar(std::string label) : label_(std::move(label)), enabled_(isatty(2) != 0) {
  if (label_.size() > LongestLabel) label_ = label_.substr(0, LongestLabel - 3) + "...";
}

void ProgressBar::Show(std::int64_t offset, std::int64_t last_offset) {
  if (!enabled_) return;
  const int percentage = ProgressPercent(offset, last_offset);
  if (percentage == shown_percentage_) return;
  shown_percentage_ = percentage;
  const int filled = percentage * BarWidth / 100;
  std::string bar(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(BarWidth - filled), '.');
  std::fprintf(stderr, "\r%s %3d%% [%s]", label_.c_str(), percentage, bar.c_str());
  std::fflush(stderr);
  drawn_ = true;
}

void ProgressBar::Clear() {
  if (!drawn_) return;
  std::fprintf(stderr, "\r%*s\r", static_cast<int>(label_.size()) + BarWidth + 8, "");
  std::fflush(stderr);
  drawn_ = false;
  shown_percentage_ = -1;
}

}  // namespace quorvant::cli
