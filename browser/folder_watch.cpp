#include "browser/folder_watch.h"

#include <sys/inotify.h>
#include <sys/vfs.h>
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

// File systems whose files change without the local kernel seeing it: the
// network ones, and FUSE, whose server may be anything (sshfs, a cloud drive).
struct RemoteFileSystem {
  std::uint32_t type;  // statfs f_type
  const char* name;
};
constexpr RemoteFileSystem RemoteFileSystems[] = {
    {0x00006969, "nfs"},    {0x0000517B, "smb"},      {0xFF534D42, "cifs"},   {0xFE534D42, "smb2"},
    {0x65735546, "fuse"},   {0x01021997, "9p"},       {0x00C36400, "ceph"},   {0x5346414F, "afs"},
    {0x6B414653, "kafs"},   {0x73757245, "coda"},     {0x0000564C, "ncp"},    {0x7461636F, "ocfs2"},
    {0x01161970, "gfs2"},   {0x0BD00BD0, "lustre"},   {0x47504653, "gpfs"},   {0x786F4256, "vboxsf"},
    {0x7C7C6673, "prl_fs"}, {0x20030528, "orangefs"}, {0x00C0FFEE, "hostfs"},
};

std::int64_t FileSystemTypeOf(int folder_fd) {
  struct statfs info {};
  if (RetryOnInterrupt([&] { return fstatfs(folder_fd, &info); }) != 0) return -1;
  return static_cast<std::int64_t>(info.f_type);
}

// Time passed on a clock that tells the time of day: it wraps at midnight. A
// clock set backwards looks like a long wait, which only causes one early scan.
std::int64_t ElapsedMs(std::int64_t from_ms, std::int64_t to_ms) {
  return ((to_ms - from_ms) % DayMs + DayMs) % DayMs;
}

}  // namespace

bool IsRemoteFileSystem(std::int64_t file_system_type) {
  for (const RemoteFileSystem& remote : RemoteFileSystems) {
    if (static_cast<std::uint32_t>(file_system_type) == remote.type) return true;
  }
  return false;
}

FolderWatch::FolderWatch(int folder_fd, const FolderWatchSeam* seam) {
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
  // A type that cannot be read counts as remote: the re-list costs little,
  // a change never shown would cost much more.
  const std::int64_t type =
      seam != nullptr && seam->FileSystemType ? seam->FileSystemType(folder_fd) : FileSystemTypeOf(folder_fd);
  mode_ = type < 0 || IsRemoteFileSystem(type) ? WatchMode::Untrusted : WatchMode::Trusted;
}

bool FolderWatch::MustRescan(Clock& clock) {
  const std::int64_t now_ms = clock.MillisecondsSinceMidnight();
  bool rescan = !asked_;
  // Drained on every question, so that old reports never cause a second scan.
  if (inotify_fd_.IsOpen() && Drain()) rescan = true;
  if (mode_ != WatchMode::Trusted && ElapsedMs(last_yes_ms_, now_ms) >= SafetyIntervalMs) rescan = true;
  asked_ = true;
  if (rescan) last_yes_ms_ = now_ms;
  return rescan;
}

int FolderWatch::MsUntilRescan(Clock& clock) const {
  if (!asked_) return 0;
  if (mode_ == WatchMode::Trusted) return -1;
  const std::int64_t waited_ms = ElapsedMs(last_yes_ms_, clock.MillisecondsSinceMidnight());
  return waited_ms >= SafetyIntervalMs ? 0 : static_cast<int>(SafetyIntervalMs - waited_ms);
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
    // Any report asks for a re-list; so does IN_Q_OVERFLOW, the kernel's
    // word that reports were dropped, after which only a listing is sure.
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
  mode_ = WatchMode::Polling;
  problem_ = std::move(problem);
}

}  // namespace quorvant
