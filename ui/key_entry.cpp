// Key entry and the file run it leads to. Index of this file:
//   1. Starting: look at the file, then let it go while the key is typed
//   2. The key field
//   3. Confirming: the hidden key typed twice
//   4. The run: the file opened again, the "Key looks wrong" question

#include "ui/key_entry.h"

#include <optional>
#include <string>
#include <string_view>

#include "crypto/encrypted_name.h"
#include "crypto/file_transform.h"
#include "ui/file_work.h"
#include "ui/fixed_tables.h"
#include "ui/input_wait.h"
#include "ui/panels.h"

namespace quorvant {

namespace {

// --- 1. Starting ------------------------------------------------------------

// What the run will be, from the file as it is now: a file with an
// interrupted run takes its run's direction and suffix, and the key finishes
// that run; otherwise the name says: a fresh suffix for a plain file, or the
// one in an encrypted file's name. A file that cannot be worked on gets its
// notice now, before any key is typed.
bool FindKeyTarget(AppState& s) {
  const OpenedFile& file = *s.File1;
  FileCalls calls;
  Direction direction = Direction::Encrypt;
  InterruptedRunAnswer interrupted = FindInterruptedRun(file, calls);
  if (interrupted.outcome == FileOutcome::Done) {
    s.Interrupted = std::move(interrupted.run);
    s.Suffix = s.Interrupted->suffix;
    direction = s.Interrupted->direction;
  } else if (interrupted.outcome != FileOutcome::NothingToResume) {
    ShowFileNotice(s, interrupted.outcome);
    return false;
  } else if (HasEncryptedSuffixShape(file.Name())) {
    const std::optional<EncryptedSuffix> suffix = SuffixOfName(file.Name());
    if (!suffix) {
      ShowFileNotice(s, FileOutcome::NameInvalid);
      return false;
    }
    s.Suffix = *suffix;
    direction = Direction::Decrypt;
  } else {
    s.Suffix = MakeEncryptedSuffix(*s.clock);
  }
  // Read only, a second name, ... An interrupted run may have left the file
  // under both of its names; the resume sorts that out.
  Error error;
  const FileOutcome ready = CheckReadyToChange(file, calls, error, s.Interrupted ? 2 : 1);
  if (ready != FileOutcome::Done) {
    s.Interrupted.reset();
    ShowFileNotice(s, ready);
    return false;
  }
  s.Target = KeyTarget{file.Name(), file.Device(), file.Inode(), file.Length(), direction};
  return true;
}

// The label at the start of the status band, the key field after it.
void DrawKeyPrompt(AppState& s, std::string_view label) {
  ClearStatusBand(s);
  s.painter->SetBackground(Black);
  std::string prompt(label);
  prompt += Spaces(300);
  s.painter->PrintAt(LeftMargin, StatusY, Grey, prompt);
  s.StatusOffset = static_cast<std::uint8_t>(s.painter->MeasureText(label).width % 256);
  s.PromptKeepWidth = s.StatusOffset;
  s.KeyCursor = 0;
  s.CaretX = LeftMargin + s.StatusOffset;
}

void ForgetKey(AppState& s) {
  s.TypedKey.Clear();
  s.FirstKey.Clear();
  s.AskingAgain = false;
  s.KeyCursor = 0;
}

// The file is opened to be looked at, and closed again before the key is
// typed: holding it would make another program's open wait (its lease
// break) for as long as the user types.
bool StartKeyEntry(AppState& s, bool& ended) {
  s.Interrupted.reset();
  s.Target.reset();
  if (!OpenSelectedFile(s, ended)) return false;
  const bool ready = FindKeyTarget(s);
  s.File1.reset();
  if (!ready) return false;

  ForgetKey(s);
  DrawKeyPrompt(s, "Key ");
  s.Mode = ScreenMode::Key;
  return true;
}

void LeaveKeyEntry(AppState& s) {
  ForgetKey(s);
  s.File1.reset();
  s.Target.reset();
  s.Interrupted.reset();
  s.PromptKeepWidth = 0;
}

// --- 2. The key field ---------------------------------------------------------

void RedrawKey(AppState& s) {
  Painter& p = *s.painter;
  p.SetBackground(Black);
  s.CaretX = LeftMargin + s.StatusOffset +
             p.MeasureText(s.TypedKey.View().substr(0, static_cast<size_t>(s.KeyCursor))).width;
  p.PrintAt(LeftMargin + s.StatusOffset, StatusY, KeyTextColours[StateIndex(s.KeyHidden)], s.TypedKey.View());
  p.PrintText(Spaces(8));
}

// --- 4. The run -----------------------------------------------------------------

// Asked when the key decrypts the start of a file without a key check to
// noise: in the alert form, but waiting for the answer. Enter (or the Key
// icon) goes on; Esc stops with nothing changed, and so does a closed window.
// Only an answer given after the alert's time counts: an Enter pressed twice
// or held down must not decrypt with a wrong key before the question was
// read. An Esc in that time stops at once.
ProgressAnswer AskKeyLooksWrong(AppState& s) {
  DrawAlert(s, "Key looks wrong");
  Pause(s, AlertMilliseconds);
  bool stopped = false;
  for (std::string early = s.platform->ReadKey(KeySite::Wait); !early.empty();
       early = s.platform->ReadKey(KeySite::Wait)) {
    stopped = stopped || key::Is(early, key::Escape);
  }
  s.link->ClearClick();
  ProgressAnswer answer = ProgressAnswer::Cancel;
  while (!stopped && s.link->Alive.load() != 0) {
    const std::string key = s.platform->ReadKey(KeySite::Wait);
    if (key::Is(key, key::Enter)) {
      answer = ProgressAnswer::Continue;
      break;
    }
    if (key::Is(key, key::Escape)) break;
    if (s.link->ClickKind.load() != 0) {
      const int hit = HitTestIconRow(s, s.link->ClickX.load(), s.link->ClickY.load());
      s.link->ClearClick();
      if (hit == icon::Key) {
        PressFeedback(s, hit);
        answer = ProgressAnswer::Continue;
        break;
      }
      continue;
    }
    s.platform->Wait(*s.clock, WaitRequest::Input(-1, -1));
  }
  ClearStatusBand(s);
  s.painter->SetBackground(Black);
  s.painter->PrintAt(LeftMargin, StatusY, Grey, Caption(s.Mode));
  return answer;
}

// The file the key was typed for, opened again now that it is to be worked
// on: refused (with its notice) when it cannot be had, or when its name now
// means another file ("File gone") or its length changed.
bool OpenKeyTarget(AppState& s) {
  OpenAttempt attempt = OpenFileInFolder(s.FolderFd, s.Target->name);
  FileOutcome outcome = attempt.outcome;
  if (outcome == FileOutcome::Done) {
    const OpenedFile& file = *attempt.file;
    if (file.Device() != s.Target->device || file.Inode() != s.Target->inode) {
      outcome = FileOutcome::Vanished;
    } else if (file.Length() != s.Target->length) {
      outcome = FileOutcome::ChangedElsewhere;
    }
  }
  if (outcome != FileOutcome::Done) {
    ShowFileNotice(s, outcome);
    return false;
  }
  s.File1 = std::move(attempt.file);
  return true;
}

// The file run: rename, transform every block with the percentage shown,
// sync; Esc or an error undoes it all. For a file with an interrupted run,
// the run is finished instead (Esc then stops it, to be finished later).
Next TransformOnScreen(AppState& s) {
  const Direction direction = s.Target->direction;
  s.painter->DrawBox(0, StatusY, s.W, StatusY + s.H, 0, Black, Black);
  s.Mode = direction == Direction::Decrypt ? ScreenMode::Decrypting : ScreenMode::Encrypting;
  s.painter->SetBackground(Black);
  s.painter->PrintAt(LeftMargin, StatusY, Grey, Caption(s.Mode));
  s.StatusOffset = static_cast<std::uint8_t>(s.painter->MeasureText(Caption(s.Mode)).width % 256);

  if (OpenKeyTarget(s)) {
    // A resumed run starts part-way: whatever the last run showed is stale.
    s.ProgressShown = -1;
    const auto progress = [&](std::int64_t offset, std::int64_t last) {
      return ShowProgress(s, offset, last);
    };
    TransformSettings settings;
    settings.key_looks_wrong = [&] { return AskKeyLooksWrong(s); };
    settings.key_text_done = [&] { s.TypedKey.Clear(); };
    const FileReport report =
        s.Interrupted ? ResumeFile(*s.File1, s.TypedKey.View(), ResumeMode::Finish, progress, settings)
                      : TransformFile(*s.File1, direction, s.Suffix, s.TypedKey.View(), progress, settings);
    s.File1.reset();
    ClearStatusBand(s);
    if (report.outcome != FileOutcome::Done && report.outcome != FileOutcome::Cancelled) {
      ShowFileNotice(s, report.outcome);
    }
  }
  ForgetKey(s);
  s.Interrupted.reset();
  s.Target.reset();
  // The Enter that confirmed the key is used up: after a refusal found
  // before the first block ("Name in use"), it would open key entry again.
  s.PendingKey.clear();
  if (s.EndAfterWork || s.link->Alive.load() == 0) return Next::ProgramEnd;
  return Next::BrowseEntry;
}

// --- 3. Confirming ------------------------------------------------------------

// Enter on a non-empty key. A hidden key for an encryption is asked for
// again first, since a typo nobody could see would make the file
// unrecoverable; two typings that differ change nothing ("Keys differ").
// Nothing while the second typing is asked for.
std::optional<Next> ConfirmKey(AppState& s) {
  const bool typed_blind = s.KeyHidden && s.Target->direction == Direction::Encrypt && !s.Interrupted;
  if (typed_blind && !s.AskingAgain) {
    s.FirstKey.TakeFrom(s.TypedKey);
    s.AskingAgain = true;
    DrawKeyPrompt(s, "Key again ");
    return std::nullopt;
  }
  s.KeyboardShown = false;
  ClearWorkArea(s);
  ClearPromptLine(s);
  s.KeyCursor = 0;
  s.PromptKeepWidth = 0;
  if (s.AskingAgain && s.TypedKey.View() != s.FirstKey.View()) {
    LeaveKeyEntry(s);
    s.Mode = ScreenMode::Scroll;
    ShowAlert(s, "Keys differ");
    s.PendingKey.clear();
    return Next::BrowseEntry;
  }
  s.FirstKey.Clear();
  return TransformOnScreen(s);
}

}  // namespace

void EditKey(AppState& s, const std::string& pending_key) {
  const int length = static_cast<int>(s.TypedKey.Size());
  if (pending_key.size() == 1) {
    const auto code = static_cast<unsigned char>(pending_key[0]);
    if (code >= 32 && code <= 126) {
      // A full key takes no more characters.
      if (s.TypedKey.Insert(static_cast<size_t>(s.KeyCursor), static_cast<char>(code))) ++s.KeyCursor;
    } else if (code == key::Backspace && s.KeyCursor > 0) {
      s.TypedKey.Erase(static_cast<size_t>(s.KeyCursor - 1));
      --s.KeyCursor;
    }
    return;
  }
  if (!key::IsExtended(pending_key) || length == 0) return;
  switch (key::Last(pending_key)) {
    case scan::Del:
      if (s.KeyCursor < length) s.TypedKey.Erase(static_cast<size_t>(s.KeyCursor));
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
      s.Mode = ScreenMode::Scroll;
      return Next::BrowseStep;
    }
    if (key::Is(s.PendingKey, key::Enter) && !s.TypedKey.Empty()) {
      if (const std::optional<Next> next = ConfirmKey(s)) return *next;
      continue;
    }
    EditKey(s, s.PendingKey);
    RedrawKey(s);
  }
}

}  // namespace quorvant
