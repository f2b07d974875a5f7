#include "ui/folder_refresh.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "browser/folder_scan.h"
#include "browser/folder_watch.h"
#include "browser/navigation.h"
#include "ui/file_work.h"
#include "ui/panels.h"

namespace quorvant {

namespace {

// Brings the listing up to date; true when the table was written. A listing
// that fails keeps the entries the table had, and says why on standard error
// when the failure begins.
bool RefreshListing(AppState& s, Rescan when) {
  if (s.Watch == nullptr) {
    FileTable listed;
    if (const Status scanned = FolderScan(s.FolderFd, listed); !scanned) {
      std::fprintf(stderr, "quorvant: cannot read the folder: %s\n", std::strerror(scanned.error().code));
      return false;
    }
    s.Browser.Files = std::move(listed);
    return true;
  }
  const ListingUpdate update = when == Rescan::Now ? s.Watch->ListNow(*s.Clock, s.FolderFd, s.Browser.Files)
                                                   : s.Watch->Update(*s.Clock, s.FolderFd, s.Browser.Files);
  if (update.ProblemBegan) {
    std::fprintf(stderr, "quorvant: cannot read the folder: %s\n",
                 std::strerror(s.Watch->ListingProblem()->code));
  }
  return update.Changed;
}

}  // namespace

WaitResult ShowSelectedFile(AppState& s) {
  if (s.FileCount() == 0) {
    ShowFatalMessage(s, "Empty folder");
    return WaitResult::ProgramEnd;
  }
  const FileEntry& entry = s.Browser.Files.Entry(s.Browser.SelectedIndex);
  ShowCurrentFile(s, entry);
  s.Browser.LastShownName = entry.name;
  s.Browser.LastShownSize = entry.size;
  if (entry.interrupted) ShowFileNotice(s, FileOutcome::Interrupted);
  return WaitResult::Input;
}

WaitResult ScanFolderStep(AppState& s, Rescan when) {
  const bool changed = RefreshListing(s, when);
  // Told once, while browsing, where the status band is free; a folder that
  // never listed a file (unreadable from the start) ends below as empty.
  if (s.Watch != nullptr && s.Mode == ScreenMode::Scroll && s.FileCount() > 0 &&
      s.Watch->TakeUntoldProblem()) {
    s.Status.Message = "Cannot read folder";
    ShowAlert(s, s.Status.Message);
  }
  if (changed || s.FileCount() == 0) {
    s.Browser.PageStep = s.Browser.Files.PageStep();
    // While a key is typed, the list keeps showing the file it is for,
    // wherever a change in the folder moved it.
    if (s.Work.Target) {
      const auto& entries = s.Browser.Files.entries;
      const auto found = std::find_if(entries.begin(), entries.end(), [&](const FileEntry& entry) {
        return entry.name == s.Work.Target->Name;
      });
      if (found != entries.end()) s.Browser.SelectedIndex = static_cast<int>(found - entries.begin()) + 1;
    }
    const ScanDecision decision = DecideAfterScan(s.Browser.Files, s.Browser.SelectedIndex,
                                                  s.Browser.LastShownName, s.Browser.LastShownSize);
    if (decision.FolderEmpty) {
      ShowFatalMessage(s, "Empty folder");
      return WaitResult::ProgramEnd;
    }
    s.Browser.SelectedIndex = decision.SelectedIndex;
    if (decision.RedrawSelected) return ShowSelectedFile(s);
  }
  return WaitResult::Input;
}

}  // namespace quorvant
