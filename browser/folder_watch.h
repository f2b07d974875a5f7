#pragma once

#include <cstdint>
#include <optional>

#include "base/clock.h"
#include "base/result.h"
#include "base/unique_fd.h"

namespace quorvant {

enum class WatchMode {
  Inotify,         // re-list when the folder reports a change, and once a second
  PollEveryCycle,  // re-list on every question
};

// Tells the input wait when the folder must be listed again, so that an idle
// program does not re-list an unchanged folder forty times a second.
//
// Ask once per input cycle, then scan when told to: the folder's reports are
// drained before the scan, so a change made during the scan is reported at the
// next question and never lost. The answer is yes on the first question, after
// any report from the folder (the program's own writes included), when a second
// has passed since the last yes (a safety net for changes the folder does not
// report, such as writes through a shared mapping), and always when no watch
// could be set up or the watch was lost.
class FolderWatch {
 public:
  // Watches the folder open as folder_fd (the descriptor is not kept).
  explicit FolderWatch(int folder_fd, WatchMode mode = WatchMode::Inotify);

  // Never blocks.
  bool MustRescan(Clock& clock);

  // PollEveryCycle once the watch could not be set up or was lost.
  WatchMode Mode() const { return mode_; }
  // Why the watch is not in use, for a log line; empty while watching or when
  // polling was asked for.
  const std::optional<Error>& Problem() const { return problem_; }

  // The longest time between two yes answers while watching.
  static constexpr std::int64_t SafetyIntervalMs = 1000;

 private:
  // Reads every pending report; true when there was any, or when the watch broke.
  bool Drain();
  void FallBack(Error problem);

  UniqueFd inotify_fd_;
  WatchMode mode_ = WatchMode::PollEveryCycle;
  std::optional<Error> problem_;
  bool asked_ = false;
  std::int64_t last_yes_ms_ = 0;
};

}  // namespace quorvant
