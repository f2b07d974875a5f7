#pragma once

// The signals that would end the process, taken as a request to cancel
// instead, so that the work on the current file is undone rather than left
// half done: Ctrl-C (SIGINT), Ctrl-\ (SIGQUIT), SIGTERM, a closed terminal
// (SIGHUP) and a closed output pipe (SIGPIPE; the write then fails with
// EPIPE). They are read when convenient rather than in a signal handler:
// blocked, they arrive through a signalfd, which the progress step and the
// prompts look at.

#include "base/unique_fd.h"

namespace quorvant::cli {

class CancelSignals {
 public:
  // Blocks the signals for the process and opens the signalfd.
  CancelSignals();
  ~CancelSignals() = default;
  CancelSignals(const CancelSignals&) = delete;
  CancelSignals& operator=(const CancelSignals&) = delete;

  // True once any of the signals has arrived (and from then on). Looking
  // stops nothing, so it does not count for Stopped.
  bool Requested();
  // For a caller that stops when this answers true: it leaves a file before
  // its turn, cancels (and undoes) a file's run, or drops a question. True
  // once a signal has arrived; from then on Stopped is true too.
  bool StopRequested();
  // StopRequested for a per-block progress step, which runs 65536 times per
  // GiB: it looks at the descriptor only on every CheckEvery-th call, so a
  // cancel is still seen within a megabyte of 16 KiB blocks without a system
  // call per block.
  bool StopRequestedDuringWork();
  static constexpr int CheckEvery = 64;
  // Whether a signal stopped anything. The exit status says the signal only
  // then: one that arrives once the last file's work is done (while its
  // journal is removed, or after) cancels nothing, and the status is what
  // the files' outcomes say.
  bool Stopped() const { return stopped_; }
  // The first signal that arrived, 0 before any did.
  int Signal() const { return signal_; }
  // Readable when a signal is waiting, for poll() beside a terminal read.
  int Descriptor() const { return descriptor_.Get(); }

 private:
  UniqueFd descriptor_;
  int signal_ = 0;
  bool stopped_ = false;
  int calls_since_check_ = 0;
};

}  // namespace quorvant::cli
