#include "ui/click_dispatch.h"

#include <optional>
#include <string>

#include "ui/fixed_tables.h"
#include "ui/format_choice.h"
#include "ui/help_screen.h"
#include "ui/keyboard_screen.h"
#include "ui/panels.h"
#include "ui/statistics_screen.h"

namespace quorvant {

namespace {

void HideHelp(AppState& s) {
  ClearWorkArea(s);
  s.Help.Shown = false;
}

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
