#include "ui/keyboard_screen.h"

#include <algorithm>
#include <string>

#include "ui/fixed_tables.h"
#include "ui/panels.h"

namespace quorvant {

namespace {

// Geometry of the picture. Special key i spans 21 + 66i .. 83 + 66i (the Del
// key 6 pixels more); character key k of row r spans 21 + 42k .. 59 + 42k
// and 251 + 42r .. 289 + 42r for r = 1..5.
constexpr int SpecialTop = 248;
constexpr int SpecialBottom = 289;
constexpr int KeyCorner = 20;
constexpr int Columns = 19;
constexpr int Rows = 5;
constexpr int SpecialKeyCount = static_cast<int>(SpecialKeys.size());

int SpecialLeft(int i) { return 21 + 66 * i; }
int SpecialRight(int i) { return 83 + 66 * i + (i == 11 ? 6 : 0); }

// The four arrows, each four strokes at pen width 2.
struct Stroke {
  int x1, y1, x2, y2;
};
constexpr Stroke Arrows[4][4] = {
    {{514, 259, 514, 279}, {509, 264, 514, 259}, {513, 259, 518, 264}, {509, 264, 518, 264}},  // Up
    {{581, 259, 581, 279}, {576, 274, 581, 279}, {580, 279, 585, 274}, {576, 275, 585, 275}},  // Down
    {{637, 269, 656, 269}, {636, 268, 641, 273}, {636, 269, 641, 264}, {641, 265, 641, 273}},  // Left
    {{722, 269, 702, 269}, {722, 268, 717, 273}, {722, 269, 717, 264}, {718, 265, 718, 273}},  // Right
};
// Where a pressed arrow moves: in its own direction.
constexpr int ArrowShift[4][2] = {{0, -2}, {0, 2}, {-2, 0}, {2, 0}};

// The character key bands of the grid: a click between them hits nothing.
constexpr int RowBands[Rows][2] = {{293, 333}, {336, 375}, {378, 416}, {419, 457}, {461, 498}};

void DrawArrow(Painter& p, int arrow, int shift_x, int shift_y) {
  p.SetLineWidth(2);
  for (const Stroke& stroke : Arrows[arrow]) {
    p.SetPosition(stroke.x1 + shift_x, stroke.y1 + shift_y);
    p.DrawLine(stroke.x2 + shift_x, stroke.y2 + shift_y, DarkGrey);
  }
  p.SetLineWidth(1);
}

// A special key in its normal state, or pressed (rim gone, caption lower).
void DrawSpecialKey(AppState& s, int i, bool pressed) {
  Painter& p = *s.Painter;
  p.DrawBox(SpecialLeft(i), SpecialTop, SpecialRight(i), SpecialBottom, KeyCorner, pressed ? Black : DimGrey,
            SlateGrey);
  const int lower = pressed ? 2 : 0;
  if (i >= 7 && i <= 10) {
    const int arrow = i - 7;
    DrawArrow(p, arrow, pressed ? ArrowShift[arrow][0] : 0, pressed ? ArrowShift[arrow][1] : 0);
    return;
  }
  const std::string_view caption = SpecialKeys[static_cast<size_t>(i)].KeyCap;
  const TextSize size = p.MeasureText(caption);
  p.SetBackground(SlateGrey);
  p.PrintAt(48 + 66 * i + (8 - size.width) / 2.0, SpecialTop + (41 - size.height) / 2.0 + lower, DarkGrey,
            caption);
}

void DrawCharacterKey(AppState& s, int row, int column, bool pressed) {
  Painter& p = *s.Painter;
  const int r = row + 1;
  if (pressed) {
    p.DrawBox(21 + 42 * column, 293 + 42 * row, 59 + 42 * column, 331 + 42 * row, KeyCorner, Black, NoFill);
  } else {
    p.DrawBox(21 + 42 * column, 251 + 42 * r, 59 + 42 * column, 289 + 42 * r, KeyCorner, DimGrey, SlateGrey);
  }
  const std::string character(1, s.Keyboard.Chars[static_cast<size_t>(Columns * row + column)]);
  const TextSize size = p.MeasureText(character);
  p.SetBackground(SlateGrey);
  p.PrintAt(32 + 42 * column + (15 - size.width) / 2.0,
            248 + 42 * r + (42 - size.height) / 2.0 + (pressed ? 2 : 0), DarkGrey, character);
}

void AfterPress(AppState& s) {
  s.Painter->SetForeground(DarkGrey);
  s.Painter->SetBackground(Black);
}

}  // namespace

std::array<char, 95> KeyboardOrder(int fraction_ms) {
  const int r = 95 * fraction_ms / 1000;
  std::array<char, 95> order{};
  int code = std::max(32, 125 - r);
  for (char& key : order) {
    key = static_cast<char>(code);
    code = code == 126 ? 32 : code + 1;
  }
  return order;
}

void ToggleKeyboard(AppState& s) {
  s.Keyboard.Shown = !s.Keyboard.Shown;
  ClearWorkArea(s);
  s.Statistics.Shown = false;
  s.Help.Shown = false;
  s.Link->ClearClick();
  if (!s.Keyboard.Shown || s.FileCount() == 0) return;

  s.Keyboard.Chars = KeyboardOrder(static_cast<int>(s.Clock->MillisecondsSinceMidnight() % 1000));
  for (int i = 0; i < SpecialKeyCount; ++i) DrawSpecialKey(s, i, false);
  for (int row = 0; row < Rows; ++row) {
    for (int column = 0; column < Columns; ++column) DrawCharacterKey(s, row, column, false);
  }
  s.Painter->SetForeground(Black);
  s.Painter->SetBackground(Black);
}

void KeyboardClick(AppState& s, int x, int y) {
  // The special row, and past its end the erase confirmation.
  if (SpecialTop < y && y < SpecialBottom + 2) {
    for (int i = 0; i < SpecialKeyCount; ++i) {
      if (SpecialLeft(i) < x && x < SpecialRight(i)) {
        s.Input.PendingKey = std::string(SpecialKeys[static_cast<size_t>(i)].KeyString);
        DrawSpecialKey(s, i, true);
        Pause(s, 100);
        DrawSpecialKey(s, i, false);
        AfterPress(s);
        return;
      }
    }
    if (s.Mode == ScreenMode::Erasing && 941 < x && x < 1013)
      s.Input.PendingKey = std::string(SpecialKeys[11].KeyString);
    return;
  }
  for (int row = 0; row < Rows; ++row) {
    if (!(RowBands[row][0] < y && y < RowBands[row][1])) continue;
    for (int column = 0; column < Columns; ++column) {
      if (20 + 42 * column < x && x < 59 + 42 * column) {
        s.Input.PendingKey = std::string(1, s.Keyboard.Chars[static_cast<size_t>(Columns * row + column)]);
        DrawCharacterKey(s, row, column, true);
        Pause(s, 100);
        DrawCharacterKey(s, row, column, false);
        AfterPress(s);
        return;
      }
    }
    return;
  }
}

}  // namespace quorvant
