// Key entry and the file run it leads to. Index of this file:
//   1. Starting: look at the file, then let it go while the key is typed
//   2. The key field
//   3. Confirming: the hidden key typed twice
//   4. The run: the file opened again, the "Key looks wrong" question

#include "ui/key_entry.h"

#include <optional>
#include <string>
#include <string_view>

#include "rewrite/admission.h"
#include "rewrite/file_transform.h"
#include "ui/file_work.h"
#include "ui/fixed_tables.h"
#include "ui/format_choice.h"
#include "ui/input_wait.h"
#include "ui/panels.h"

namespace quorvant {

namespace {

// --- 1. Starting ------------------------------------------------------------

// What the run will be, decided before any key is typed (a file that cannot
// be worked on gets its notice now): the finish of an interrupted run, or
// what the name says.
bool FindKeyTarget(AppState& s) {
  const OpenedFile& file = *s.Work.File1;
  FileCalls calls;
  FileResult<Admission> admitted = AdmitFile(file, FileIntent::ByName, *s.Clock, calls);
  if (!admitted) {
    ShowFileNotice(s, admitted.error().outcome, admitted.error().error);
    return false;
  }
  s.Work.Target = KeyTarget{file.Name(), std::move(*admitted)};
  return true;
}

// The label at the start of the status band, the key field after it; the
// format choice of a new encryption below them.
void DrawKeyPrompt(AppState& s, std::string_view label) {
  ClearStatusBand(s);
  s.Painter->SetBackground(Black);
  std::string prompt(label);
  prompt += Spaces(300);
  s.Painter->PrintAt(LeftMargin, StatusY, Grey, prompt);
  s.Status.Offset = static_cast<std::uint8_t>(s.Painter->MeasureText(label).width % 256);
  s.Status.PromptKeepWidth = s.Status.Offset;
  s.KeyEntry.Cursor = 0;
  s.KeyEntry.CaretX = LeftMargin + s.Status.Offset;
  DrawFormatChoice(s);
}

void ForgetKey(AppState& s) {
  s.KeyEntry.TypedKey.Clear();
  s.KeyEntry.FirstTyping.Clear();
  s.KeyEntry.AskingAgain = false;
  s.KeyEntry.Cursor = 0;
}

// The file is opened to be looked at, and closed again before the key is
// typed: holding it would make another program's open wait (its lease
// break) for as long as the user types.
bool StartKeyEntry(AppState& s, bool& ended) {
  s.Work.Target.reset();
  if (!OpenSelectedFile(s, ended)) return false;
  const bool ready = FindKeyTarget(s);
  s.Work.File1.reset();
  if (!ready) return false;

  ForgetKey(s);
  DrawKeyPrompt(s, "Key ");
  s.Mode = ScreenMode::Key;
  return true;
}

void LeaveKeyEntry(AppState& s) {
  ForgetKey(s);
  s.Work.File1.reset();
  s.Work.Target.reset();
  s.Status.PromptKeepWidth = 0;
}

// --- 2. The key field ---------------------------------------------------------

void RedrawKey(AppState& s) {
  Painter& p = *s.Painter;
  p.SetBackground(Black);
  s.KeyEntry.CaretX =
      LeftMargin + s.Status.Offset +
      p.MeasureText(s.KeyEntry.TypedKey.View().substr(0, static_cast<size_t>(s.KeyEntry.Cursor))).width;
  p.PrintAt(LeftMargin + s.Status.Offset, StatusY, KeyTextColours[StateIndex(s.KeyEntry.Hidden)],
            s.KeyEntry.TypedKey.View());
  p.PrintText(Spaces(8));
}

// --- 4. The run -----------------------------------------------------------------

// Each question, with its answer, longest first: the first that fits the
// status band at the screen font is asked.
constexpr std::string_view KeyLooksWrongQuestions[] = {
    "Key looks wrong: Enter decrypts, Esc stops",
    "Key looks wrong: Enter decrypts",
    "Key wrong? Enter/Esc",
};
// An encryption of a file a decryption marked, with another key than the
// decrypting one: going on makes that decryption final.
constexpr std::string_view OtherKeyQuestions[] = {
    "Not the key it was decrypted with: Enter encrypts, Esc stops",
    "Other key than it was decrypted with: Enter encrypts",
    "Other key: Enter encrypts",
    "Other key? Enter/Esc",
};

}  // namespace

std::string_view KeyLooksWrongQuestion(const AppState& s) { return FittingTheBand(s, KeyLooksWrongQuestions); }
std::string_view OtherKeyQuestion(const AppState& s) { return FittingTheBand(s, OtherKeyQuestions); }

namespace {

// Asked when the key decrypts the start of a file without a key check to
// noise, or is not the one that decrypted the file it is to encrypt: in the
// alert form, but waiting for the answer, which it names.
// Enter (or the Key icon) goes on; Esc stops with nothing changed, and so
// does a closed window. Only an answer given after the alert's time counts:
// keys and clicks that came before are dropped, and an Enter held down (its
// repeats) never answers, so that an Enter pressed twice or held cannot
// decrypt with a wrong key before the question was read. An Esc in that
// time stops at once.
ProgressAnswer AskUser(AppState& s, std::string_view question) {
  DrawAlert(s, question);
  Pause(s, AlertMilliseconds);
  const bool stopped = s.Platform->DropInput(InputKind::KeysAndClicks).escape;
  ProgressAnswer answer = ProgressAnswer::Cancel;
  while (!stopped && s.Link->Alive.load() != 0) {
    const KeyStroke press = s.Platform->ReadKeyStroke(KeySite::Wait);
    if (key::Is(press.text, key::Enter) && !press.repeat) {
      answer = ProgressAnswer::Continue;
      break;
    }
    if (key::Is(press.text, key::Escape)) break;
    if (s.Link->ClickKind.load() != 0) {
      const int hit = HitTestIconRow(s, s.Link->ClickX.load(), s.Link->ClickY.load());
      s.Link->ClearClick();
      if (hit == icon::Key) {
        PressFeedback(s, hit);
        answer = ProgressAnswer::Continue;
        break;
      }
      continue;
    }
    s.Platform->Wait(*s.Clock, WaitRequest::Input(-1, -1));
  }
  ClearStatusBand(s);
  s.Painter->SetBackground(Black);
  s.Painter->PrintAt(LeftMargin, StatusY, Grey, Caption(s.Mode));
  return answer;
}

// The file the key was typed for, opened again now that it is to be worked
// on: refused (with its notice) when it cannot be had. Whether it is still
// the same file, as it was, is the run's first question.
bool OpenKeyTarget(AppState& s) {
  FileResult<OpenedFile> opened = OpenFileInFolder(s.FolderFd, s.Work.Target->Name);
  if (!opened) {
    ShowFileNotice(s, opened.error().outcome, opened.error().error);
    return false;
  }
  s.Work.File1 = std::move(*opened);
  return true;
}

// The file run: rename, transform every block with the percentage shown,
// sync; Esc or an error undoes it all. For a file with an interrupted run,
// the run is finished instead (Esc then stops it, to be finished later).
Next TransformOnScreen(AppState& s) {
  const Direction direction = s.Work.Target->Admitted.direction;
  s.Painter->DrawBox(0, StatusY, s.Layout.WorkAreaWidth, StatusY + s.Layout.WorkAreaHeight, 0, Black, Black);
  s.Mode = direction == Direction::Decrypt ? ScreenMode::Decrypting : ScreenMode::Encrypting;
  s.Painter->SetBackground(Black);
  s.Painter->PrintAt(LeftMargin, StatusY, Grey, Caption(s.Mode));
  s.Status.Offset = static_cast<std::uint8_t>(s.Painter->MeasureText(Caption(s.Mode)).width % 256);

  if (OpenKeyTarget(s)) {
    // A resumed run starts part-way: whatever the last run showed is stale.
    s.Work.ProgressShown = -1;
    const auto progress = [&](std::int64_t offset, std::int64_t last) {
      return ShowProgress(s, offset, last);
    };
    FileCalls calls;
    TransformSettings settings;
    // A strong decryption's check of every chunk, before anything changes,
    // shows its progress too, and Esc stops it with the file unchanged.
    settings.check_progress = progress;
    FileRun run(*s.Work.File1, calls, settings);
    const FileReport prepared = run.Prepare(s.Work.Target->Admitted, s.KeyEntry.TypedKey.View());
    // The run has made all it needs from the typed key.
    s.KeyEntry.TypedKey.Clear();
    // A start that looks like noise, or a key other than the decrypting
    // one, is the user's to judge; Esc is a cancel.
    bool cancelled = false;
    const bool looks_wrong = prepared.outcome == FileOutcome::KeyLooksWrong;
    const bool other_key = prepared.outcome == FileOutcome::OtherKeyThanDecryption;
    if (looks_wrong || other_key) {
      cancelled = AskUser(s, looks_wrong ? KeyLooksWrongQuestion(s) : OtherKeyQuestion(s)) == ProgressAnswer::Cancel;
    }
    const bool go = prepared.outcome == FileOutcome::Done || ((looks_wrong || other_key) && !cancelled);
    const FileReport report = go ? run.Go(progress) : prepared;
    s.Work.File1.reset();
    EndLongOperation(s);
    ClearStatusBand(s);
    if (!cancelled && report.outcome != FileOutcome::Done && report.outcome != FileOutcome::Cancelled) {
      ShowFileNotice(s, report.outcome, report.error);
    }
    if (report.outcome == FileOutcome::Done && report.restored) ShowAlert(s, "Former encryption restored");
  }
  ForgetKey(s);
  s.Work.Target.reset();
  // The Enter that confirmed the key is used up: after a refusal found
  // before the first block ("Name in use"), it would open key entry again.
  s.Input.PendingKey.clear();
  if (s.Work.EndAfterWork || s.Link->Alive.load() == 0) return Next::ProgramEnd;
  return Next::BrowseEntry;
}

// --- 3. Confirming ------------------------------------------------------------

// Enter on a non-empty key. A hidden key for an encryption is asked for
// again first, since a typo nobody could see would make the file
// unrecoverable; two typings that differ change nothing ("Keys differ").
// Nothing while the second typing is asked for.
std::optional<Next> ConfirmKey(AppState& s) {
  const bool typed_blind =
      s.KeyEntry.Hidden && s.Work.Target->Admitted.direction == Direction::Encrypt &&
      !s.Work.Target->Admitted.interrupted;
  if (typed_blind && !s.KeyEntry.AskingAgain) {
    s.KeyEntry.FirstTyping.TakeFrom(s.KeyEntry.TypedKey);
    s.KeyEntry.AskingAgain = true;
    DrawKeyPrompt(s, "Key again ");
    return std::nullopt;
  }
  s.Keyboard.Shown = false;
  ClearWorkArea(s);
  ClearPromptLine(s);
  s.KeyEntry.Cursor = 0;
  s.Status.PromptKeepWidth = 0;
  if (s.KeyEntry.AskingAgain && s.KeyEntry.TypedKey.View() != s.KeyEntry.FirstTyping.View()) {
    LeaveKeyEntry(s);
    s.Mode = ScreenMode::Scroll;
    ShowAlert(s, "Keys differ");
    s.Input.PendingKey.clear();
    return Next::BrowseEntry;
  }
  s.KeyEntry.FirstTyping.Clear();
  return TransformOnScreen(s);
}

}  // namespace

void EditKey(AppState& s, const std::string& pending_key) {
  const int length = static_cast<int>(s.KeyEntry.TypedKey.Size());
  if (pending_key.size() == 1) {
    const auto code = static_cast<unsigned char>(pending_key[0]);
    if (code >= 32 && code <= 126) {
      // A full key takes no more characters.
      if (s.KeyEntry.TypedKey.Insert(static_cast<size_t>(s.KeyEntry.Cursor), static_cast<char>(code)))
        ++s.KeyEntry.Cursor;
    } else if (code == key::Backspace && s.KeyEntry.Cursor > 0) {
      s.KeyEntry.TypedKey.Erase(static_cast<size_t>(s.KeyEntry.Cursor - 1));
      --s.KeyEntry.Cursor;
    }
    return;
  }
  if (!key::IsExtended(pending_key) || length == 0) return;
  switch (key::Last(pending_key)) {
    case scan::Del:
      if (s.KeyEntry.Cursor < length) s.KeyEntry.TypedKey.Erase(static_cast<size_t>(s.KeyEntry.Cursor));
      break;
    case scan::Left:
      if (s.KeyEntry.Cursor > 0) --s.KeyEntry.Cursor;
      break;
    case scan::Right:
      if (s.KeyEntry.Cursor < length) ++s.KeyEntry.Cursor;
      break;
    case scan::Home: s.KeyEntry.Cursor = 0; break;
    case scan::End: s.KeyEntry.Cursor = length; break;
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
    if (key::Is(s.Input.PendingKey, key::Escape)) {
      LeaveKeyEntry(s);
      ClearStatusBand(s);
      s.Mode = ScreenMode::Scroll;
      return Next::BrowseStep;
    }
    if (key::Is(s.Input.PendingKey, key::Enter) && !s.KeyEntry.TypedKey.Empty()) {
      if (const std::optional<Next> next = ConfirmKey(s)) return *next;
      continue;
    }
    if (key::Is(s.Input.PendingKey, key::Tab)) {
      ToggleFormat(s);
      continue;
    }
    EditKey(s, s.Input.PendingKey);
    RedrawKey(s);
  }
}

}  // namespace quorvant
