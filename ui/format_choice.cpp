#include "ui/format_choice.h"

#include "ui/panels.h"

namespace quorvant {

namespace {

// Per format, longest first; the first that fits the band is shown.
constexpr std::string_view ClassicWordings[] = {
    "Classic format: Tab or a click here makes it strong",
    "Classic format (Tab: strong)",
    "Classic (Tab)",
};
constexpr std::string_view StrongWordings[] = {
    "Strong format: Tab or a click here makes it classic",
    "Strong format (Tab: classic)",
    "Strong (Tab)",
};

int ChoiceRowY(const AppState& s) { return StatusY + s.Layout.LineHeight; }

}  // namespace

bool FormatIsChosen(const AppState& s) {
  if (!s.Work.Target) return false;
  const Admission& admitted = s.Work.Target->Admitted;
  return admitted.direction == Direction::Encrypt && !admitted.interrupted;
}

CipherFormat ChosenFormat(const AppState& s) { return FormatOfSuffix(s.Work.Target->Admitted.suffix); }

std::string_view FormatChoiceText(const AppState& s) {
  return FittingTheBand(s, ChosenFormat(s) == CipherFormat::Strong ? StrongWordings : ClassicWordings);
}

Rect FormatChoiceBox(const AppState& s) {
  const int width = s.Painter->MeasureText(FormatChoiceText(s)).width;
  return Rect{LeftMargin, ChoiceRowY(s), LeftMargin + width, ChoiceRowY(s) + s.Layout.LineHeight};
}

bool HitsFormatChoice(const AppState& s, int x, int y) {
  if (!FormatIsChosen(s)) return false;
  const Rect box = FormatChoiceBox(s);
  return box.x1 <= x && x < box.x2 && box.y1 <= y && y < box.y2;
}

void DrawFormatChoice(AppState& s) {
  if (!FormatIsChosen(s)) return;
  Painter& p = *s.Painter;
  // The row from the margin on: a shorter wording must not leave the end of a longer one.
  p.DrawBox(LeftMargin, ChoiceRowY(s), s.Layout.WorkAreaWidth, ChoiceRowY(s) + s.Layout.LineHeight, 0, Black,
            Black);
  p.SetBackground(Black);
  p.PrintAt(LeftMargin, ChoiceRowY(s), Grey, FormatChoiceText(s));
}

void ToggleFormat(AppState& s) {
  if (!FormatIsChosen(s)) return;
  const CipherFormat other =
      ChosenFormat(s) == CipherFormat::Strong ? CipherFormat::Classic : CipherFormat::Strong;
  ChooseFormat(s.Work.Target->Admitted, other, *s.Clock);
  DrawFormatChoice(s);
}

}  // namespace quorvant
