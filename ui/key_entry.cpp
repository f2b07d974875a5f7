#include "ui/key_entry.h"

#include "base/wipe.h"
#include "crypto/encrypted_name.h"
#include "crypto/file_transform.h"
#include "ui/file_work.h"
#include "ui/fixed_tables.h"
#include "ui/input_wait.h"
#include "ui/panels.h"

namespace quorvant {

namespace {

// Starting: the file is held open while the key is typed, and its suffix is
// fresh for a plain file or taken from an encrypted file's name; a file with
// an interrupted run takes its run's suffix, and the key finishes that run.
bool StartKeyEntry(AppState& s, bool& ended) {
  s.Interrupted.reset();
  if (!OpenSelectedFile(s, ended)) return false;
  const FileEntry& entry = s.Files.Entry(s.SelectedIndex);
  if (s.File1->IsReadOnly()) {
    s.File1.reset();
    ShowFileNotice(s, FileOutcome::ReadOnly);
    return false;
  }
  FileCalls calls;
  InterruptedRunAnswer interrupted = FindInterruptedRun(*s.File1, calls);
  if (interrupted.outcome == FileOutcome::Done) {
    s.Interrupted = std::move(interrupted.run);
    s.Suffix = s.Interrupted->suffix;
  } else if (interrupted.outcome != FileOutcome::NothingToResume) {
    s.File1.reset();
    ShowFileNotice(s, interrupted.outcome);
    return false;
  } else if (entry.encrypted_flag == 1) {
    const std::optional<EncryptedSuffix> suffix = SuffixOfName(entry.name);
    if (!suffix) {
      s.File1.reset();
      ShowFileNotice(s, FileOutcome::NameInvalid);
      return false;
    }
    s.Suffix = *suffix;
  } else {
    s.Suffix = MakeEncryptedSuffix(*s.clock);
  }

  ClearStatusBand(s);
  s.painter->SetBackground(Black);
  std::string prompt = "Key ";
  prompt += Spaces(300);
  s.painter->PrintAt(LeftMargin, StatusY, Grey, prompt);
  s.StatusOffset = static_cast<std::uint8_t>(s.painter->MeasureText("Key ").width % 256);
  s.PromptKeepWidth = s.StatusOffset;
  Wipe(s.KeyText);
  // Room for the longest key up front, so typing never moves the key to a
  // new buffer and leaves a copy behind.
  s.KeyText.reserve(MaxKeyLength + 1);
  s.KeyCursor = 0;
  s.ScreenMode = "the key";
  s.CaretX = LeftMargin + s.StatusOffset;
  return true;
}

void RedrawKey(AppState& s) {
  Painter& p = *s.painter;
  p.SetBackground(Black);
  s.CaretX = LeftMargin + s.StatusOffset +
             p.MeasureText(std::string_view(s.KeyText).substr(0, static_cast<size_t>(s.KeyCursor))).width;
  p.PrintAt(LeftMargin + s.StatusOffset, StatusY, KeyTextColours[StateIndex(s.KeyHidden)], s.KeyText);
  p.PrintText(Spaces(8));
}

void LeaveKeyEntry(AppState& s) {
  Wipe(s.KeyText);
  s.KeyCursor = 0;
  s.File1.reset();
  s.Interrupted.reset();
  s.PromptKeepWidth = 0;
}

// The file run: rename, transform every block with the percentage shown,
// sync; Esc or an error undoes it all. For a file with an interrupted run,
// the run is finished instead (Esc then stops it, to be finished later).
Next TransformOnScreen(AppState& s) {
  const Direction direction = s.Interrupted                                        ? s.Interrupted->direction
                              : s.Files.Entry(s.SelectedIndex).encrypted_flag == 1 ? Direction::Decrypt
                                                                                   : Direction::Encrypt;
  s.painter->DrawBox(0, StatusY, s.W, StatusY + s.H, 0, Black, Black);
  s.ScreenMode = std::string(ModeNames[direction == Direction::Decrypt ? 1 : 0]);
  s.painter->SetBackground(Black);
  s.painter->PrintAt(LeftMargin, StatusY, Grey, s.ScreenMode);
  s.StatusOffset = static_cast<std::uint8_t>(s.painter->MeasureText(s.ScreenMode).width % 256);

  // A resumed run starts part-way: whatever the last run showed is stale.
  s.ProgressShown = -1;
  const auto progress = [&](std::int64_t offset, std::int64_t last) { return ShowProgress(s, offset, last); };
  const FileReport report = s.Interrupted ? ResumeFile(*s.File1, s.KeyText, ResumeMode::Finish, progress)
                                          : TransformFile(*s.File1, direction, s.Suffix, s.KeyText, progress);
  Wipe(s.KeyText);
  s.Interrupted.reset();
  s.File1.reset();
  ClearStatusBand(s);
  if (report.outcome != FileOutcome::Done && report.outcome != FileOutcome::Cancelled) {
    ShowFileNotice(s, report.outcome);
  }
  // The Enter that confirmed the key is used up: after a refusal found
  // before the first block ("Name in use"), it would open key entry again.
  s.PendingKey.clear();
  if (s.EndAfterWork || s.link->Alive.load() == 0) return Next::ProgramEnd;
  return Next::BrowseEntry;
}

}  // namespace

void EditKey(AppState& s, const std::string& pending_key) {
  const int length = static_cast<int>(s.KeyText.size());
  if (pending_key.size() == 1) {
    const auto code = static_cast<unsigned char>(pending_key[0]);
    if (code >= 32 && code <= 126 && length < MaxKeyLength) {
      s.KeyText.insert(static_cast<size_t>(s.KeyCursor), 1, static_cast<char>(code));
      ++s.KeyCursor;
    } else if (code == key::Backspace && s.KeyCursor > 0) {
      s.KeyText.erase(static_cast<size_t>(s.KeyCursor - 1), 1);
      --s.KeyCursor;
    }
    return;
  }
  if (!key::IsExtended(pending_key) || length == 0) return;
  switch (key::Last(pending_key)) {
    case scan::Del:
      if (s.KeyCursor < length) s.KeyText.erase(static_cast<size_t>(s.KeyCursor), 1);
      break;
    case scan::Left:
      if (s.KeyCursor > 0) --s.KeyCursor;
      break;
    case scan::Right:
      if (s.KeyCursor < length) ++s.KeyCursor;
      break;
    case scan::Home: s.KeyCursor = 0; break;
    case scan::End: s.KeyCursor = length; break;
    default:  // Up, Down, PgUp, PgDn
      break;
  }
}

Next RunKeyEntry(AppState& s) {
  bool ended = false;
  if (!StartKeyEntry(s, ended)) return ended ? Next::ProgramEnd : Next::WaitThenBrowse;
  for (;;) {
    const WaitResult result = InputWait(s);
    if (result != WaitResult::Input) {
      LeaveKeyEntry(s);
      return AfterWait(s, result, Next::BrowseStep);
    }
    if (key::Is(s.PendingKey, key::Escape)) {
      LeaveKeyEntry(s);
      ClearStatusBand(s);
      s.ScreenMode = "scroll";
      return Next::BrowseStep;
    }
    if (key::Is(s.PendingKey, key::Enter) && !s.KeyText.empty()) {
      s.KeyboardShown = -1;
      ClearWorkArea(s);
      ClearPromptLine(s);
      s.KeyCursor = 0;
      s.PromptKeepWidth = 0;
      return TransformOnScreen(s);
    }
    EditKey(s, s.PendingKey);
    RedrawKey(s);
  }
}

}  // namespace quorvant
