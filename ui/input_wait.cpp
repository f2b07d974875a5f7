#include "ui/input_wait.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "browser/folder_scan.h"
#include "browser/folder_watch.h"
#include "ui/byte_viewer.h"
#include "ui/file_work.h"
#include "ui/fixed_tables.h"
#include "ui/format_choice.h"
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
  if (s.Input.PendingKey.empty()) {
    const std::int64_t fraction_ms = s.Clock->MillisecondsSinceMidnight() % 1000;
    colour = fraction_ms < 400 ? DarkGrey : Black;
  }
  Painter& p = *s.Painter;
  p.SetLineWidth(1);
  p.SetPosition(s.KeyEntry.CaretX, StatusY);
  p.DrawLine(s.KeyEntry.CaretX, StatusY + s.Layout.LineHeight, colour);
}

// When the caret's blink next changes its colour: it is shown for the first
// 400 ms of every second.
int MsUntilBlink(AppState& s) {
  const int fraction_ms = static_cast<int>(s.Clock->MillisecondsSinceMidnight() % 1000);
  return fraction_ms < 400 ? 400 - fraction_ms : 1000 - fraction_ms;
}

// How long the input wait may sleep before something must be drawn or the
// folder listed: -1 for as long as it takes.
int MsUntilDue(AppState& s) {
  int due_ms = -1;
  if (s.Mode == ScreenMode::Key && s.Status.Message.empty()) due_ms = MsUntilBlink(s);
  if (s.Watch != nullptr) {
    const int rescan_ms = s.Watch->MsUntilRescan(*s.Clock);
    if (rescan_ms >= 0 && (due_ms < 0 || rescan_ms < due_ms)) due_ms = rescan_ms;
  }
  return due_ms;
}

// Brings the listing up to date; true when the table was written. A listing
// that fails keeps the entries the table had, and says why on standard error
// when the failure begins.
bool RefreshListing(AppState& s, Rescan when) {
  if (s.Watch == nullptr) {
    (void)FolderScan(s.FolderFd, s.Browser.Files);
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

void HideHelp(AppState& s) {
  ClearWorkArea(s);
  s.Help.Shown = false;
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

// A key held down repeats; what a repeat may do:
//
//   key                    repeat                        so that
//   Enter, Esc, Tab        dropped                       a held Enter opens, confirms or answers
//                                                        once; a held Tab switches the format once
//   Del                    acts only in the key field    held, it erases nothing, and the erase
//                          (deletes the next character)  prompt waits for a Del pressed anew
//   every other key        acts                          held arrows and page keys move through the
//                                                        list, held characters type
bool RepeatActs(ScreenMode mode, const std::string& key) {
  if (key::Is(key, key::Enter) || key::Is(key, key::Escape) || key::Is(key, key::Tab)) return false;
  if (key::IsExtended(key) && key::Last(key) == scan::Del) return mode == ScreenMode::Key;
  return true;
}

std::string ReadActingKey(AppState& s) {
  for (;;) {
    KeyStroke press = s.Platform->ReadKeyStroke(KeySite::Wait);
    if (press.text.empty() || !press.repeat || RepeatActs(s.Mode, press.text)) return std::move(press.text);
  }
}

WaitResult InputWait(AppState& s) {
  // An icon's action is over once the program waits again: a second click
  // that came meanwhile (a double click, an impatient one) is not a new
  // command.
  if (s.Input.DropClicksAtWait) {
    s.Input.DropClicksAtWait = false;
    s.Platform->DropInput(InputKind::Clicks);
  }
  // Back from doing something, perhaps to the folder: the changes it made are
  // listed at once, not merged with what another program does meanwhile.
  if (s.Watch != nullptr) s.Watch->EndQuietPeriod();
  for (;;) {
    if (s.Mode == ScreenMode::Key && s.Status.Message.empty()) DrawCaret(s);
    if (s.Link->Alive.load() == 0) return WaitResult::ProgramEnd;
    s.Input.PendingKey = ReadActingKey(s);
    if (ScanFolderStep(s) == WaitResult::ProgramEnd) return WaitResult::ProgramEnd;
    if (s.Link->ClickKind.load() != 0 || !s.Input.PendingKey.empty())
      return DispatchClick(s, DispatchFrom::Start);
    // Nothing to do until input comes, the folder reports a change, or the
    // caret or a re-list is due; the wait shows what was drawn first.
    const int wake_fd = s.Watch != nullptr ? s.Watch->WaitFd() : -1;
    s.Platform->Wait(*s.Clock, WaitRequest::Input(MsUntilDue(s), wake_fd));
  }
}

Next AfterWait(AppState& s, WaitResult result, Next on_input) {
  s.Input.ResumeAt = on_input;
  return Resume(s, result);
}

Next Resume(AppState& s, WaitResult result) {
  switch (result) {
    case WaitResult::Input: return s.Input.ResumeAt;
    case WaitResult::ProgramEnd: return Next::ProgramEnd;
    case WaitResult::Statistics: return Next::Statistics;
    case WaitResult::ByteViewer: return Next::ByteViewer;
  }
  return Next::ProgramEnd;
}

Next RunViewerScreen(AppState& s) {
  switch (RunByteViewer(s)) {
    case ViewerExit::Return: return Resume(s, DispatchClick(s, s.Input.ViewerReturn));
    case ViewerExit::ContinueAtShowHideTest: return Resume(s, DispatchClick(s, DispatchFrom::ShowHideTest));
    case ViewerExit::RestartWait: return Next::ResumeWait;
    case ViewerExit::ProgramEnd: return Next::ProgramEnd;
  }
  return Next::ProgramEnd;
}

namespace {

// Takes the click that came, if one did, and finds the icon under it
// (ClickedIcon, -1 for none). False when the dispatch ends there: no click
// came (a key did), or Statistics was clicked during key entry.
bool TakeClick(AppState& s) {
  s.Input.ClickedIcon = -1;
  if (s.Link->ClickKind.load() == 0) {
    if (s.Help.Shown) HideHelp(s);
    return false;
  }
  const int x = s.Link->ClickX.load();
  const int y = s.Link->ClickY.load();
  s.Link->ClearClick();
  s.Input.ClickX = x;
  s.Input.ClickY = y;
  const int hit = HitTestIconRow(s, x, y);
  if (hit >= 0) {
    s.Input.ClickedIcon = hit;
    s.Input.DropClicksAtWait = true;
    PressFeedback(s, hit);
  }
  return !(s.Mode == ScreenMode::Key && s.Input.ClickedIcon == icon::Statistics);
}

// The icon acts as the key would: the key is pending, the icon spent.
void ActAsKey(AppState& s, char key) {
  s.Input.PendingKey = std::string(1, key);
  s.Input.ClickedIcon = -1;
}

void ToggleHelp(AppState& s) {
  if (!s.Help.Shown) {
    ShowHelp(s);
    s.Help.Shown = true;
  } else {
    HideHelp(s);
  }
}

// The tests of the table up to List file: an icon that opens or closes a
// screen, or picks the next encrypted file, ends the dispatch with what
// follows; Show|Hide and a Key that confirms act and let the tests go on.
std::optional<WaitResult> ActOnScreenIcons(AppState& s) {
  if (s.Input.ClickedIcon == icon::ShowHide) {
    s.KeyEntry.Hidden = !s.KeyEntry.Hidden;
    DrawShowHideIndicator(s);
  }
  if (s.Input.ClickedIcon == icon::Statistics) {
    s.Keyboard.Shown = false;
    return ToggleStatistics(s);
  }
  if (s.Input.ClickedIcon == icon::Help) {
    ToggleHelp(s);
    return WaitResult::Input;
  }
  if (s.Input.ClickedIcon == icon::Key && !s.KeyEntry.TypedKey.Empty()) ActAsKey(s, key::Enter);
  if (s.Mode == ScreenMode::Scroll && s.Input.ClickedIcon == icon::Encrypted) {
    s.Input.PendingKey = EncryptedIconKey;
    if (s.Help.Shown) HideHelp(s);
    return WaitResult::Input;
  }
  if (s.Mode == ScreenMode::Scroll && s.Input.ClickedIcon == icon::ListFile) {
    s.Input.ViewerReturn = DispatchFrom::AfterListFile;
    return WaitResult::ByteViewer;
  }
  return std::nullopt;
}

}  // namespace

// A click on the icon row or the on-screen keyboard, in this order (each
// test runs only if the ones before did not return):
//
//   icon / state                         what follows
//   Statistics during key entry          nothing: return at once
//   Show|Hide key                        toggle KeyEntry.Hidden, redraw its mark
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
//   key entry: the format choice         acts as Tab (no icon is there)
//   keyboard shown                       a key of the picture types its key
// Finally any input but the Help icon hides the help text.
WaitResult DispatchClick(AppState& s, DispatchFrom from) {
  if (from == DispatchFrom::Start && !TakeClick(s)) return WaitResult::Input;
  if (from != DispatchFrom::AfterListFile) {
    if (const std::optional<WaitResult> result = ActOnScreenIcons(s)) return *result;
  }
  if (s.Mode == ScreenMode::Scroll && s.Input.ClickedIcon == icon::Key) ActAsKey(s, key::Enter);
  if (s.Input.ClickedIcon == icon::Keyboard) ToggleKeyboard(s);
  if (s.Mode == ScreenMode::Key && s.Input.ClickedIcon == icon::Key) ActAsKey(s, key::Escape);
  const bool on_choice = s.Mode == ScreenMode::Key && s.Input.ClickedIcon == -1 &&
                         HitsFormatChoice(s, s.Input.ClickX, s.Input.ClickY);
  if (on_choice) ActAsKey(s, key::Tab);
  if (s.Keyboard.Shown && s.Input.ClickedIcon == -1 && !on_choice) {
    KeyboardClick(s, s.Input.ClickX, s.Input.ClickY);
  }
  if (s.Help.Shown) HideHelp(s);
  return WaitResult::Input;
}

}  // namespace quorvant
