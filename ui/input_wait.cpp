#include "ui/input_wait.h"

#include <algorithm>
#include <optional>

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

void HideHelp(AppState& s) {
  ClearWorkArea(s);
  s.HelpShown = -1;
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

std::optional<WaitResult> RunViewerInDispatch(AppState& s) {
  switch (RunByteViewer(s)) {
    case ViewerExit::Return: return std::nullopt;
    case ViewerExit::ProgramEnd: return WaitResult::ProgramEnd;
    case ViewerExit::BrowseEntry: return WaitResult::BrowseEntry;
    case ViewerExit::RestartWait: return WaitResult::RestartWait;
    case ViewerExit::ContinueAtShowHideTest: return DispatchClick(s, DispatchFrom::ShowHideTest);
  }
  return std::nullopt;
}

WaitResult InputWait(AppState& s) {
  for (;;) {
    if (s.ScreenMode == "the key" && s.StatusMessage.empty()) DrawCaret(s);
    if (s.link->Alive.load() == 0) return WaitResult::ProgramEnd;
    s.PendingKey = s.platform->ReadKey(KeySite::Wait);
    if (ScanFolderStep(s) == WaitResult::ProgramEnd) return WaitResult::ProgramEnd;
    // Input that is already here is handled at once; otherwise wait a cycle.
    if (s.link->ClickKind.load() == 0 && s.PendingKey.empty()) {
      s.platform->IdleSleep(*s.clock, s.link->RefreshInterval.load());
      if (s.link->ClickKind.load() == 0) continue;
    }
    const WaitResult result = DispatchClick(s, DispatchFrom::Start);
    if (result != WaitResult::RestartWait) return result;
  }
}

// A click on the icon row or the on-screen keyboard, in this order (each
// test runs only if the ones before did not return):
//
//   icon / state                         what follows
//   Statistics during key entry          nothing: return at once
//   Show|Hide key                        toggle KeyHidden, redraw its mark
//   Statistics                           the statistics screen takes over
//   Help                                 show or hide the help text; return
//   Key while a key is typed             acts as Enter
//   browsing: Encrypted                  " F" (next encrypted file); return
//   browsing: List file                  the byte viewer, then on
//   browsing: Key                        acts as Enter
//   Keyboard                             show or hide the on-screen keyboard
//   Key during key entry (empty key)     acts as Escape
//   keyboard shown                       a key of the picture types its key
// Finally any input but the Help icon hides the help text.
WaitResult DispatchClick(AppState& s, DispatchFrom from) {
  bool in_key_entry = s.ScreenMode == "the key";
  if (from == DispatchFrom::Start) {
    s.ClickedIcon = -1;
    if (s.link->ClickKind.load() == 0) {
      if (s.HelpShown == 1) HideHelp(s);
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
    if (in_key_entry && s.ClickedIcon == icon::Statistics) return WaitResult::Input;
  }
  if (s.ClickedIcon == icon::ShowHide) {
    s.KeyHidden = -s.KeyHidden;
    DrawShowHideIndicator(s);
  }
  if (s.ClickedIcon == icon::Statistics) {
    s.KeyboardShown = -1;
    return ToggleStatistics(s);
  }
  if (s.ClickedIcon == icon::Help) {
    if (s.HelpShown == -1) {
      ShowHelp(s);
      s.HelpShown = 1;
    } else {
      HideHelp(s);
    }
    return WaitResult::Input;
  }
  if (s.ClickedIcon == icon::Key && !s.KeyText.empty()) {
    s.PendingKey = std::string(1, key::Enter);
    s.ClickedIcon = -1;
  }
  if (s.ScreenMode == "scroll") {
    if (s.ClickedIcon == icon::Encrypted) {
      s.PendingKey = EncryptedIconKey;
      if (s.HelpShown == 1) HideHelp(s);
      return WaitResult::Input;
    }
    if (s.ClickedIcon == icon::ListFile) {
      if (const std::optional<WaitResult> passed_on = RunViewerInDispatch(s)) return *passed_on;
    }
    if (s.ClickedIcon == icon::Key) {
      s.PendingKey = std::string(1, key::Enter);
      s.ClickedIcon = -1;
    }
  }
  if (s.ClickedIcon == icon::Keyboard) ToggleKeyboard(s);
  in_key_entry = s.ScreenMode == "the key";
  if (in_key_entry && s.ClickedIcon == icon::Key) {
    s.PendingKey = std::string(1, key::Escape);
    s.ClickedIcon = -1;
  }
  if (s.KeyboardShown == 1 && s.ClickedIcon == -1) KeyboardClick(s, s.ClickX, s.ClickY);
  if (s.HelpShown == 1) HideHelp(s);
  return WaitResult::Input;
}

}  // namespace quorvant
