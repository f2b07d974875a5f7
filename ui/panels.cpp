#include "ui/panels.h"

#include <cstdio>
#include <string>

#include "analysis/number_format.h"
#include "base/verify.h"
#include "browser/navigation.h"
#include "ui/fixed_tables.h"

namespace quorvant {

namespace {

// --- Logo -------------------------------------------------------------------
// Each letter is a body box with counters and notches cut into it. A notch
// that opens to the outside is covered again in black except along its inner
// sides, so only the edges where it meets the letter's face keep an outline.
enum class LogoPart { Body, Counter, Notch };
constexpr int OpensTop = 1, OpensBottom = 2, OpensLeft = 4, OpensRight = 8;

struct LogoBox {
  int x1, y1, x2, y2;  // x relative to the letter, y absolute
  LogoPart part;
  int opens = 0;
};

struct LogoLetter {
  int x;  // left edge
  int box_count;
  LogoBox boxes[4];
};

// clang-format off
constexpr LogoLetter Letters[] = {
    {20, 3, {{0, 30, 23, 80, LogoPart::Body}, {7, 38, 16, 66, LogoPart::Counter},
             {0, 72, 12, 80, LogoPart::Notch, OpensBottom | OpensLeft}}},                        // Q
    {45, 2, {{0, 30, 21, 80, LogoPart::Body}, {7, 30, 14, 72, LogoPart::Notch, OpensTop}}},   // U
    {68, 2, {{0, 30, 23, 80, LogoPart::Body}, {7, 38, 16, 72, LogoPart::Counter}}},           // O
    {93, 4, {{0, 30, 21, 80, LogoPart::Body}, {7, 37, 14, 50, LogoPart::Counter},
             {7, 58, 14, 80, LogoPart::Notch, OpensBottom}, {14, 50, 21, 58, LogoPart::Notch, OpensRight}}},  // R
    {116, 4, {{0, 30, 23, 80, LogoPart::Body}, {7, 30, 16, 68, LogoPart::Notch, OpensTop},
              {0, 66, 5, 80, LogoPart::Notch, OpensBottom | OpensLeft},
              {18, 66, 23, 80, LogoPart::Notch, OpensBottom | OpensRight}}},                    // V
    {141, 3, {{0, 30, 21, 80, LogoPart::Body}, {7, 38, 14, 50, LogoPart::Counter},
              {7, 60, 14, 80, LogoPart::Notch, OpensBottom}}},                                  // A
    {164, 3, {{0, 30, 21, 80, LogoPart::Body}, {10, 30, 15, 60, LogoPart::Notch, OpensTop},
              {6, 50, 11, 80, LogoPart::Notch, OpensBottom}}},                                  // N
    {187, 3, {{0, 30, 17, 80, LogoPart::Body}, {0, 40, 5, 80, LogoPart::Notch, OpensBottom | OpensLeft},
              {12, 40, 17, 80, LogoPart::Notch, OpensBottom | OpensRight}}},                    // T
};
// clang-format on

void DrawLogoBox(Painter& p, int letter_x, const LogoBox& box) {
  const int x1 = letter_x + box.x1, x2 = letter_x + box.x2;
  switch (box.part) {
    case LogoPart::Body: p.DrawBox(x1, box.y1, x2, box.y2, 0, DimGrey, SlateGrey); return;
    case LogoPart::Counter: p.DrawBox(x1, box.y1, x2, box.y2, 0, DimGrey, Black); return;
    case LogoPart::Notch:
      p.DrawBox(x1, box.y1, x2, box.y2, 0, DimGrey, Black);
      // Keep one outline pixel on the inner sides only.
      p.DrawBox((box.opens & OpensLeft) ? x1 : x1 + 1, (box.opens & OpensTop) ? box.y1 : box.y1 + 1,
                (box.opens & OpensRight) ? x2 : x2 - 1, (box.opens & OpensBottom) ? box.y2 : box.y2 - 1, 0,
                Black, Black);
      return;
  }
}

// --- Icons ------------------------------------------------------------------
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

constexpr std::string_view ManySpaces =
    "                                                                                                    "
    "                                                                                                    "
    "                                                                                                    "
    "                                                  ";  // 350

}  // namespace

std::string_view Spaces(int count) {
  Verify(count >= 0 && static_cast<size_t>(count) <= ManySpaces.size());
  return ManySpaces.substr(0, static_cast<size_t>(count));
}

void DrawLogo(AppState& s) {
  Painter& p = *s.Painter;
  for (const LogoLetter& letter : Letters) {
    for (int i = 0; i < letter.box_count; ++i) DrawLogoBox(p, letter.x, letter.boxes[i]);
  }
  // Speckle: grain on the letter faces and a scattered highlight.
  for (int i = 0; i < 20000; ++i) {
    const int x = 20 + RoundCoordinate(NextUniform(s) * 185);
    const int y = 30 + RoundCoordinate(NextUniform(s) * 50);
    if (p.ReadPixel(x, y) == SlateGrey) p.SetPixel(x, y, Grey);
    if (p.ReadPixel(x, y) == DimGrey) p.SetPixel(x + 2, y + 2, DarkGrey);
  }
}

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

void DrawHeaderLabels(AppState& s) {
  Painter& p = *s.Painter;
  p.SetBackground(Black);
  p.PrintAt(LeftMargin, FolderRowY(s), Grey, "Folder ");
  p.SetForeground(DarkGrey);
  p.PrintText(s.CurrentFolder);
  p.PrintAt(LeftMargin, FileRowY(s), Grey, "File");
  p.PrintAt(LeftMargin, SizeRowY(s), Grey, "Size ");
}

void ShowCurrentFile(AppState& s, const FileEntry& entry) {
  Painter& p = *s.Painter;
  p.SetBackground(Black);
  std::string name(DisplayName(entry));
  name += Spaces(350);
  p.PrintAt(s.Layout.FileValueX, FileRowY(s), FileColours[static_cast<size_t>(entry.encrypted_flag)], name);
  std::string size = FormatGroupedCount(entry.size);
  size += Spaces(60);
  p.PrintAt(s.Layout.SizeValueX, SizeRowY(s), DarkGrey, size);
  DrawPadlock(s, entry.encrypted_flag);
}

void ClearPromptLine(AppState& s) {
  s.Painter->DrawBox(LeftMargin + s.Status.PromptKeepWidth, StatusY, s.Layout.WorkAreaWidth,
                     StatusY + 2 * s.Layout.LineHeight, 0, Black, Black);
}

void ClearStatusBand(AppState& s, int rows) {
  s.Painter->DrawBox(0, StatusY, s.Layout.WorkAreaWidth, StatusY + rows * s.Layout.LineHeight, 0, Black,
                     Black);
}

void ClearWorkArea(AppState& s) {
  s.Painter->DrawBox(0, StatusY + 2 * s.Layout.LineHeight, s.Layout.WorkAreaWidth,
                     StatusY + s.Layout.WorkAreaHeight, 0, Black, Black);
}

void DrawAlert(AppState& s, std::string_view message) {
  s.Platform->Beep();
  ClearStatusBand(s, 2);
  s.Painter->SetBackground(Black);
  s.Painter->PrintAt(LeftMargin, StatusY, FileColours[1], message);
}

void ShowAlert(AppState& s, std::string_view message) {
  DrawAlert(s, message);
  NoticePause(s, AlertMilliseconds);
  ClearStatusBand(s, 1);
  s.Status.Message.clear();
}

void Pause(AppState& s, int milliseconds) { s.Platform->Wait(*s.Clock, WaitRequest::Pause(milliseconds)); }

void NoticePause(AppState& s, int milliseconds) {
  Pause(s, milliseconds);
  s.Platform->DropInput(InputKind::KeysAndClicks);
}

void ShowFatalMessage(AppState& s, std::string_view message) {
  // Also where a terminal or a log keeps it: the window closes by itself.
  std::fprintf(stderr, "quorvant: %s: %.*s\n", s.CurrentFolder.c_str(), static_cast<int>(message.size()),
               message.data());
  s.Platform->Beep();
  s.Painter->DrawBox(0, FileRowY(s), s.Layout.WorkAreaWidth, s.Layout.WorkAreaHeight, 0, Black, Black);
  s.Painter->SetBackground(Black);
  // In the alert colour: the current foreground may be black by now.
  s.Painter->PrintAt(LeftMargin, FileRowY(s), FileColours[1], message);
  Pause(s, 2500);
  s.Link->Alive.store(0);
}

}  // namespace quorvant
