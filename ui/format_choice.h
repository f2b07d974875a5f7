#pragma once

#include <string_view>

#include "crypto/encrypted_name.h"
#include "surface/image.h"
#include "ui/app_state.h"

namespace quorvant {

// The format of a new encryption, chosen while its key is typed: Enter on a
// plain file admits a classic encryption; Tab (or a click on the choice
// shown in the status band's second row) makes it strong, and back. A
// decryption or the finish of an interrupted run has nothing to choose: the
// file decides, and nothing is shown.

// Whether the key being typed is for a new encryption, whose format may change.
bool FormatIsChosen(const AppState& s);

// The format the run will write (the admitted suffix's).
CipherFormat ChosenFormat(const AppState& s);

// The choice as the band shows it: the format chosen and how to change it,
// the longest wording that fits the band at the screen font.
std::string_view FormatChoiceText(const AppState& s);

// Where the choice is drawn, and so where a click on it lands.
Rect FormatChoiceBox(const AppState& s);
// Whether a click at (x, y) is on the choice shown (false without one).
bool HitsFormatChoice(const AppState& s, int x, int y);

// Draws the choice in the band's second row (nothing without one).
void DrawFormatChoice(AppState& s);

// Tab: the other format for this encryption, with a suffix drawn for it,
// and the band redrawn. Nothing without a choice.
void ToggleFormat(AppState& s);

}  // namespace quorvant
