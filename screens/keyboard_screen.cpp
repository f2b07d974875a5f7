#include "screens/keyboard_screen.h"

#include "screens/panels.h"

namespace quorvant {

// FIXME: the keyboard picture is not drawn yet.
void ToggleKeyboard(AppState& s) {
  s.KeyboardShown = -s.KeyboardShown;
  ClearWorkArea(s);
  s.StatisticsShown = -1;
  s.HelpShown = -1;
  s.link->ClearClick();
}

void KeyboardClick(AppState&, int, int) {}

}  // namespace quorvant
