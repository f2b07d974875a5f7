// The file run: a new run, its undo and its end; resume; and the public
// functions. The run's state and its steps: rewrite/file_run.h. Index:
//   1. A new run, its undo and its end
//   2. Resume
//   3. The public functions

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <utility>

#include "base/verify.h"
#include "rewrite/admission.h"
#include "rewrite/file_run.h"
#include "rewrite/run_mark.h"

namespace quorvant {

// --- 1. A new run, its undo and its end --------------------------------------------

FileReport Run::Prepare(Direction direction, const EncryptedSuffix& suffix, std::string_view key_text) {
  return PrepareNewRun(AdmitTransform(file_, direction, suffix, calls_), key_text);
}

FileReport Run::PrepareNewRun(FileResult<Admission> admitted, std::string_view key_text) {
  if (!admitted) {
    // A file with an interrupted run is resumed, never started afresh.
    if (admitted.error().outcome != FileOutcome::Interrupted) return Refuse(admitted.error());
    if (const Result<std::optional<std::string>> found = FindJournalName(file_, calls_); found && *found) {
      report_.journal = **found;
    }
    return Finish(FileOutcome::Interrupted, FileCondition::Interrupted, std::move(admitted.error().error));
  }
  // A file a classic decryption marked gets its former encryption back,
  // unless the strong format was asked for by name.
  UndoChoice undo = UndoChoice::Ordinary;
  if (admitted->undo && !admitted->strong_asked && admitted->intent != FileIntent::Convert) {
    const FileResult<UndoChoice> weighed = WeighUndoMark(*admitted, key_text);
    if (!weighed) return Refuse(weighed.error());
    undo = *weighed;
  }
  FileResult<JournalRunHeader> header = NewRunHeader(*admitted);
  if (!header) return Refuse(header.error());
  format_ = FormatOfSuffix(admitted->suffix);
  if (Strong()) return PrepareStrong(std::move(*header), *admitted, undo, key_text);
  return PrepareClassic(std::move(*header), *admitted, undo, key_text);
}

FileReport Run::PrepareStrong(JournalRunHeader header, const Admission& admitted, UndoChoice undo,
                              std::string_view key_text) {
  bool looks_right = true;
  if (admitted.intent == FileIntent::Convert) {
    const FileResult<bool> classic = TakeClassicKey(header, key_text);
    if (!classic) return Refuse(classic.error());
    looks_right = *classic;
  }
  if (FileStatus key = TakeStrongKey(header, key_text); !key) return Refuse(key.error());
  header_ = std::move(header);
  return Ready(looks_right, undo);
}

FileReport Run::PrepareClassic(JournalRunHeader header, const Admission& admitted, UndoChoice undo,
                               std::string_view key_text) {
  // The former encryption's key check goes back with it.
  if (undo == UndoChoice::Restore) header.key_check.assign(admitted.undo->key_check.begin(), admitted.undo->key_check.end());
  const FileResult<bool> looks_right = TakeKeyCheck(header, key_text);
  if (!looks_right) return Refuse(looks_right.error());
  start_words_ = BuildKeyWords(key_text, admitted.suffix);
  header_ = std::move(header);
  if (Header().direction == Direction::Decrypt) {
    if (FileStatus marked = PrepareUndoMark(key_text); !marked) return Refuse(marked.error());
  }
  report_.restored = undo == UndoChoice::Restore;
  return Ready(*looks_right, undo);
}

FileReport Run::Ready(bool looks_right, UndoChoice undo) {
  prepared_ = Prepared::NewRun;
  asked_ = !looks_right || undo == UndoChoice::AskFirst;
  if (!looks_right) {
    return Finish(FileOutcome::KeyLooksWrong, FileCondition::AsBefore,
                  Error{0, "decrypted with this key, the start of " + file_.Name() + " looks like noise"});
  }
  if (undo == UndoChoice::AskFirst) {
    return Finish(FileOutcome::OtherKeyThanDecryption, FileCondition::AsBefore,
                  Error{0, "it was decrypted with another key"});
  }
  return Finish(FileOutcome::Done, FileCondition::AsBefore);
}

FileReport Run::Start() {
  if (asked_) {
    // Whoever answered the question may have taken a while: look at the file again.
    if (FileStatus ready = CheckReadyToChange(file_, calls_); !ready) return Refuse(ready.error());
  }
  JournalRunHeader& header = *header_;
  if (calls_.Random(header.run_id.data(), header.run_id.size()) != static_cast<ssize_t>(header.run_id.size())) {
    return Finish(FileOutcome::RandomError, FileCondition::AsBefore, Error::FromErrno("read random bytes"));
  }
  const Direction direction = header.direction;
  // The journal marks the file for the run before it takes its name.
  const JournalSlotNeeds needs = SlotNeeds();
  JournalResult made = CreateJournal(file_, std::move(header), settings_.largest_window, calls_, needs);
  header_.reset();
  if (!made) {
    const Failure& failure = made.error().failure;
    const bool interrupted = failure.outcome == FileOutcome::Interrupted;
    if (interrupted) report_.journal = made.error().name;
    return Finish(failure.outcome, interrupted ? FileCondition::Interrupted : FileCondition::AsBefore,
                  failure.error);
  }
  journal_.emplace(std::move(*made));
  SetUpWindows(*progress_);

  if (direction == Direction::Encrypt) {
    if (Strong()) {
      if (FileStatus grown = GrowTail(); !grown) {
        return engine_->JournalBroken() ? KeepJournal(grown.error()) : UndoAll(grown.error());
      }
    }
    // The salt is in the name, durably, before any byte is encrypted.
    if (RenameWithoutReplacing(calls_, file_.Folder(), Header().old_name.c_str(),
                               Header().new_name.c_str()) != 0) {
      const int code = errno;
      Failure failure{OutcomeOfRenameError(code), Error{code, "rename " + Header().old_name + " to " + Header().new_name}};
      // The strong format's tail is there already: it goes again.
      return Strong() ? UndoAll(std::move(failure)) : RemoveJournal(std::move(failure), FileCondition::AsBefore, false);
    }
    file_.SetName(Header().new_name);
    if (calls_.Sync(file_.Folder()) != 0)
      return UndoAll(Failure{FileOutcome::SyncError, Error::FromErrno("sync the folder")});
    if (FileStatus stored = StoreKeyCheck(); !stored) return UndoAll(stored.error());
  }
  if (FileStatus forward = engine_->Forward(); !forward) {
    return engine_->JournalBroken() ? KeepJournal(forward.error()) : UndoAll(forward.error());
  }
  return End(false);
}

// Takes the file back to how it was before the run, window by window from
// the boundary down; reports `cause` when it gets there.
FileReport Run::UndoAll(Failure cause) {
  const Direction direction = Header().direction;
  // A window whose write failed part-way is made whole first.
  if (FileStatus mended = engine_->MendTorn(); !mended) return KeepJournal(mended.error());
  // Undoing a decryption encrypts again: the tail goes back after the data,
  // the salt back into the name, and the key check back onto the file,
  // before any byte.
  if (direction == Direction::Decrypt) {
    if (Strong() && engine_->NewestIsCut()) {
      if (FileStatus back = engine_->UndoCut(); !back) return KeepJournal(back.error());
    }
    if (file_.Name() != Header().old_name) {
      if (FileStatus renamed = Rename(Header().old_name); !renamed) return KeepJournal(renamed.error());
    }
    if (Header().had_key_check) {
      if (FileStatus stored = StoreKeyCheck(); !stored) return KeepJournal(stored.error());
    }
  }
  if (FileStatus undone = engine_->Undo(); !undone) return KeepJournal(undone.error());
  if (direction == Direction::Encrypt) {
    if (Strong()) {
      if (FileStatus cut = CutTail(JournalPhase::Undo); !cut) return KeepJournal(cut.error());
    }
    // A converted file was classic: its key check goes back on, if it had one.
    const FileStatus check = Header().converts_classic ? StoreCheck(Header().classic_check) : RemoveKeyCheckNow();
    if (!check) return KeepJournal(check.error());
    if (file_.Name() != Header().old_name) {
      if (FileStatus renamed = Rename(Header().old_name); !renamed) {
        if (renamed.error().outcome != FileOutcome::NameInUse) return KeepJournal(renamed.error());
        // Every byte is plain again, under the encrypted name: the journal
        // stays, so that nothing takes it for encrypted and decrypts it.
        report_.journal = journal_->Name();
        return Finish(cause.outcome == FileOutcome::Done ? renamed.error().outcome : cause.outcome,
                      FileCondition::RestoredNameTaken, renamed.error().error);
      }
    }
  }
  // A decryption undone after its end had left its mark: the file is encrypted again.
  if (direction == Direction::Decrypt) DropUndoMark();
  watch_.LookAtTheEnd();
  return RemoveJournal(std::move(cause), FileCondition::AsBefore,
                       direction == Direction::Encrypt && engine_->PlainImage());
}

// After the last window: a decryption drops the key check and takes the
// plain name, durably, before the journal goes (the journal's removal must
// never reach the disk without the rename); then the journal goes.
FileReport Run::End(bool resumed) {
  // A new run goes back on any failure here; a resume waits for the user.
  const auto stop = [&](Failure failure) { return resumed ? KeepJournal(failure) : UndoAll(failure); };
  if (FileStatus ours = watch_.MayWrite(JournalPhase::Forward, Length()); !ours) return stop(ours.error());
  const bool decrypting = Header().direction == Direction::Decrypt;
  if (decrypting) {
    if (Strong()) {
      if (FileStatus cut = CutTail(JournalPhase::Forward); !cut) return stop(cut.error());
    }
    if (FileStatus removed = RemoveKeyCheckNow(); !removed) return stop(removed.error());
    if (file_.Name() != Header().new_name) {
      if (FileStatus renamed = Rename(Header().new_name); !renamed) {
        // The plain name was taken meanwhile. Renamed, but the folder not
        // synced: the journal stays, and a resume finds nothing left but to
        // remove it.
        if (file_.Name() == Header().new_name) return KeepJournal(renamed.error());
        return stop(renamed.error());
      }
    }
  }
  // A classic file's key check does not fit the strong file it became.
  if (Header().converts_classic) {
    if (FileStatus removed = RemoveKeyCheckNow(); !removed) return stop(removed.error());
  }
  if (decrypting) {
    LeaveUndoMark();
  } else {
    DropUndoMark();
  }
  return RemoveJournal(Failure{}, FileCondition::Transformed, decrypting && engine_->PlainImage());
}

// --- 2. Resume ----------------------------------------------------------------------

// Where renameat2 could not refuse a taken name the rename was a link, a
// folder sync and an unlink; a crash between them leaves the file under both
// names. It keeps the encrypted one, which is right whatever the boundary.
FileStatus Run::SettleDoubleName() {
  const std::string& plain = Header().direction == Direction::Encrypt ? Header().old_name : Header().new_name;
  const std::string& encrypted =
      Header().direction == Direction::Encrypt ? Header().new_name : Header().old_name;
  struct stat plain_status {
  }, encrypted_status{};
  if (calls_.StatAt(file_.Folder(), plain.c_str(), &plain_status, AT_SYMLINK_NOFOLLOW) != 0 ||
      calls_.StatAt(file_.Folder(), encrypted.c_str(), &encrypted_status, AT_SYMLINK_NOFOLLOW) != 0 ||
      plain_status.st_ino != encrypted_status.st_ino || plain_status.st_dev != encrypted_status.st_dev) {
    return {};
  }
  if (calls_.UnlinkAt(file_.Folder(), plain.c_str()) != 0)
    return Failure{FileOutcome::RenameError, Error::FromErrno("unlink " + plain)};
  file_.SetName(encrypted);
  if (calls_.Sync(file_.Folder()) != 0) return Failure{FileOutcome::SyncError, Error::FromErrno("sync the folder")};
  return {};
}

// A journal that is not the file's is never applied, and must not block the
// file either: it is renamed aside (it may hold another file's content, and
// stays for a person to look at), and the file has no interrupted run.
FileReport Run::SetAsideOrphan(Failure why) {
  const std::string aside = journal_->Name() + std::string(OrphanJournalSuffix);
  if (RenameWithoutReplacing(calls_, journal_->Folder(), journal_->Name().c_str(), aside.c_str()) != 0 ||
      calls_.Sync(journal_->Folder()) != 0) {
    return KeepJournal(Failure{FileOutcome::JournalDamaged, Error::FromErrno(why.error.action + "; set it aside")});
  }
  report_.journal = aside;
  return Finish(FileOutcome::NothingToResume, FileCondition::AsBefore,
                Error{0, why.error.action + "; set aside as " + aside});
}

FileReport Run::Prepare(const Admission& admitted, std::string_view key_text) {
  FileResult<Admission> again = AdmitAgain(file_, admitted, calls_);
  if (again && again->interrupted) return PrepareResume(key_text, ResumeMode::Finish);
  return PrepareNewRun(std::move(again), key_text);
}

FileReport Run::PrepareResume(std::string_view key_text, ResumeMode mode) {
  // Two names may be the run's own (see FileWatch::OnlyTheRunsNames).
  if (FileStatus ready = CheckReadyToChange(file_, calls_, 2); !ready) return Refuse(ready.error());
  JournalResult opened = OpenJournal(file_, calls_, settings_.journal);
  if (!opened) {
    const Failure& failure = opened.error().failure;
    const bool has_journal = failure.outcome != FileOutcome::NothingToResume &&
                             failure.outcome != FileOutcome::OpenError && failure.outcome != FileOutcome::NotAJournal;
    if (has_journal) report_.journal = opened.error().name;
    return Finish(failure.outcome, has_journal ? FileCondition::Interrupted : FileCondition::AsBefore,
                  failure.error);
  }
  journal_.emplace(std::move(*opened));
  if (FileStatus names = watch_.OnlyTheRunsNames(Header().old_name, Header().new_name); !names) {
    return KeepJournal(names.error());
  }

  const Result<RunMark> mark = ReadRunMark(file_.Descriptor(), calls_);
  if (!mark) return KeepJournal(Failure{FileOutcome::ReadError, mark.error()});
  if (Header().marks_file && mark->supported && mark->run != Header().run_id) {
    // Marked for another run: this journal is not its. Unmarked: the
    // journal is believed only if the file shows its last window whole.
    if (mark->run) {
      return SetAsideOrphan(
          Failure{FileOutcome::NothingToResume, Error{0, journal_->Name() + " is not this file's: the file is marked for another run"}});
    }
    unbound_ = true;
  }

  // The key first: a wrong one changes nothing at all.
  format_ = FormatOfSuffix(Header().suffix);
  if (Strong()) {
    if (FileStatus key = OpenStrongRun(key_text); !key) return KeepJournal(key.error());
    if (Header().converts_classic) start_words_ = BuildKeyWords(key_text, *SuffixOfName(Header().old_name));
    mode_ = mode;
    prepared_ = Prepared::Resume;
    return Finish(FileOutcome::Done, FileCondition::AsBefore);
  }
  const Result<KeyCheckVerdict> verdict =
      checker_.Judge(key_text, Header().suffix, Header().length, Header().key_check);
  if (!verdict) return KeepJournal(Failure{FileOutcome::NoMemory, verdict.error()});
  if (*verdict == KeyCheckVerdict::Mismatch) {
    return KeepJournal(Failure{FileOutcome::WrongKey, Error{0, "the key is not the one of the interrupted run"}});
  }
  if (*verdict != KeyCheckVerdict::Match) {
    return KeepJournal(
        Failure{FileOutcome::JournalDamaged, Error{0, journal_->Name() + " holds no usable key check"}});
  }
  start_words_ = BuildKeyWords(key_text, Header().suffix);
  if (Header().direction == Direction::Decrypt) {
    if (FileStatus marked = PrepareUndoMark(key_text); !marked) return KeepJournal(marked.error());
  }
  mode_ = mode;
  prepared_ = Prepared::Resume;
  return Finish(FileOutcome::Done, FileCondition::AsBefore);
}

FileReport Run::Resume() {
  SetUpWindows(*progress_);
  // The slot may hold plain text from before the crash.
  engine_->SetPlainImage();

  const FileResult<JournalPhase> phase = engine_->Recover(unbound_);
  if (!phase) {
    if (phase.error().outcome == FileOutcome::NothingToResume) return SetAsideOrphan(phase.error());
    report_.in_doubt = engine_->InDoubt();
    return KeepJournal(phase.error());
  }
  // A run the file showed whole: marked again before the run goes on.
  if (unbound_) {
    if (Status marked = WriteRunMark(file_.Descriptor(), Header().run_id, calls_); !marked) {
      return KeepJournal(Failure{OutcomeOfWriteError(marked.error()), marked.error()});
    }
  }
  if (FileStatus settled = SettleDoubleName(); !settled) return KeepJournal(settled.error());
  if (mode_ == ResumeMode::Undo || *phase == JournalPhase::Undo) return UndoAll(Failure{});
  if (Header().direction == Direction::Encrypt) {
    if (Strong()) {
      if (FileStatus grown = GrowTail(); !grown) return KeepJournal(grown.error());
    }
    if (file_.Name() != Header().new_name) {
      if (FileStatus renamed = Rename(Header().new_name); !renamed) return KeepJournal(renamed.error());
    }
    if (FileStatus stored = StoreKeyCheck(); !stored) return KeepJournal(stored.error());
  }
  if (FileStatus forward = engine_->Forward(); !forward) return KeepJournal(forward.error());
  return End(true);
}

// --- 3. The public functions ---------------------------------------------------------

FileReport Run::Go(const ProgressFunction& progress) {
  Verify(prepared_ != Prepared::No);
  progress_ = &progress;
  const Prepared prepared = std::exchange(prepared_, Prepared::No);
  return prepared == Prepared::NewRun ? Start() : Resume();
}

FileRun::FileRun(OpenedFile& file, FileCalls& calls, const TransformSettings& settings)
    : run_(std::make_unique<Run>(file, calls, settings)) {}
FileRun::~FileRun() = default;

FileReport FileRun::Prepare(Direction direction, const EncryptedSuffix& suffix, std::string_view key_text) {
  return run_->Prepare(direction, suffix, key_text);
}
FileReport FileRun::Prepare(const Admission& admitted, std::string_view key_text) {
  return run_->Prepare(admitted, key_text);
}
FileReport FileRun::PrepareResume(std::string_view key_text, ResumeMode mode) {
  return run_->PrepareResume(key_text, mode);
}
FileReport FileRun::Go(const ProgressFunction& progress) { return run_->Go(progress); }

FileReport TransformFile(OpenedFile& file, Direction direction, const EncryptedSuffix& suffix,
                         std::string_view key_text, const ProgressFunction& progress, FileCalls& calls,
                         const TransformSettings& settings) {
  FileRun run(file, calls, settings);
  const FileReport prepared = run.Prepare(direction, suffix, key_text);
  return prepared.outcome == FileOutcome::Done ? run.Go(progress) : prepared;
}

FileReport TransformFile(OpenedFile& file, Direction direction, const EncryptedSuffix& suffix,
                         std::string_view key_text, const ProgressFunction& progress,
                         const TransformSettings& settings) {
  FileCalls calls;
  return TransformFile(file, direction, suffix, key_text, progress, calls, settings);
}

FileResult<InterruptedRun> FindInterruptedRun(const OpenedFile& file, FileCalls& calls,
                                              const JournalPlace* place) {
  JournalResult opened = OpenJournal(file, calls, place);
  if (!opened) return opened.error().failure;
  const JournalRunHeader& header = opened->Header();
  return InterruptedRun{header.direction, header.suffix, header.old_name, header.new_name, opened->Name()};
}

FileReport ResumeFile(OpenedFile& file, std::string_view key_text, ResumeMode mode,
                      const ProgressFunction& progress, FileCalls& calls, const TransformSettings& settings) {
  FileRun run(file, calls, settings);
  const FileReport prepared = run.PrepareResume(key_text, mode);
  return prepared.outcome == FileOutcome::Done ? run.Go(progress) : prepared;
}

FileReport ResumeFile(OpenedFile& file, std::string_view key_text, ResumeMode mode,
                      const ProgressFunction& progress, const TransformSettings& settings) {
  FileCalls calls;
  return ResumeFile(file, key_text, mode, progress, calls, settings);
}

}  // namespace quorvant