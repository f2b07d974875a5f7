#include "cli/cancel_signals.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <initializer_list>

namespace quorvant::cli {

namespace {
sigset_t CancelSet() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal_number : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&set, signal_number);
  return set;
}
}  // namespace

CancelSignals::CancelSignals() {
  const sigset_t set = CancelSet();
  sigprocmask(SIG_BLOCK, &set, nullptr);
  // A signal still pending when this ends stays blocked: the process is about
  // to end anyway, and it ends through its own exit status rather than the signal.
  descriptor_.Reset(signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));
}

bool CancelSignals::Requested() {
  if (signal_ != 0 || !descriptor_.IsOpen()) return signal_ != 0;
  signalfd_siginfo information;
  while (read(descriptor_.Get(), &information, sizeof information) ==
         static_cast<ssize_t>(sizeof information)) {
    if (signal_ == 0) signal_ = static_cast<int>(information.ssi_signo);
  }
  return signal_ != 0;
}

bool CancelSignals::StopRequested() {
  stopped_ = stopped_ || Requested();
  return stopped_;
}

bool CancelSignals::StopRequestedDuringWork() {
  if (signal_ == 0 && ++calls_since_check_ < CheckEvery) return false;
  calls_since_check_ = 0;
  return StopRequested();
}

}  // namespace quorvant::cli
