#include "ui/help_screen.h"

#include <cmath>

#include "ui/fixed_tables.h"
#include "ui/panels.h"

namespace quorvant {

// The help screen is two columns below the status band: on the left a legend
// of the seven icons and the two name colours, on the right the keys. Both
// start 1.257 rows below y = 192; the legend steps by 11/8 of a row, the key
// list by 1.251 rows.
void ShowHelp(AppState& s) {
  Painter& p = *s.Painter;
  ClearWorkArea(s);
  s.Keyboard.Shown = false;
  p.SetBackground(Black);
  const double c = s.Layout.LineHeight;
  const double legend_pitch = 11.0 / 8.0 * c;
  const double first_row = 1.257 * c;

  for (int i = 1; i <= static_cast<int>(MenuLabels.size()); ++i) {
    const size_t entry = static_cast<size_t>(i - 1);
    // The square of each legend row stands a little above its label.
    s.Layout.IconX[entry] = 20;
    s.Layout.IconY[entry] = RoundCoordinate(192 + 0.98 * legend_pitch * (i + 1));
    p.PrintAt(50, 192 + legend_pitch * i + first_row, Grey, MenuLabels[entry]);
  }
  for (int i = 1; i <= static_cast<int>(HelpLines.size()); ++i) {
    const size_t entry = static_cast<size_t>(i - 1);
    p.PrintAt(200, 192 + 1.251 * c * i + first_row, Silver, HelpLines[entry].HelpKey);
    p.SetForeground(Grey);
    p.PrintText(HelpLines[entry].HelpText);
  }

  // "Encoded" and "Decoded": the two colours a file name can have.
  for (int j = 0; j < 2; ++j) {
    const int y = RoundCoordinate(192 + 0.98 * legend_pitch * (9 + j));
    const Colour colour = FileColours[static_cast<size_t>(1 - j)];
    p.DrawBox(20, y, 40, y + 20, 0, colour, colour);
    p.DrawBox(21, y + 1, 39, y + 19, 0, Black, NoFill);
  }

  for (int button = 0; button < IconCount; ++button) DrawIconButton(s, button);

  // The icon row itself was never erased; its positions come back.
  PlaceIconRow(s);
}

}  // namespace quorvant
