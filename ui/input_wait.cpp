#include "ui/input_wait.h"

#include <algorithm>

#include "browser/folder_scan.h"
#include "browser/folder_watch.h"
#include "ui/byte_viewer.h"
#include "ui/file_work.h"
#include "ui/fixed_tables.h"
#include "ui/help_screen.h"
#include "ui/keyboard_screen.h"
#include "ui/panels.h"
#include "ui/statistics_screen.h"

namespace quorvant {

namespace {

// The key caret: solid right after a key, otherwise shown for the first
// 0.4 s of every second.
void DrawCaret(AppState& s) {
  Colour colour = DarkGrey;
  if (s.PendingKey.empty()) {
    const std::int64_t fraction_ms = s.clock->MillisecondsSinceMidnight() % 1000;
    colour = fraction_ms < 400 ? DarkGrey : Black;
  }
  Painter& p = *s.painter;
  p.SetLineWidth(1);
  p.SetPosition(s.CaretX, StatusY);
  p.DrawLine(s.CaretX, StatusY + s.LineHeight, colour);
}

// When the caret's blink next changes its colour: it is shown for the first
// 400 ms of every second.
int MsUntilBlink(AppState& s) {
  const int fraction_ms = static_cast<int>(s.clock->MillisecondsSinceMidnight() % 1000);
  return fraction_ms < 400 ? 400 - fraction_ms : 1000 - fraction_ms;
}

// How long the input wait may sleep before something must be drawn or the
// folder listed: -1 for as long as it takes.
int MsUntilDue(AppState& s) {
  int due_ms = -1;
  if (s.Mode == ScreenMode::Key && s.StatusMessage.empty()) due_ms = MsUntilBlink(s);
  if (s.Watch != nullptr) {
    const int rescan_ms = s.Watch->MsUntilRescan(*s.clock);
    if (rescan_ms >= 0 && (due_ms < 0 || rescan_ms < due_ms)) due_ms = rescan_ms;
  }
  return due_ms;
}

void HideHelp(AppState& s) {
  ClearWorkArea(s);
  s.HelpShown = false;
}

}  // namespace

WaitResult ShowSelectedFile(AppState& s) {
  if (s.FileCount() == 0) {
    ShowFatalMessage(s, "Empty folder");
    return WaitResult::ProgramEnd;
  }
  const FileEntry& entry = s.Files.Entry(s.SelectedIndex);
  ShowCurrentFile(s, entry);
  s.LastShownName = entry.name;
  s.LastShownSize = entry.size;
  if (entry.interrupted) ShowFileNotice(s, FileOutcome::Interrupted);
  return WaitResult::Input;
}

WaitResult ScanFolderStep(AppState& s, Rescan when) {
  if (when == Rescan::Now || s.Watch == nullptr || s.Watch->MustRescan(*s.clock)) {
    // An unreadable folder lists as empty, which ends the program below.
    (void)FolderScan(s.FolderFd, s.Files);
    s.PageStep = s.Files.PageStep();
    // While a key is typed, the list keeps showing the file it is for,
    // wherever a change in the folder moved it.
    if (s.Target) {
      const auto& entries = s.Files.entries;
      const auto found = std::find_if(entries.begin(), entries.end(),
                                      [&](const FileEntry& entry) { return entry.name == s.Target->name; });
      if (found != entries.end()) s.SelectedIndex = static_cast<int>(found - entries.begin()) + 1;
    }
    const ScanDecision decision = DecideAfterScan(s.Files, s.SelectedIndex, s.LastShownName, s.LastShownSize);
    if (decision.FolderEmpty) {
      ShowFatalMessage(s, "Empty folder");
      return WaitResult::ProgramEnd;
    }
    s.SelectedIndex = decision.SelectedIndex;
    if (decision.RedrawSelected) return ShowSelectedFile(s);
  }
  return WaitResult::Input;
}

WaitResult InputWait(AppState& s) {
  for (;;) {
    if (s.Mode == ScreenMode::Key && s.StatusMessage.empty()) DrawCaret(s);
    if (s.link->Alive.load() == 0) return WaitResult::ProgramEnd;
    s.PendingKey = s.platform->ReadKey(KeySite::Wait);
    if (ScanFolderStep(s) == WaitResult::ProgramEnd) return WaitResult::ProgramEnd;
    if (s.link->ClickKind.load() != 0 || !s.PendingKey.empty()) return DispatchClick(s, DispatchFrom::Start);
    // Nothing to do until input comes, the folder reports a change, or the
    // caret or a re-list is due; the wait shows what was drawn first.
    const int wake_fd = s.Watch != nullptr ? s.Watch->WaitFd() : -1;
    s.platform->Wait(*s.clock, WaitRequest::Input(MsUntilDue(s), wake_fd));
  }
}

Next AfterWait(AppState& s, WaitResult result, Next on_input) {
  s.ResumeAt = on_input;
  return Resume(s, result);
}

Next Resume(AppState& s, WaitResult result) {
  switch (result) {
    case WaitResult::Input: return s.ResumeAt;
    case WaitResult::BrowseEntry: return Next::BrowseEntry;
    case WaitResult::ProgramEnd: return Next::ProgramEnd;
    case WaitResult::Statistics: return Next::Statistics;
    case WaitResult::ByteViewer: return Next::ByteViewer;
  }
  return Next::ProgramEnd;
}

Next RunViewerScreen(AppState& s) {
  switch (RunByteViewer(s)) {
    case ViewerExit::Return: return Resume(s, DispatchClick(s, s.ViewerReturn));
    case ViewerExit::ContinueAtShowHideTest: return Resume(s, DispatchClick(s, DispatchFrom::ShowHideTest));
    case ViewerExit::RestartWait: return Next::ResumeWait;
    case ViewerExit::BrowseEntry: return Next::BrowseEntry;
    case ViewerExit::ProgramEnd: return Next::ProgramEnd;
  }
  return Next::ProgramEnd;
}

// A click on the icon row or the on-screen keyboard, in this order (each
// test runs only if the ones before did not return):
//
//   icon / state                         what follows
//   Statistics during key entry          nothing: return at once
//   Show|Hide key                        toggle KeyHidden, redraw its mark
//   Statistics                           the statistics screen takes over
//                                        (while it is open: it closes)
//   Help                                 show or hide the help text; return
//   Key while a key is typed             acts as Enter
//   browsing: Encrypted                  " F" (next encrypted file); return
//   browsing: List file                  the byte viewer takes over; once
//                                        it closes, the tests below go on
//   browsing: Key                        acts as Enter
//   Keyboard                             show or hide the on-screen keyboard
//   Key during key entry (empty key)     acts as Escape
//   keyboard shown                       a key of the picture types its key
// Finally any input but the Help icon hides the help text.
WaitResult DispatchClick(AppState& s, DispatchFrom from) {
  if (from == DispatchFrom::Start) {
    s.ClickedIcon = -1;
    if (s.link->ClickKind.load() == 0) {
      if (s.HelpShown) HideHelp(s);
      return WaitResult::Input;
    }
    const int x = s.link->ClickX.load();
    const int y = s.link->ClickY.load();
    s.link->ClearClick();
    s.ClickX = x;
    s.ClickY = y;
    const int hit = HitTestIconRow(s, x, y);
    if (hit >= 0) {
      s.ClickedIcon = hit;
      PressFeedback(s, hit);
    }
    if (s.Mode == ScreenMode::Key && s.ClickedIcon == icon::Statistics) return WaitResult::Input;
  }
  if (from != DispatchFrom::AfterListFile) {
    if (s.ClickedIcon == icon::ShowHide) {
      s.KeyHidden = !s.KeyHidden;
      DrawShowHideIndicator(s);
    }
    if (s.ClickedIcon == icon::Statistics) {
      s.KeyboardShown = false;
      return ToggleStatistics(s);
    }
    if (s.ClickedIcon == icon::Help) {
      if (!s.HelpShown) {
        ShowHelp(s);
        s.HelpShown = true;
      } else {
        HideHelp(s);
      }
      return WaitResult::Input;
    }
    if (s.ClickedIcon == icon::Key && !s.TypedKey.Empty()) {
      s.PendingKey = std::string(1, key::Enter);
      s.ClickedIcon = -1;
    }
    if (s.Mode == ScreenMode::Scroll && s.ClickedIcon == icon::Encrypted) {
      s.PendingKey = EncryptedIconKey;
      if (s.HelpShown) HideHelp(s);
      return WaitResult::Input;
    }
    if (s.Mode == ScreenMode::Scroll && s.ClickedIcon == icon::ListFile) {
      s.ViewerReturn = DispatchFrom::AfterListFile;
      return WaitResult::ByteViewer;
    }
  }
  if (s.Mode == ScreenMode::Scroll && s.ClickedIcon == icon::Key) {
    s.PendingKey = std::string(1, key::Enter);
    s.ClickedIcon = -1;
  }
  if (s.ClickedIcon == icon::Keyboard) ToggleKeyboard(s);
  if (s.Mode == ScreenMode::Key && s.ClickedIcon == icon::Key) {
    s.PendingKey = std::string(1, key::Escape);
    s.ClickedIcon = -1;
  }
  if (s.KeyboardShown && s.ClickedIcon == -1) KeyboardClick(s, s.ClickX, s.ClickY);
  if (s.HelpShown) HideHelp(s);
  return WaitResult::Input;
}

}  // namespace quorvant
