#pragma once

// The text of the progress line, apart from the terminal it is drawn on, so
// that it can be checked with the test clock:
//
//   Encrypting report.txt  45%  450.0 MiB of 1.0 GiB  120.0 MiB/s  0:05 left
//   Encrypting report.txt  100%  1.0 GiB  syncing
//
// The rate and the time left appear once a second has passed; before that
// there is too little to go on.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/clock.h"

namespace quorvant::cli {

struct ProgressPoint {
  std::int64_t done = 0;        // bytes done
  std::int64_t total = 0;       // bytes in all
  std::int64_t elapsed_ms = 0;  // since the work began
  bool syncing = false;         // every byte is written; the data is being synced
};

// The columns `text` takes on a terminal, counted generously: a line of at
// most the terminal's width by this count never wraps.
std::size_t TextColumns(std::string_view text);

// "512 B", "1.0 KiB", "12.3 MiB", "2.0 GiB": binary units, one decimal.
std::string FormatByteCount(std::int64_t bytes);

// "0:05", "12:34", "1:02:03".
std::string FormatDuration(std::int64_t seconds);

// The whole line, at most `width` columns: when it would be wider, the label
// is cut and ends in "...".
std::string FormatProgressLine(std::string_view label, const ProgressPoint& point, std::size_t width);

// The lines of one run, timed by `clock`, redrawn at most every
// RedrawMilliseconds so that drawing never slows the work.
class ProgressMeter {
 public:
  static constexpr std::int64_t RedrawMilliseconds = 200;

  ProgressMeter(std::string label, Clock& clock, std::size_t width);

  // The line for `done` of `total` bytes, or nothing when the last line is
  // recent enough. The first step starts the run's time.
  std::optional<std::string> Step(std::int64_t done, std::int64_t total);
  // The line while the data is synced.
  std::string Syncing(std::int64_t total);

 private:
  std::int64_t Elapsed();

  std::string label_;
  Clock& clock_;
  std::size_t width_;
  std::optional<std::int64_t> start_ms_;
  std::optional<std::int64_t> drawn_ms_;  // elapsed time of the last line given
};

}  // namespace quorvant::cli
