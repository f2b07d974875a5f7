#pragma once

// Ctrl-C (SIGINT) and SIGTERM as a request to cancel, read when convenient
// rather than in a signal handler: the signals are blocked and arrive through
// a signalfd, which the progress step and the prompts look at.

#include "base/unique_fd.h"

namespace quorvant::cli {

class CancelSignals {
 public:
  // Blocks SIGINT and SIGTERM for the process and opens the signalfd.
  CancelSignals();
  ~CancelSignals() = default;
  CancelSignals(const CancelSignals&) = delete;
  CancelSignals& operator=(const CancelSignals&) = delete;

  // True once either signal has arrived (and from then on).
  bool Requested();
  // The first signal that arrived (SIGINT or SIGTERM), 0 before any did.
  int Signal() const { return signal_; }
  // Readable when a signal is waiting, for poll() beside a terminal read.
  int Descriptor() const { return descriptor_.Get(); }

 private:
  UniqueFd descriptor_;
  int signal_ = 0;
};

}  // namespace quorvant::cli
