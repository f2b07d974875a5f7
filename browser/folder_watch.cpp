#include "browser/folder_watch.h"

#include <sys/inotify.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "base/retry.h"

namespace quorvant {

namespace {

constexpr std::int64_t DayMs = 86'400'000;

// Everything that can change which files are listed, their names or sizes,
// and the folder itself going away.
constexpr std::uint32_t WatchedEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY |
                                        IN_ATTRIB | IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF;
// The reports that leave a file's name and kind as they were: only its size
// and times may have changed.
constexpr std::uint32_t ContentEvents = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE;

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
  if (seam != nullptr) scan_seam_ = seam->Scan;
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

// The questions, and what each answers (the first is always a listing). The
// quiet period is the QuietMs after reports were last acted on:
//
//   reports taken in   quiet period   safety listing due   answer
//   none               any            no                   Nothing
//   some               running        no                   Nothing: held, the wait stops
//                                                          watching until the period ends
//   some               over           no                   Entries or Listing; a period begins
//   any                any            yes                  Listing (reports taken in)
//
// The safety listing is due once a second in the Untrusted and Polling
// modes, and while listings fail.
FolderDue FolderWatch::Ask(Clock& clock) {
  const std::int64_t now_ms = clock.MillisecondsSinceMidnight();
  // Drained on every question, so that old reports never cause a second update.
  if (inotify_fd_.IsOpen()) Drain();
  const bool safety_due = (mode_ != WatchMode::Trusted || listing_problem_.has_value()) &&
                          ElapsedMs(last_listing_ms_, now_ms) >= SafetyIntervalMs;
  const bool listing = !asked_ || safety_due;
  asked_ = true;
  if (quiet_ && ElapsedMs(acted_ms_, now_ms) >= QuietMs) quiet_ = false;
  const bool reported = held_listing_ || !held_names_.empty();
  holding_ = reported && quiet_ && !listing;
  if (!listing && (!reported || holding_)) return FolderDue::Nothing;

  if (reported) {
    quiet_ = true;
    acted_ms_ = now_ms;
  }
  if (listing || held_listing_) {
    held_listing_ = false;
    held_names_.clear();
    last_listing_ms_ = now_ms;
    return FolderDue::Listing;
  }
  touched_.swap(held_names_);
  held_names_.clear();
  return FolderDue::Entries;
}

ListingUpdate FolderWatch::Update(Clock& clock, int folder_fd, FileTable& table) {
  const FolderDue due = Ask(clock);
  if (due == FolderDue::Nothing) return {};
  bool updated = false;
  if (due == FolderDue::Entries) {
    const auto stale = std::find_if(touched_.begin(), touched_.end(), [&](const std::string& name) {
      if (!UpdateEntry(folder_fd, table, name)) return true;
      updated = true;
      return false;
    });
    if (stale == touched_.end()) return ListingUpdate{.Changed = true};
  }
  ListingUpdate update = List(clock, folder_fd, table);
  update.Changed = update.Changed || updated;
  return update;
}

ListingUpdate FolderWatch::ListNow(Clock& clock, int folder_fd, FileTable& table) {
  // Drained first: the listing takes in every change reported so far.
  if (inotify_fd_.IsOpen()) Drain();
  held_listing_ = false;
  held_names_.clear();
  holding_ = false;
  asked_ = true;
  return List(clock, folder_fd, table);
}

ListingUpdate FolderWatch::List(Clock& clock, int folder_fd, FileTable& table) {
  last_listing_ms_ = clock.MillisecondsSinceMidnight();
  const Status status = FolderScan(folder_fd, spare_, &scan_seam_);
  // A folder that is gone holds no file: its empty listing stands.
  if (status.ok() || status.error().code == ENOENT) {
    std::swap(table, spare_);
    listing_problem_.reset();
    problem_told_ = false;
    return ListingUpdate{.Changed = true};
  }
  const bool began = !listing_problem_ || listing_problem_->code != status.error().code;
  listing_problem_ = status.error();
  if (began) problem_told_ = false;
  return ListingUpdate{.Changed = false, .ProblemBegan = began};
}

bool FolderWatch::TakeUntoldProblem() {
  if (!listing_problem_ || problem_told_) return false;
  problem_told_ = true;
  return true;
}

int FolderWatch::MsUntilRescan(Clock& clock) const {
  if (!asked_) return 0;
  const std::int64_t now_ms = clock.MillisecondsSinceMidnight();
  std::int64_t due_ms = -1;
  if (holding_) due_ms = std::max<std::int64_t>(0, QuietMs - ElapsedMs(acted_ms_, now_ms));
  if (mode_ != WatchMode::Trusted || listing_problem_) {
    const std::int64_t safety_ms =
        std::max<std::int64_t>(0, SafetyIntervalMs - ElapsedMs(last_listing_ms_, now_ms));
    due_ms = due_ms < 0 ? safety_ms : std::min(due_ms, safety_ms);
  }
  return static_cast<int>(due_ms);
}

void FolderWatch::Drain() {
  // Large enough for several reports, each at most one header and a name.
  alignas(struct inotify_event) char buffer[16 * (sizeof(struct inotify_event) + 256)];
  bool watch_removed = false;
  for (;;) {
    const ssize_t got = RetryOnInterrupt([&] { return read(inotify_fd_.Get(), buffer, sizeof buffer); });
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (got <= 0) {
      FallBack(got < 0 ? Error::FromErrno("read folder watch") : Error{0, "read folder watch: no data"});
      held_listing_ = true;
      return;
    }
    for (std::size_t offset = 0; offset + sizeof(struct inotify_event) <= static_cast<std::size_t>(got);) {
      struct inotify_event event {};
      std::memcpy(&event, buffer + offset, sizeof event);
      const char* name = buffer + offset + sizeof event;
      const std::size_t name_room =
          std::min<std::size_t>(event.len, static_cast<std::size_t>(got) - offset - sizeof event);
      // The kernel drops the watch when the folder is deleted or its file
      // system unmounted; no report would ever come again.
      if ((event.mask & IN_IGNORED) != 0) watch_removed = true;
      Hold(std::string_view(name, strnlen(name, name_room)), event.mask);
      offset += sizeof event + event.len;
    }
  }
  if (watch_removed) {
    FallBack(Error{0, "folder watch removed"});
    held_listing_ = true;
  }
}

void FolderWatch::Hold(std::string_view name, std::uint32_t mask) {
  if (held_listing_) return;
  // Anything but a change of a named file's contents or attributes -- a name
  // made, removed or renamed, the folder itself, IN_Q_OVERFLOW (the kernel's
  // word that reports were dropped) -- asks for a listing: only that is sure.
  if ((mask & ~(ContentEvents | IN_ISDIR)) != 0 || name.empty()) {
    held_listing_ = true;
    held_names_.clear();
    return;
  }
  // A folder inside, a hidden file or the program's own is never listed:
  // what is written to it changes nothing shown.
  if ((mask & IN_ISDIR) != 0 || !NameMayBeListed(name)) return;
  if (std::find(held_names_.begin(), held_names_.end(), name) != held_names_.end()) return;
  if (held_names_.size() == MaxTouchedNames) {
    held_listing_ = true;
    held_names_.clear();
    return;
  }
  held_names_.emplace_back(name);
}

void FolderWatch::FallBack(Error problem) {
  inotify_fd_.Reset();
  mode_ = WatchMode::Polling;
  problem_ = std::move(problem);
}

}  // namespace quorvant
