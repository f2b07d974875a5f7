#include "ui/byte_viewer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/number_format.h"
#include "files/file_calls.h"
#include "surface/text_encoding.h"
#include "ui/file_work.h"
#include "ui/fixed_tables.h"
#include "ui/help_screen.h"
#include "ui/input_wait.h"
#include "ui/key_repeat.h"
#include "ui/panels.h"

namespace quorvant {

namespace {

// --- Geometry ----------------------------------------------------------------
//
// Column i (1..N) spans x 24i - 1 .. 24i + 20. Bit row j (0 = the most
// significant bit, drawn lowest) spans y 389 - 24j .. 410 - 24j, the
// character cell y 413 .. 437. All boxes here are named by their first and
// last pixel; CellBox turns that into DrawBox's half-open rectangle.
constexpr int ColumnPitch = 24;
constexpr int RowPitch = 24;
constexpr int LowestRowTop = 389;
constexpr int LowestRowBottom = 410;
constexpr int HighestRowTop = LowestRowTop - 7 * RowPitch;  // 221
constexpr int CharacterTop = 413;
constexpr int CharacterBottom = 437;
constexpr int CharacterY = 415;
constexpr int RangePadding = 50;

int ColumnLeft(int column) { return ColumnPitch * column - 1; }
int ColumnRight(int column) { return ColumnPitch * column + 20; }
int RowTop(int row) { return LowestRowTop - RowPitch * row; }
int RowBottom(int row) { return LowestRowBottom - RowPitch * row; }

// The column and bit row under a point of the bit cells. A cell's leftmost
// pixel column (x = 24i - 1) belongs to column i.
int ColumnAt(int x) { return (x + 1) / ColumnPitch; }
int RowAt(int y) { return (LowestRowBottom - y) / RowPitch; }

void CellBox(Painter& p, int left, int top, int right, int bottom, Colour outline, Colour fill) {
  p.DrawBox(left, top, right + 1, bottom + 1, 0, outline, fill);
}

double InfoLineY(const AppState& s) { return StatusY + 12.75 * s.Layout.LineHeight; }

std::string Padded(std::string text, int spaces) {
  text += Spaces(spaces);
  return text;
}

// --- The open viewer -----------------------------------------------------------

struct Viewer {
  AppState& s;
  std::int64_t length = 0;          // the file's length, taken once at opening
  std::vector<std::uint8_t> bytes;  // the shown bytes as last read; empty when that read failed
  int character_height = 0;         // of the character drawn last; places the position bar

  int Columns() const { return s.Viewer.ColumnCount; }
  std::int64_t LastStart() const { return length - s.Viewer.ColumnCount; }
};

// The columns a window `width` wide has room for.
int FittingColumns(int width) { return std::max(0, (width - 48) / ColumnPitch); }

// The whole file when it fits, else as many columns as fit.
int ColumnCountFor(std::int64_t length, int width) {
  const int fitting = FittingColumns(width);
  return length <= fitting ? static_cast<int>(length) : fitting;
}

std::int64_t Limited(std::int64_t view_start, std::int64_t last_start) {
  if (view_start > last_start) view_start = last_start;
  if (view_start < 0) view_start = 0;
  return view_start;
}

// Del, and the moves that cannot move from here, are dropped before any
// drawing. Only the last character counts, so typed capitals act alike.
bool IsIgnoredKey(const Viewer& v) {
  const std::int64_t start = v.s.Viewer.ViewStart;
  switch (key::Last(v.s.Input.PendingKey)) {
    case scan::Del: return true;
    case scan::Home:
    case scan::Left:
    case scan::PgUp: return start == 0;
    case scan::End:
    case scan::Right:
    case scan::PgDn: return start == v.LastStart();
    default: return false;
  }
}

// Left and Right move by one byte, the page keys by the number of columns.
std::int64_t MovedStart(const Viewer& v, char scan_letter) {
  std::int64_t start = v.s.Viewer.ViewStart;
  if (scan_letter == scan::Left) start -= 1;
  if (scan_letter == scan::Right) start += 1;
  if (scan_letter == scan::Home) start = 0;
  if (scan_letter == scan::End) start = v.LastStart();
  if (scan_letter == scan::PgUp) start -= v.Columns();
  if (scan_letter == scan::PgDn) start += v.Columns();
  return Limited(start, v.LastStart());
}

// The strip under the columns stands for the whole file: x = 22 is its
// start, x = WorkAreaWidth - 30 its end.
bool InPositionBar(const Viewer& v, Point point) {
  const AppState& s = v.s;
  // The margin is scaled by 1.2 as a single-precision value.
  const double margin = static_cast<double>(1.2f) * v.character_height;
  return v.Columns() < v.length && s.Layout.WorkAreaWidth > 52 && 19 < point.x &&
         point.x < s.Layout.WorkAreaWidth - 29 && CharacterTop + margin < point.y && point.y < 660 + margin;
}

std::int64_t PositionBarStart(const Viewer& v, int x) {
  const double target = std::nearbyint(static_cast<double>(x - 22) / (v.s.Layout.WorkAreaWidth - 52) *
                                       static_cast<double>(v.length));
  if (target >= static_cast<double>(v.LastStart())) return v.LastStart();
  if (target < 0) return 0;
  return static_cast<std::int64_t>(target);
}

// --- Drawing -------------------------------------------------------------------

// One column: the character cell's ground, the eight bit cells with a lit
// mark on each one bit, the character centred in its cell, the cell's frame.
void DrawColumn(Viewer& v, int column, std::uint8_t byte) {
  Painter& p = *v.s.Painter;
  const int left = ColumnLeft(column);
  const int right = ColumnRight(column);
  CellBox(p, left, CharacterTop, right, CharacterBottom, DimGrey, SlateGrey);
  CellBox(p, left, CharacterTop, right, CharacterBottom, DarkGrey, Black);
  for (int row = 0; row < 8; ++row) {
    const int top = RowTop(row);
    const int bottom = RowBottom(row);
    CellBox(p, left, top, right, bottom, DimGrey, SlateGrey);
    if ((byte >> (7 - row)) & 1) {
      // A light edge on the top and left, the rest dim: a pressed-in look.
      CellBox(p, left + 2, top + 2, right - 2, bottom - 2, DarkGrey, NoFill);
      CellBox(p, left + 3, top + 3, right - 2, bottom - 2, DimGrey, DimGrey);
    }
  }
  const std::string character = Cp1252ToUtf8(std::string(1, static_cast<char>(byte)));
  const TextSize size = p.MeasureText(character);
  v.character_height = size.height;
  p.SetBackground(Black);
  p.PrintAt(ColumnPitch * column - 2 + (23 - size.width) / 2.0, CharacterY, DarkGrey, character);
  CellBox(p, left, CharacterTop, right, CharacterBottom, DimGrey, NoFill);
}

// A column whose byte could not be read is left empty.
void EraseColumn(Viewer& v, int column) {
  CellBox(*v.s.Painter, ColumnLeft(column), HighestRowTop, ColumnRight(column), CharacterBottom, Black,
          Black);
}

// "From 1 to 51": the 1-based positions of the first and last shown byte.
void DrawRangeLine(Viewer& v) {
  AppState& s = v.s;
  Painter& p = *s.Painter;
  p.SetBackground(Black);
  p.PrintAt(LeftMargin, StatusY, Grey, "From ");
  p.SetForeground(DarkGrey);
  p.PrintText(FormatGroupedCount(static_cast<std::uint64_t>(s.Viewer.ViewStart + 1)));
  p.SetForeground(Grey);
  p.PrintText(" to ");
  p.SetForeground(DarkGrey);
  p.PrintText(
      Padded(FormatGroupedCount(static_cast<std::uint64_t>(s.Viewer.ViewStart + v.Columns())), RangePadding));
}

// Draws the columns whose byte differs from what the column shows (all of
// them while the key text is hidden), then the range line.
void DrawColumns(Viewer& v) {
  AppState& s = v.s;
  s.Painter->SetForeground(DarkGrey);
  if (s.KeyEntry.Hidden) std::fill(s.Viewer.ColumnCache.begin(), s.Viewer.ColumnCache.end(), -1);
  for (int column = 1; column <= v.Columns(); ++column) {
    const auto index = static_cast<std::size_t>(column - 1);
    const int byte = index < v.bytes.size() ? v.bytes[index] : -1;
    if (s.Viewer.ColumnCache[index] == byte) continue;
    s.Viewer.ColumnCache[index] = byte;
    if (byte < 0) {
      EraseColumn(v, column);
    } else {
      DrawColumn(v, column, static_cast<std::uint8_t>(byte));
    }
  }
  DrawRangeLine(v);
}

// Only the bytes on screen are read, with one positioned read. A failed read
// (the file shrank, an I/O error) shows a notice and empty columns.
void ReadShownBytes(Viewer& v) {
  AppState& s = v.s;
  v.bytes.assign(static_cast<std::size_t>(v.Columns()), 0);
  FileCalls calls;
  const Status read =
      ReadExactly(calls, s.Work.File1->Descriptor(), v.bytes, s.Viewer.ViewStart, s.Work.File1->Name());
  if (!read) {
    v.bytes.clear();
    ShowFileNotice(s, FileOutcome::ReadError, read.error());
  }
}

void Redraw(Viewer& v) {
  v.s.Input.PendingKey.clear();
  ReadShownBytes(v);
  DrawColumns(v);
}

// The frame two pixels outside the bit cell under `point`.
void DrawSelectionFrame(AppState& s, Point point, Colour colour) {
  const int column = ColumnAt(point.x);
  const int row = RowAt(point.y);
  CellBox(*s.Painter, ColumnLeft(column) - 2, RowTop(row) - 2, ColumnRight(column) + 2, RowBottom(row) + 2,
          colour, NoFill);
}

// "Bit  7 Byte 1 B01000001  H41 D65  Code A": labels grey, values dark grey.
void DrawInfoLine(AppState& s, int bit, std::int64_t position, std::uint8_t byte) {
  Painter& p = *s.Painter;
  p.SetBackground(Black);
  p.SetPosition(LeftMargin, InfoLineY(s));
  const auto piece = [&p](std::string_view label, const std::string& value) {
    p.SetForeground(Grey);
    p.PrintText(label);
    p.SetForeground(DarkGrey);
    p.PrintText(value);
  };
  piece("Bit ", FormatPlain(bit) + " ");
  piece("Byte ", FormatGroupedCount(static_cast<std::uint64_t>(position)) + " ");
  piece("B", FormatBinary8(byte) + "  ");
  piece("H", FormatHex2(byte) + " ");
  piece("D", std::to_string(byte) + "  ");
  piece("Code ", Padded(Cp1252ToUtf8(CodeNames[byte]), 50));
}

void EraseSelection(AppState& s) {
  s.Painter->DrawBox(LeftMargin, InfoLineY(s), s.Layout.WorkAreaWidth - 15,
                     StatusY + 22 * s.Layout.LineHeight, 0, Black, Black);
  // (0, 0) is no selection: nothing was framed yet.
  if (s.Viewer.SelectedPoint != Point{}) DrawSelectionFrame(s, s.Viewer.SelectedPoint, Black);
}

// --- Clicks --------------------------------------------------------------------

enum class ClickOutcome {
  Consumed,  // handled here; the exit test still looks at the key
  Ignored,   // cleared without effect; back to polling
  Pending,   // not the viewer's: the exit test decides
};

// A single click at `point`, in this order:
//
//   where                               what follows
//   the character row (410 < y < 440)   dropped
//   the strip under the columns         jump there in the file, redraw
//   black below the icon row            ignored
//   a bit cell                          frame it, describe its bit and byte
//   anything else                       the exit test
ClickOutcome HandleClick(Viewer& v, Point point) {
  AppState& s = v.s;
  if (LowestRowBottom < point.y && point.y < 440) {
    s.Link->ClearClick();
    return ClickOutcome::Consumed;
  }
  if (InPositionBar(v, point)) {
    s.Painter->DrawBox(LeftMargin, 440, s.Layout.WorkAreaWidth - 20, 610, 0, Black, Black);
    s.Link->ClearClick();
    s.Viewer.ViewStart = PositionBarStart(v, point.x);
    Redraw(v);
    return ClickOutcome::Consumed;
  }
  // Empty screen: nothing to act on. Cleared, or the loop would meet it again.
  if (point.y > 122 && s.Painter->ReadPixel(point.x, point.y) == Black) {
    s.Link->ClearClick();
    return ClickOutcome::Ignored;
  }
  if (21 < point.x && point.x < ColumnPitch * v.Columns() + 22 && HighestRowTop <= point.y &&
      point.y <= LowestRowBottom) {
    s.Link->ClearClick();
    const int column = ColumnAt(point.x);
    if (column < 1 || static_cast<std::size_t>(column) > v.bytes.size()) return ClickOutcome::Ignored;
    s.Viewer.SelectedPoint = point;
    DrawSelectionFrame(s, point, DarkGrey);
    DrawInfoLine(s, 7 - RowAt(point.y), s.Viewer.ViewStart + column,
                 v.bytes[static_cast<std::size_t>(column - 1)]);
    DrawColumns(v);
    return ClickOutcome::Consumed;
  }
  return ClickOutcome::Pending;
}

// --- Leaving -------------------------------------------------------------------

void CloseAndErase(AppState& s) {
  s.Work.File1.reset();
  s.Painter->DrawBox(LeftMargin, StatusY, s.Layout.WorkAreaWidth - 20, 680, 0, Black, Black);
}

// The way out, by the icon clicked (-1 for none, and for Esc or Enter):
//
//   icon / key                    what follows
//   Encrypted, Statistics         close, erase; the dispatch acts on the icon
//   Keyboard                      close, clear the prompt line; the dispatch
//                                 shows the keyboard (it tests ClickedIcon for Keyboard)
//   Help                          close, clear from StatusY down, show the
//                                 help text; a fresh input wait follows
//   List file, Key, no icon,      close, erase, return; the dispatch's tests
//   Esc or Enter                  go on (Key then acts as Enter)
//
// Show|Hide key keeps the viewer open and is handled by the loop. The
// keyboard is already hidden: the viewer hid it on opening.
ViewerExit Leave(AppState& s, int icon) {
  s.Viewer.Shown = false;
  switch (icon) {
    case icon::Encrypted:
    case icon::Statistics: CloseAndErase(s); return ViewerExit::ContinueAtShowHideTest;
    case icon::Keyboard:
      s.Work.File1.reset();
      s.Status.PromptKeepWidth = 0;
      ClearPromptLine(s);
      return ViewerExit::ContinueAtShowHideTest;
    case icon::Help:
      s.Work.File1.reset();
      s.Painter->DrawBox(0, StatusY, s.Layout.WorkAreaWidth, StatusY + s.Layout.WorkAreaHeight, 0, Black,
                         Black);
      ShowHelp(s);
      s.Help.Shown = true;
      s.Keyboard.Shown = false;
      return ViewerExit::RestartWait;
    default: CloseAndErase(s); return ViewerExit::Return;
  }
}

// Opening: the overlays give way and the file is opened. The way out when
// it cannot be.
std::optional<ViewerExit> OpenViewedFile(AppState& s) {
  s.Help.Shown = false;
  s.Statistics.Shown = false;
  s.Keyboard.Shown = false;
  s.Viewer.ViewStart = 0;
  ClearWorkArea(s);
  bool ended = false;
  if (!OpenSelectedFile(s, ended)) return ended ? ViewerExit::ProgramEnd : ViewerExit::Return;
  return std::nullopt;
}

// The columns laid out for the window, and the file's first bytes shown.
void ShowFirstColumns(Viewer& v) {
  AppState& s = v.s;
  s.Viewer.Shown = true;
  s.Viewer.ColumnCount = ColumnCountFor(v.length, s.Layout.WorkAreaWidth);
  s.Viewer.ColumnCache.assign(static_cast<std::size_t>(FittingColumns(s.Layout.WorkAreaWidth)), -1);
  // The List file click's action is over: a second click that came
  // meanwhile is not one on the view.
  s.Input.DropClicksAtWait = false;
  s.Platform->DropInput(InputKind::Clicks);
  Redraw(v);
}

// Whether a single click waits. Double clicks are not acted on; dropped so
// the next click can come.
bool SingleClickWaits(AppState& s) {
  if (s.Link->ClickKind.load() == 2) s.Link->ClearClick();
  return s.Link->ClickKind.load() == 1;
}

// The exit test: a click that nothing on the view took, Esc or Enter
// leaves (see Leave); Show|Hide key keeps the viewer open.
std::optional<ViewerExit> ExitTest(Viewer& v, bool click, Point point) {
  AppState& s = v.s;
  if (click) {
    const int hit = HitTestIconRow(s, point.x, point.y);
    s.Input.ClickedIcon = hit;
    s.Link->ClearClick();
    if (hit >= 0) PressFeedback(s, hit);
    if (hit == icon::ShowHide) {
      // The viewer stays; hidden key text means every column is redrawn.
      s.KeyEntry.Hidden = !s.KeyEntry.Hidden;
      DrawShowHideIndicator(s);
      s.Input.ClickedIcon = -1;
      DrawColumns(v);
      return std::nullopt;
    }
    // The icon's action follows the viewer; clicks that come meanwhile
    // are dropped when the program next waits.
    s.Input.DropClicksAtWait = hit >= 0;
    return Leave(s, hit);
  }
  if (key::Is(s.Input.PendingKey, key::Escape) || key::Is(s.Input.PendingKey, key::Enter))
    return Leave(s, -1);
  return std::nullopt;
}

// One key or click: a scroll, a jump, a bit described, or the exit test.
// The way out when it leaves the viewer.
std::optional<ViewerExit> ActOnInput(Viewer& v, bool click) {
  AppState& s = v.s;
  if (IsIgnoredKey(v)) return std::nullopt;
  const Point point = click ? Point{s.Link->ClickX.load(), s.Link->ClickY.load()} : Point{};
  if (point != s.Viewer.SelectedPoint) EraseSelection(s);
  if (!click && key::IsExtended(s.Input.PendingKey)) {
    s.Viewer.ViewStart = MovedStart(v, key::Last(s.Input.PendingKey));
    Redraw(v);
    return std::nullopt;
  }
  if (click) {
    const ClickOutcome outcome = HandleClick(v, point);
    if (outcome == ClickOutcome::Ignored) return std::nullopt;
    click = outcome == ClickOutcome::Pending;
  }
  return ExitTest(v, click, point);
}

}  // namespace

ViewerExit RunByteViewer(AppState& s) {
  if (const std::optional<ViewerExit> refused = OpenViewedFile(s)) return *refused;
  Viewer v{s, s.Work.File1->Length(), {}, 0};
  ShowFirstColumns(v);
  for (;;) {
    if (s.Link->Alive.load() == 0) {
      s.Work.File1.reset();
      s.Viewer.Shown = false;
      return ViewerExit::ProgramEnd;
    }
    s.Input.PendingKey = ReadActingKey(s);
    const bool click = SingleClickWaits(s);
    if (!click && s.Input.PendingKey.empty()) {
      // Nothing changes on this screen until the user acts.
      s.Platform->Wait(*s.Clock, WaitRequest::Input(-1, -1));
      continue;
    }
    if (const std::optional<ViewerExit> exit = ActOnInput(v, click)) return *exit;
  }
}

}  // namespace quorvant
