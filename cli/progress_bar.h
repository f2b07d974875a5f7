#pragma once

// The progress line on standard error, drawn only when standard error is a
// terminal: nothing at all goes to a pipe or a file.

#include <cstdint>
#include <string>

#include "base/clock.h"
#include "base/progress.h"
#include "cli/cancel_signals.h"
#include "cli/messages.h"
#include "cli/progress_text.h"

namespace quorvant::cli {

class ProgressBar {
 public:
  // `label` starts the line ("Encrypting report.txt").
  ProgressBar(std::string label, Clock& clock, Messages& messages);
  ~ProgressBar() { Clear(); }
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  void Show(std::int64_t done, std::int64_t total);
  void ShowSyncing(std::int64_t total);
  // Takes the line off the screen. After a cancel the line is kept and ended
  // instead: the "^C" the terminal echoed stands after it, and what follows
  // starts on a fresh line.
  void Clear();

 private:
  void Draw(const std::string& line);

  Messages& messages_;
  bool enabled_;
  ProgressMeter meter_;
  std::size_t drawn_columns_ = 0;  // 0: nothing on the line
};

// The progress step of a long operation on `length` bytes: Cancel once a
// signal asks for it, otherwise `bar` shows how far it got.
ProgressFunction FollowOnBar(ProgressBar& bar, CancelSignals& signals, std::int64_t length);

}  // namespace quorvant::cli
