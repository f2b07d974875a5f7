#include "ui/statistics_screen.h"

#include <algorithm>
#include <string>

#include "analysis/number_format.h"
#include "analysis/stat_figures.h"
#include "analysis/statistics_engine.h"
#include "surface/text_encoding.h"
#include "ui/click_dispatch.h"
#include "ui/file_work.h"
#include "ui/fixed_tables.h"
#include "ui/help_screen.h"
#include "ui/input_wait.h"
#include "ui/panels.h"

namespace quorvant {

namespace {

constexpr int LastTableTop = 256 - 10;

// Runs the engine over the selected file with "Statisting " and the
// percentage for files of more than one block. Returns false when the file
// could not be read or the user pressed Esc; a notice has been shown for a
// refusal or an error.
bool ComputeForSelectedFile(AppState& s, bool& ended) {
  if (!OpenSelectedFile(s, ended)) return false;
  const auto length = static_cast<std::uint64_t>(s.Work.File1->Length());
  if (length > ProgressPieceLength) {
    s.Painter->SetBackground(Black);
    s.Painter->PrintAt(LeftMargin, StatusY, Grey, "Statisting ");
    s.Status.Offset = static_cast<std::uint8_t>(s.Painter->MeasureText("Statisting ").width % 256);
  }
  const Result<std::optional<FileStatistics>> result = ComputeStatistics(
      s.Work.File1->Descriptor(), length,
      [&](std::int64_t offset, std::int64_t last) { return ShowProgress(s, offset, last); });
  s.Work.File1.reset();
  if (length > ProgressPieceLength) EndLongOperation(s);
  ClearPromptLine(s);
  ClearStatusBand(s);
  if (!result.ok()) {
    ShowFileNotice(s, FileOutcome::ReadError, result.error());
    return false;
  }
  if (!result.value().has_value()) return false;  // Esc
  s.Statistics.ByteCounts = result.value()->ByteCounts;
  s.Statistics.StatValues = result.value()->StatValues;
  return true;
}

// The figures column: label, then value, one row each.
void DrawFigures(AppState& s) {
  Painter& p = *s.Painter;
  p.SetBackground(Black);
  for (size_t i = 0; i < StatLabels.size(); ++i) {
    p.PrintAt(LeftMargin, StatusY + s.Layout.LineHeight * static_cast<int>(i), Grey, StatLabels[i]);
    p.SetForeground(DarkGrey);
    p.PrintText(s.Statistics.StatValues[i]);
    p.NewLine();
  }
}

// The header and ten rows: count right-aligned at 370, binary, hex, decimal
// right-aligned at 523, and the value's name.
void DrawTable(AppState& s) {
  Painter& p = *s.Painter;
  p.SetBackground(Black);
  p.PrintAt(298, StatusY, Grey, "Observed  Binary        Hex Dec  Code");
  for (int row = 0; row < 10; ++row) {
    const int value = s.Statistics.TableTop + row;
    const auto byte = static_cast<std::uint8_t>(value);
    const int y = StatusY + s.Layout.LineHeight * (row + 1);
    p.PrintAt(270, y, DarkGrey, Spaces(200));
    const std::string count = FormatGroupedCount(s.Statistics.ByteCounts[static_cast<size_t>(value)]);
    p.SetPosition(370 - p.MeasureText(count).width, y);
    p.PrintText(count);
    p.PrintText(Spaces(200));
    p.SetPosition(382, y);
    p.PrintText(FormatBinary8(byte) + "  ");
    p.SetPosition(465, y);
    p.PrintText(FormatHex2(byte));
    p.PrintText(Spaces(30));
    const std::string decimal = FormatPlain(value);
    p.SetPosition(523 - p.MeasureText(decimal).width, y);
    p.PrintText(decimal);
    p.SetPosition(535, y);
    p.PrintText(Cp1252ToUtf8(CodeNames[static_cast<size_t>(value)]));
    p.PrintText(Spaces(250));
  }
}

// Closing on the icon that was clicked; the dispatch then acts on it.
Next Close(AppState& s) {
  s.Painter->DrawBox(0, StatusY, s.Layout.WorkAreaWidth, StatusY + s.Layout.WorkAreaHeight, 0, Black, Black);
  s.Statistics.Shown = false;
  switch (s.Input.ClickedIcon) {
    case icon::Statistics: return Next::BrowseEntry;
    case icon::Key:
      s.Input.PendingKey = std::string(1, key::Enter);
      s.Input.ClickedIcon = -1;
      break;
    case icon::Help:
      ShowHelp(s);
      s.Help.Shown = true;
      return Next::BrowseEntry;
    case icon::Encrypted: s.Input.PendingKey = EncryptedIconKey; break;
    default: break;
  }
  s.Mode = ScreenMode::Scroll;
  if (s.Input.ClickedIcon == icon::Keyboard) {
    // The dispatch showed the keyboard and this close wiped it: show it again.
    s.Keyboard.Shown = false;
    return Resume(s, DispatchClick(s, DispatchFrom::ShowHideTest));
  }
  if (s.Input.ClickedIcon == icon::ListFile) {
    s.Input.ViewerReturn = DispatchFrom::Start;
    return Next::ByteViewer;
  }
  return Resume(s, DispatchClick(s, DispatchFrom::Start));
}

}  // namespace

int MoveTableTop(int table_top, const std::string& pending_key) {
  if (pending_key.size() == 1) {
    table_top = static_cast<unsigned char>(pending_key[0]);
  } else if (key::IsExtended(pending_key)) {
    switch (key::Last(pending_key)) {
      case scan::Up: table_top -= 1; break;
      case scan::Down: table_top += 1; break;
      case scan::PgUp: table_top -= 10; break;
      case scan::PgDn: table_top += 10; break;
      case scan::Home: table_top = 0; break;
      case scan::End: table_top = LastTableTop; break;
      case scan::Del: table_top = 127; break;  // the row of DEL
      default: break;
    }
  }
  return std::clamp(table_top, 0, LastTableTop);
}

WaitResult ToggleStatistics(AppState& s) {
  if (s.Statistics.Shown) {
    // Clicked on the open screen: its loop sees ClickedIcon and closes.
    s.Statistics.Shown = false;
    return WaitResult::Input;
  }
  return WaitResult::Statistics;
}

Next RunStatistics(AppState& s) {
  s.Statistics.Shown = true;
  s.Mode = ScreenMode::Statistics;
  ClearPromptLine(s);
  ClearWorkArea(s);
  bool ended = false;
  if (!ComputeForSelectedFile(s, ended)) {
    s.Statistics.Shown = false;
    return ended ? Next::ProgramEnd : Next::BrowseEntry;
  }
  DrawFigures(s);
  s.Keyboard.Shown = false;
  s.Help.Shown = false;
  DrawTable(s);

  for (;;) {
    const WaitResult result = InputWait(s);
    if (result == WaitResult::ProgramEnd) return Next::ProgramEnd;
    if (result != WaitResult::Input) {
      s.Statistics.Shown = false;
      return Resume(s, result);
    }
    if (s.Input.ClickedIcon >= 0) return Close(s);
    s.Statistics.TableTop = MoveTableTop(s.Statistics.TableTop, s.Input.PendingKey);
    DrawTable(s);
  }
}

}  // namespace quorvant
