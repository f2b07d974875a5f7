#include "ui/erase_screen.h"

#include <string>

#include "rewrite/erase_with_journal.h"
#include "ui/file_work.h"
#include "ui/folder_refresh.h"
#include "ui/input_wait.h"
#include "ui/panels.h"

namespace quorvant {

Next EraseSelectedFile(AppState& s) {
  ClearStatusBand(s);
  s.Painter->SetBackground(Black);
  s.Painter->PrintAt(LeftMargin, StatusY, Grey, Caption(s.Mode));
  s.Status.Offset = static_cast<std::uint8_t>(s.Painter->MeasureText(Caption(s.Mode)).width % 256);

  bool ended = false;
  if (!OpenSelectedFile(s, ended)) {
    return ended ? Next::ProgramEnd : Next::WaitThenBrowse;
  }
  // A half-done file goes with its run's journal, which holds part of it.
  FileCalls calls;
  const FileReport report = EraseFileAndJournal(
      *s.Work.File1, [&](std::int64_t offset, std::int64_t last) { return ShowProgress(s, offset, last); },
      calls);
  s.Work.File1.reset();
  EndLongOperation(s);

  if (report.outcome == FileOutcome::Done) {
    // Only now is the file gone from the folder.
    std::string erased = report.journal_erased ? "Erased with its journal" : "Erased";
    erased += Spaces(50);
    s.Painter->PrintAt(LeftMargin, StatusY, Grey, erased);
    // Long enough to be read: the status band is cleared right after.
    NoticePause(s, ErasedNoticeMs);
    if (s.Browser.SelectedIndex > 1) --s.Browser.SelectedIndex;
  } else if (report.condition == FileCondition::Overwritten) {
    // Every block is overwritten: "Not erased" would undersell it.
    ShowAlert(s, "Overwritten, not deleted");
  } else if (report.condition == FileCondition::PartlyOverwritten) {
    // Stopped part-way (Esc, a write error): kept, but not as it was.
    ShowAlert(s, PartlyOverwrittenNotice);
  } else if (report.outcome == FileOutcome::Cancelled) {
    // Esc before the first block: nothing was written.
    ShowAlert(s, "Not erased");
  } else {
    // A refusal says why; after a failed call, nothing was overwritten.
    LogFileError(s, report.outcome, report.error);
    ShowAlert(s, WordingOf(report.outcome).refusal ? OutcomeText(report.outcome) : "Not erased");
  }

  ClearStatusBand(s);
  // After an erase the selected entry is another file, which the listing
  // draws; after a refusal the file rows still show the right file.
  if (ScanFolderStep(s, Rescan::Now) == WaitResult::ProgramEnd) return Next::ProgramEnd;
  s.Browser.LastShownIndex = s.Browser.SelectedIndex;

  s.Input.PendingKey.clear();
  if (s.Work.EndAfterWork || s.Link->Alive.load() == 0) return Next::ProgramEnd;
  return Next::BrowseEntry;
}

}  // namespace quorvant
