#pragma once

// A real process held at an exact moment of its work. After each change in
// its folder the process is stopped (SIGSTOP), and only then is the folder
// looked at, so what the test sees is what a kill or a signal sent now will
// find: nothing moves between the look and the act. No sleeps and no timing:
// inotify says when to look, a pidfd says the process has ended.

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "base/unique_fd.h"
#include "tests/support/temp_folder.h"

namespace quorvant::testing {

enum class Moment {
  NotYet,   // go on, look again at the next change
  Reached,  // stop here: the process is left stopped
  Missed,   // the moment has passed: the process is let go
};

// Stops `pid` (a child of this process) and waits until it is stopped.
// False when it has ended instead; it is then left for its parent's wait.
inline bool StopChild(pid_t pid) {
  kill(pid, SIGSTOP);
  for (;;) {
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WSTOPPED | WEXITED | WNOWAIT) != 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (info.si_code != CLD_STOPPED) return false;
    // Take the stop report, so that a later one is a new stop.
    int status = 0;
    waitpid(pid, &status, WUNTRACED);
    return true;
  }
}

// Lets the child `pid` run until `look`, asked while it is stopped after a
// change in `folder`, says the moment is Reached (the child stays stopped) or
// Missed; Missed also when the child ends first.
inline Moment StopAtMoment(const TempFolder& folder, pid_t pid, const std::function<Moment()>& look) {
  const UniqueFd changes(inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
  if (!changes.IsOpen() ||
      inotify_add_watch(changes.Get(), folder.Path().c_str(),
                        IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_MODIFY | IN_DELETE) < 0) {
    ADD_FAILURE() << "no inotify: " << errno;
    return Moment::Missed;
  }
  const UniqueFd process(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
  if (!process.IsOpen()) {
    ADD_FAILURE() << "no pidfd: " << errno;
    return Moment::Missed;
  }
  for (;;) {
    if (!StopChild(pid)) return Moment::Missed;
    const Moment seen = look();
    if (seen == Moment::Reached) return seen;
    kill(pid, SIGCONT);
    if (seen == Moment::Missed) return seen;
    pollfd waits[2] = {{changes.Get(), POLLIN, 0}, {process.Get(), POLLIN, 0}};
    if (poll(waits, 2, -1) < 0 && errno != EINTR) return Moment::Missed;
    alignas(inotify_event) char events[4096];
    while (read(changes.Get(), events, sizeof events) > 0) {
    }
  }
}

}  // namespace quorvant::testing
