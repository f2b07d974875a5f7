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
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) sigaddset(&set, signal);
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
  if (requested_ || !descriptor_.IsOpen()) return requested_;
  signalfd_siginfo information;
  while (read(descriptor_.Get(), &information, sizeof information) ==
         static_cast<ssize_t>(sizeof information)) {
    requested_ = true;
  }
  return requested_;
}

}  // namespace quorvant::cli
