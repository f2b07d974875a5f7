#pragma once

#include "ui/app_state.h"

namespace quorvant {

// The icon row: seven square buttons of IconSize pixels, 27 pixels apart.
constexpr int IconCount = 7;
constexpr int IconSize = 20;
// The top-left corner of button `button` (0..6) at its place in the row.
constexpr Point IconRowPosition(int button) { return {20 + 27 * button, 95}; }
// The middle of a button in the row: where a click surely hits it.
constexpr Point IconRowCentre(int button) {
  return {IconRowPosition(button).x + IconSize / 2, IconRowPosition(button).y + IconSize / 2};
}
// Puts every button back at its place in the row (IconX, IconY).
void PlaceIconRow(AppState& s);

// The seven buttons at their current positions (IconX, IconY).
void DrawIconRow(AppState& s);
void DrawIconButton(AppState& s, int button);
// The inner square of the Show|Hide button: filled while the key is shown.
void DrawShowHideIndicator(AppState& s);
// The Key button's padlock: closed for an encrypted file, open for a plain one.
void DrawPadlock(AppState& s, int encrypted_flag);
// The button under (x, y) in the icon row, or -1. Strict bounds: the frame's
// outermost pixels belong to no button.
int HitTestIconRow(const AppState& s, int x, int y);
// Flashes the frame of a pressed button for 100 ms.
void PressFeedback(AppState& s, int button);

}  // namespace quorvant
