#pragma once

// A one-line progress bar on standard error, drawn only when standard error
// is a terminal and redrawn only when the percentage changes.

#include <cstdint>
#include <string>

namespace quorvant::cli {

class ProgressBar {
 public:
  // `label` is printed before the bar ("Encrypting report.txt").
  explicit ProgressBar(std::string label);
  ~ProgressBar() { Clear(); }
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // floor(100 x offset / last_offset) per cent; 0 for a one-byte file.
  void Show(std::int64_t offset, std::int64_t last_offset);
  // Removes the bar from the line, if it was drawn.
  void Clear();

 private:
  std::string label_;
  bool enabled_ = false;
  bool drawn_ = false;
  int shown_percentage_ = -1;
};

}  // namespace quorvant::cli
