#include "browser/folder_watch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>
#include <utility>

#include "base/retry.h"

namespace quorvant {

namespace {

constexpr std::int64_t DayMs = 86'400'000;

// Everything that can change which files are listed, their names or sizes,
// and the folder itself going away.
constexpr std::uint32_t WatchedEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY |
                                        IN_ATTRIB | IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF;

// Time passed on a clock that tells the time of day: it wraps at midnight. A
// clock set backwards looks like a long wait, which only causes one early scan.
std::int64_t ElapsedMs(std::int64_t from_ms, std::int64_t to_ms) {
  return ((to_ms - from_ms) % DayMs + DayMs) % DayMs;
}

}  // namespace

FolderWatch::FolderWatch(int folder_fd, WatchMode mode) {
  if (mode == WatchMode::PollEveryCycle) return;
  UniqueFd inotify_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (!inotify_fd.IsOpen()) {
    FallBack(Error::FromErrno("start folder watch"));
    return;
  }
  // inotify wants a path; the descriptor's entry under /proc names the very
  // folder that is open, even after it was renamed.
  const std::string path = "/proc/self/fd/" + std::to_string(folder_fd);
  if (inotify_add_watch(inotify_fd.Get(), path.c_str(), WatchedEvents | IN_ONLYDIR) < 0) {
    FallBack(Error::FromErrno("watch folder"));
    return;
  }
  inotify_fd_ = std::move(inotify_fd);
  mode_ = WatchMode::Inotify;
}

bool FolderWatch::MustRescan(Clock& clock) {
  const std::int64_t now_ms = clock.MillisecondsSinceMidnight();
  bool rescan = !asked_;
  // Drained on every question, so that old reports never cause a second scan.
  if (mode_ == WatchMode::Inotify && Drain()) rescan = true;
  if (mode_ == WatchMode::PollEveryCycle) rescan = true;
  if (ElapsedMs(last_yes_ms_, now_ms) >= SafetyIntervalMs) rescan = true;
  asked_ = true;
  if (rescan) last_yes_ms_ = now_ms;
  return rescan;
}

bool FolderWatch::Drain() {
  // Large enough for several reports, each at most one header and a name.
  alignas(struct inotify_event) char buffer[16 * (sizeof(struct inotify_event) + 256)];
  bool reported = false;
  bool watch_removed = false;
  for (;;) {
    const ssize_t got = RetryOnInterrupt([&] { return read(inotify_fd_.Get(), buffer, sizeof buffer); });
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (got <= 0) {
      FallBack(got < 0 ? Error::FromErrno("read folder watch") : Error{0, "read folder watch: no data"});
      return true;
    }
    reported = true;
    for (std::size_t offset = 0; offset + sizeof(struct inotify_event) <= static_cast<std::size_t>(got);) {
      struct inotify_event event {};
      std::memcpy(&event, buffer + offset, sizeof event);
      // The kernel drops the watch when the folder is deleted or its file
      // system unmounted; no report would ever come again.
      if ((event.mask & IN_IGNORED) != 0) watch_removed = true;
      offset += sizeof event + event.len;
    }
  }
  if (watch_removed) FallBack(Error{0, "folder watch removed"});
  return reported;
}

void FolderWatch::FallBack(Error problem) {
  inotify_fd_.Reset();
  mode_ = WatchMode::PollEveryCycle;
  problem_ = std::move(problem);
}

}  // namespace quorvant
