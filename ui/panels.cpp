#include "ui/panels.h"

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

std::string_view FittingTheBand(const AppState& s, std::span<const std::string_view> wordings) {
  const int room = s.Layout.WorkAreaWidth - LeftMargin;
  for (const std::string_view wording : wordings) {
    if (s.Painter->MeasureText(wording).width <= room) return wording;
  }
  return wordings.back();
}

void ClearWorkArea(AppState& s) {
  s.Painter->DrawBox(0, StatusY + 2 * s.Layout.LineHeight, s.Layout.WorkAreaWidth,
                     StatusY + s.Layout.WorkAreaHeight, 0, Black, Black);
}

}  // namespace quorvant
