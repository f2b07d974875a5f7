#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "base/clock.h"
#include "base/result.h"
#include "base/unique_fd.h"

namespace quorvant {

enum class WatchMode {
  Trusted,    // the kernel reports every change: re-list only after a report
  Untrusted,  // the folder is on a network or FUSE file system, where other
              // machines change files unreported: reports, and once a second
  Polling,    // no watch (it could not be set up, or was lost): once a second
};

// Lets a test pretend the folder lives on another kind of file system. Not
// for production.
struct FolderWatchSeam {
  // The folder's file-system type, as statfs reports it in f_type.
  std::function<std::int64_t(int folder_fd)> FileSystemType;
};

// True for file systems whose files other machines or user-space servers can
// change without the kernel hearing of it (NFS, SMB, FUSE, 9p, Ceph, ...).
bool IsRemoteFileSystem(std::int64_t file_system_type);

// Tells the input wait when the folder must be listed again, so that an idle
// program lists an unchanged folder never (or once a second where changes can
// go unreported), and can sleep on WaitFd() until the folder changes.
//
// Ask, then scan when told to: the folder's reports are drained before the
// scan, so a change made during the scan is reported at the next question and
// never lost. The answer is yes on the first question, after any report from
// the folder (the program's own writes included; a report that the kernel's
// queue overflowed too), and in the Untrusted and Polling modes also when a
// second has passed since the last yes.
class FolderWatch {
 public:
  // Watches the folder open as folder_fd (the descriptor is not kept).
  explicit FolderWatch(int folder_fd, const FolderWatchSeam* seam = nullptr);

  // Never blocks.
  bool MustRescan(Clock& clock);

  // Readable when the folder has reported something; -1 without a watch.
  int WaitFd() const { return inotify_fd_.Get(); }
  // How long the input wait may sleep before the next re-list is due: -1 in
  // the Trusted mode (only a report ends the wait), else 0..1000.
  int MsUntilRescan(Clock& clock) const;

  WatchMode Mode() const { return mode_; }
  // Why the watch is not in use, for a log line; empty while watching.
  const std::optional<Error>& Problem() const { return problem_; }

  // The longest time between two yes answers where reports are not trusted.
  static constexpr std::int64_t SafetyIntervalMs = 1000;

 private:
  // Reads every pending report; true when there was any, or when the watch broke.
  bool Drain();
  void FallBack(Error problem);

  UniqueFd inotify_fd_;
  WatchMode mode_ = WatchMode::Polling;
  std::optional<Error> problem_;
  bool asked_ = false;
  std::int64_t last_yes_ms_ = 0;
};

}  // namespace quorvant
