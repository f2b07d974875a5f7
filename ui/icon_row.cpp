#include "ui/icon_row.h"

#include "ui/fixed_tables.h"
#include "ui/notices.h"

namespace quorvant {

namespace {

// Each icon is a few boxes relative to its button's corner, drawn in order.
struct IconBox {
  int x1, y1, x2, y2;
  Colour outline, fill;
};

struct IconShape {
  int box_count;
  IconBox boxes[5];
};

// clang-format off
constexpr IconShape IconShapes[7] = {
    {3, {{6, 4, 14, 11, Black, Black}, {8, 6, 12, 9, DarkGrey, DarkGrey}, {5, 9, 15, 16, Black, Black}}},  // Key
    {3, {{4, 4, 16, 16, Black, Black}, {6, 6, 16, 14, DarkGrey, DarkGrey}, {5, 9, 16, 11, Black, Black}}},  // Encrypted
    {1, {{4, 4, 16, 16, Black, Black}}},  // Show|Hide key: its indicator follows
    {3, {{4, 4, 16, 16, Black, Black}, {6, 6, 16, 9, DarkGrey, DarkGrey}, {4, 11, 14, 14, DarkGrey, DarkGrey}}},
    {3, {{4, 4, 16, 16, Black, Black}, {4, 9, 16, 11, DarkGrey, DarkGrey}, {9, 4, 11, 16, DarkGrey, NoFill}}},
    {5, {{3, 4, 5, 16, Black, Black}, {6, 4, 8, 16, Black, Black}, {9, 4, 11, 16, Black, Black},
         {12, 4, 14, 16, Black, Black}, {15, 4, 17, 16, Black, Black}}},  // List file
    {3, {{4, 4, 16, 16, Black, Black}, {6, 4, 14, 9, DarkGrey, DarkGrey}, {6, 11, 14, 16, DarkGrey, DarkGrey}}},
};
// clang-format on

}  // namespace

void DrawIconButton(AppState& s, int button) {
  Painter& p = *s.Painter;
  const int x = s.Layout.IconX[static_cast<size_t>(button)];
  const int y = s.Layout.IconY[static_cast<size_t>(button)];
  p.DrawBox(x, y, x + IconSize, y + IconSize, 0, Lavender, DarkGrey);
  p.DrawBox(x + 1, y + 1, x + IconSize - 1, y + IconSize - 1, 0, Black, NoFill);
  const IconShape& shape = IconShapes[button];
  for (int i = 0; i < shape.box_count; ++i) {
    const IconBox& b = shape.boxes[i];
    p.DrawBox(x + b.x1, y + b.y1, x + b.x2, y + b.y2, 0, b.outline, b.fill);
  }
  if (button == icon::ShowHide) DrawShowHideIndicator(s);
}

void PlaceIconRow(AppState& s) {
  for (int i = 0; i < IconCount; ++i) {
    const Point home = IconRowPosition(i);
    s.Layout.IconX[static_cast<size_t>(i)] = home.x;
    s.Layout.IconY[static_cast<size_t>(i)] = home.y;
  }
  s.Layout.IconHitY = IconRowPosition(0).y;
}

void DrawIconRow(AppState& s) {
  for (int i = 0; i < IconCount; ++i) DrawIconButton(s, i);
}

void DrawShowHideIndicator(AppState& s) {
  const int x = s.Layout.IconX[icon::ShowHide];
  const int y = s.Layout.IconY[icon::ShowHide];
  s.Painter->DrawBox(x + 6, y + 6, x + 14, y + 14, 0, DarkGrey, ShowHideFill[StateIndex(s.KeyEntry.Hidden)]);
}

void DrawPadlock(AppState& s, int encrypted_flag) {
  const int x = s.Layout.IconX[icon::Key];
  const int y = s.Layout.IconY[icon::Key];
  const Colour leg = encrypted_flag == 1 ? Black : DarkGrey;
  s.Painter->DrawBox(x + 6, y + 7, x + 8, y + 9, 0, leg, leg);
}

int HitTestIconRow(const AppState& s, int x, int y) {
  for (int i = 0; i < IconCount; ++i) {
    const int left = s.Layout.IconX[static_cast<size_t>(i)];
    if (left < x && x < left + IconSize && s.Layout.IconHitY < y && y < s.Layout.IconHitY + IconSize)
      return i;
  }
  return -1;
}

void PressFeedback(AppState& s, int button) {
  const int x = s.Layout.IconX[static_cast<size_t>(button)];
  const int y = s.Layout.IconY[static_cast<size_t>(button)];
  s.Painter->DrawBox(x, y, x + IconSize, y + IconSize, 0, Black, NoFill);
  Pause(s, 100);
  s.Painter->DrawBox(x, y, x + IconSize, y + IconSize, 0, Lavender, NoFill);
}

}  // namespace quorvant
