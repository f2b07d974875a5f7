#include "screens/help_screen.h"

#include "screens/panels.h"

namespace quorvant {

// FIXME: the legend and the key list are not drawn yet.
void ShowHelp(AppState& s) {
  ClearWorkArea(s);
  s.KeyboardShown = -1;
}

}  // namespace quorvant
