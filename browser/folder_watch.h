#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock.h"
#include "base/result.h"
#include "base/unique_fd.h"
#include "browser/file_table.h"
#include "browser/folder_scan.h"

namespace quorvant {

enum class WatchMode {
  Trusted,    // the kernel reports every change: re-list only after a report
  Untrusted,  // the folder is on a network or FUSE file system, where other
              // machines change files unreported: reports, and once a second
  Polling,    // no watch (it could not be set up, or was lost): once a second
};

// Lets a test pretend the folder lives on another kind of file system, and
// reach into the listings the watch makes. Not for production.
struct FolderWatchSeam {
  // The folder's file-system type, as statfs reports it in f_type.
  std::function<std::int64_t(int folder_fd)> FileSystemType;
  FolderScanSeam Scan{};
};

// True for file systems whose files other machines or user-space servers can
// change without the kernel hearing of it (NFS, SMB, FUSE, 9p, Ceph, ...).
bool IsRemoteFileSystem(std::int64_t file_system_type);

// What the folder's reports ask of the listing.
enum class FolderDue {
  Nothing,
  Entries,  // only sizes or times changed, of the names in TouchedNames()
  Listing,  // the whole folder must be listed again
};

// What bringing the listing up to date did.
struct ListingUpdate {
  bool Changed = false;  // the table was written: a few entries, or a whole listing
  // A listing failed where the one before had not (or failed otherwise):
  // the table kept the entries it had. ListingProblem() says why.
  bool ProblemBegan = false;
};

// Tells the input wait when the folder must be listed again, so that an idle
// program lists an unchanged folder never (or once a second where changes can
// go unreported), and can sleep on WaitFd() until the folder changes; and
// keeps the cost of a busy folder small.
//
// A report is acted on at once. One that comes within QuietMs after that is
// held, and the wait stops watching until that time is up; then all that
// came meanwhile are acted on together. So a lone change costs one update
// and no timer, and a burst or a steady stream of changes at most one update
// every QuietMs, however many reports it makes.
//
// A change of only a file's size or times (written to, closed after writing,
// touched) updates that entry alone; any other change, or too many names,
// asks for a whole listing.
//
// Ask, then act when told to: the folder's reports are drained before the
// answer, so a change made during the scan is reported at the next question
// and never lost. The first answer is a listing; in the Untrusted and Polling
// modes, and while listings fail, a listing also comes once a second.
class FolderWatch {
 public:
  // Watches the folder open as folder_fd (the descriptor is not kept).
  explicit FolderWatch(int folder_fd, const FolderWatchSeam* seam = nullptr);

  // Never blocks. After Entries, the names are in TouchedNames() until the
  // next question.
  FolderDue Ask(Clock& clock);
  const std::vector<std::string>& TouchedNames() const { return touched_; }
  // Ask, for a caller that lists the whole folder for any answer but Nothing.
  bool MustRescan(Clock& clock) { return Ask(clock) != FolderDue::Nothing; }

  // Brings `table` (the listing of folder_fd) up to date with what Ask
  // answers: nothing, a few entries (one look at each), or a whole listing.
  ListingUpdate Update(Clock& clock, int folder_fd, FileTable& table);
  // Lists the whole folder now (after the program's own change), taking in
  // the reports that came before.
  ListingUpdate ListNow(Clock& clock, int folder_fd, FileTable& table);

  // Ends the quiet period now, so that the next question acts on the
  // reports held. For a program that comes back to wait after doing
  // something, perhaps to the folder itself: what it shows next must be
  // current. Reports are merged only while it sits waiting.
  void EndQuietPeriod() { quiet_ = false; }

  // Readable when the folder has reported something; -1 without a watch,
  // and while reports are held (they are taken in when the quiet period ends).
  int WaitFd() const { return holding_ ? -1 : inotify_fd_.Get(); }
  // How long the input wait may sleep before the next question is due: -1
  // when only a report ends the wait (Trusted, nothing held, the folder
  // readable), else 0..1000.
  int MsUntilRescan(Clock& clock) const;

  WatchMode Mode() const { return mode_; }
  // Why the watch is not in use, for a log line; empty while watching.
  const std::optional<Error>& Problem() const { return problem_; }
  // Why the last listing failed (the table kept its entries); empty once
  // one succeeds. A folder that is gone lists as empty instead.
  const std::optional<Error>& ListingProblem() const { return listing_problem_; }
  // True once while a listing problem lasts: the user is still to be told.
  bool TakeUntoldProblem();

  // The longest time between two listings where reports are not trusted.
  static constexpr std::int64_t SafetyIntervalMs = 1000;
  // How long reports are held after a change is acted on.
  static constexpr std::int64_t QuietMs = 100;
  // More changed names than this are listed as a whole: it bounds what is
  // held, and a listing then costs little more than looking at each.
  static constexpr std::size_t MaxTouchedNames = 256;

 private:
  // Reads every pending report into the held changes; a broken watch holds
  // a listing.
  void Drain();
  void Hold(std::string_view name, std::uint32_t mask);
  void FallBack(Error problem);
  ListingUpdate List(Clock& clock, int folder_fd, FileTable& table);

  UniqueFd inotify_fd_;
  WatchMode mode_ = WatchMode::Polling;
  std::optional<Error> problem_;
  bool asked_ = false;
  std::int64_t last_listing_ms_ = 0;

  // Reports taken in and not yet acted on.
  bool held_listing_ = false;
  std::vector<std::string> held_names_;
  std::vector<std::string> touched_;  // handed out with the last Entries
  // Reports were acted on at acted_ms_, less than QuietMs ago: those that
  // come now are held (holding_) until then.
  bool quiet_ = false;
  std::int64_t acted_ms_ = 0;
  bool holding_ = false;

  // Listings are made here and swapped in only when they succeed.
  FileTable spare_;
  FolderScanSeam scan_seam_;
  std::optional<Error> listing_problem_;
  bool problem_told_ = false;
};

}  // namespace quorvant
