#include "ui/file_work.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "analysis/number_format.h"
#include "ui/input_wait.h"
#include "ui/panels.h"

namespace quorvant {

bool OpenSelectedFile(AppState& s, bool& ended) {
  ended = false;
  s.Work.File1.reset();
  if (s.FileCount() == 0) {
    ShowFatalMessage(s, "Empty folder");
    ended = true;
    return false;
  }
  FileResult<OpenedFile> opened =
      OpenFileInFolder(s.FolderFd, s.Browser.Files.Entry(s.Browser.SelectedIndex).name);
  if (!opened) {
    ShowFileNotice(s, opened.error().outcome, opened.error().error);
    return false;
  }
  s.Work.File1 = std::move(*opened);
  return true;
}

void LogFileError(AppState& s, FileOutcome outcome, const Error& error) {
  if (error.code != 0 && s.FileCount() > 0) {
    std::string name = s.Browser.Files.Entry(s.Browser.SelectedIndex).name;
    std::replace_if(name.begin(), name.end(), [](char c) { return c >= 0 && c < 32; }, '?');
    std::fprintf(stderr, "quorvant: %s: %s\n", name.c_str(), DescribeFailureFully(outcome, error).c_str());
  }
}

void ShowFileNotice(AppState& s, FileOutcome outcome, const Error& error) {
  LogFileError(s, outcome, error);
  s.Status.Message = std::string(OutcomeText(outcome));
  ShowAlert(s, s.Status.Message);
}

void EndLongOperation(AppState& s) { s.Platform->DropInput(InputKind::KeysAndClicks); }

ProgressAnswer ShowProgress(AppState& s, std::int64_t offset, std::int64_t last_offset) {
  s.Input.PendingKey = s.Platform->ReadKey(KeySite::Progress);
  if (key::Is(s.Input.PendingKey, key::Escape)) return ProgressAnswer::Cancel;
  // Clicks are not looked at during the run: each is dropped as it comes.
  s.Link->ClearClick();

  // The text changes a hundred times in a run of thousands of blocks; only a
  // new value is drawn, so the drawing never slows the work.
  const int percent = ProgressPercent(offset, last_offset);
  const bool done =
      last_offset > 0 && static_cast<__int128>(offset) * 10000 > static_cast<__int128>(last_offset) * 9999;
  const int shown = percent * 2 + (done ? 1 : 0);
  if (offset == 0) s.Work.ProgressShown = -1;
  if (shown != s.Work.ProgressShown) {
    s.Work.ProgressShown = shown;
    Painter& p = *s.Painter;
    p.SetBackground(Black);
    p.SetPosition(LeftMargin + s.Status.Offset, StatusY);
    p.SetForeground(DarkGrey);
    // A 1-byte file has a last offset of 0: its one block shows 0 %.
    p.PrintText(FormatPlain(percent) + "%");
    p.NewLine();
    // Past 99.99 % the row is blanked: the work is as good as done.
    if (done) {
      p.SetPosition(LeftMargin, StatusY);
      p.PrintText(Spaces(200));
    }
    // The work never waits, so nothing else would show the new figure.
    s.Platform->ShowSoon();
  }
  if (s.Link->Alive.load() == 0) s.Work.EndAfterWork = true;
  return ProgressAnswer::Continue;
}

}  // namespace quorvant
