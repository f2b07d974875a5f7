#pragma once

// Ctrl-C (SIGINT), SIGTERM, and the other signals that would end the process
// half-way through a file (SIGHUP when the terminal closes, SIGQUIT, SIGPIPE
// when the output goes away) as a request to cancel, read when convenient
// rather than in a signal handler: the signals are blocked and arrive through
// a signalfd, which the progress step and the prompts look at. A run that is
// cancelled is undone. SIGKILL and power loss are what the journal is for.

#include "base/unique_fd.h"

namespace quorvant::cli {

class CancelSignals {
 public:
  // Blocks those signals for the process and opens the signalfd.
  CancelSignals();
  ~CancelSignals() = default;
  CancelSignals(const CancelSignals&) = delete;
  CancelSignals& operator=(const CancelSignals&) = delete;

  // True once any of them has arrived (and from then on).
  bool Requested();
  // Readable when a signal is waiting, for poll() beside a terminal read.
  int Descriptor() const { return descriptor_.Get(); }

 private:
  UniqueFd descriptor_;
  bool requested_ = false;
};

}  // namespace quorvant::cli
