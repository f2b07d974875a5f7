// The file run: whether a file may be changed, its names, its key check,
// the undo when it does not finish, and its ending; around the window engine
// (rewrite/window_engine.h), which changes the bytes, and the watch over
// other programs (rewrite/file_watch.h). Index of this file:
//   1. Helpers
//   2. The run
//   3. The run's steps: key check, names, the journal's end
//   4. A new run, its undo and its end
//   5. Resume
//   6. The public functions

#include "rewrite/file_transform.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <utility>
#include <string>
#include <vector>

#include "base/verify.h"
#include "base/wipe.h"
#include "crypto/encrypted_name.h"
#include "crypto/key_judge.h"
#include "rewrite/classic_windows.h"
#include "rewrite/file_watch.h"
#include "rewrite/journal_file.h"
#include "rewrite/run_mark.h"
#include "rewrite/window_engine.h"

namespace quorvant {

namespace {

// --- 1. Helpers --------------------------------------------------------------

FileOutcome OutcomeOfRenameError(int error_code) {
  switch (error_code) {
    case EEXIST:
    case ENOTEMPTY: return FileOutcome::NameInUse;
    case ENAMETOOLONG: return FileOutcome::NameTooLong;
    case ENOENT: return FileOutcome::Vanished;
    default: return FileOutcome::RenameError;
  }
}

// The longest name the folder's file system takes, never above NAME_MAX.
std::size_t LongestName(FileCalls& calls, int folder) {
  struct statvfs space {};
  if (calls.FolderSpace(folder, &space) != 0 || space.f_namemax == 0) return NAME_MAX;
  return std::min<std::size_t>(space.f_namemax, NAME_MAX);
}

}  // namespace

// --- 2. The run --------------------------------------------------------------

class Run {
 public:
  Run(OpenedFile& file, FileCalls& calls, const TransformSettings& settings)
      : file_(file),
        calls_(calls),
        settings_(settings),
        checker_(settings.key_checker != nullptr ? *settings.key_checker : default_checker_),
        watch_(file, calls) {
    report_.name = file.Name();
    report_.length = file.Length();
  }

  FileReport Prepare(Direction direction, const EncryptedSuffix& suffix, std::string_view key_text);
  FileReport PrepareResume(std::string_view key_text, ResumeMode mode);
  FileReport Go(const ProgressFunction& progress);

 private:
  const JournalRunHeader& Header() const { return journal_->Header(); }
  std::int64_t Length() const { return file_.Length(); }

  // Section 3.
  FileResult<JournalRunHeader> NewRunHeader(Direction direction, const EncryptedSuffix& suffix);
  FileResult<bool> TakeKeyCheck(JournalRunHeader& header, std::string_view key_text);
  FileResult<bool> StartLooksRight(std::string_view key_text, const EncryptedSuffix& suffix);
  void SetUpWindows(const ProgressFunction& progress);
  FileStatus StoreKeyCheck();
  FileStatus RemoveKeyCheckNow();
  FileStatus Rename(const std::string& to);
  FileReport Finish(FileOutcome outcome, FileCondition condition, Error error = {});
  FileReport Refuse(Failure failure) {
    return Finish(failure.outcome, FileCondition::AsBefore, std::move(failure.error));
  }
  FileReport KeepJournal(Failure failure);
  FileReport RemoveJournal(Failure result, FileCondition condition, bool zero_images);

  // Section 4.
  FileReport Start();
  FileReport UndoAll(Failure cause);
  FileReport End(bool resumed);

  // Section 5.
  FileReport Resume();
  FileStatus SettleDoubleName();
  FileReport SetAsideOrphan(Failure why);

  OpenedFile& file_;
  FileCalls& calls_;
  const TransformSettings& settings_;
  KeyChecker default_checker_;
  KeyChecker& checker_;
  FileWatch watch_;
  std::optional<JournalFile> journal_;
  std::optional<ClassicWindows> cipher_;
  std::optional<WindowEngine> engine_;
  FileReport report_;

  // What Prepare found, for Go.
  enum class Prepared { No, NewRun, Resume };
  Prepared prepared_ = Prepared::No;
  bool looked_wrong_ = false;     // a start that looked like noise: the file is looked at again
  std::optional<JournalRunHeader> header_;  // of a new run, until its journal is made
  ResumeMode mode_ = ResumeMode::Finish;
  KeyWords start_words_;  // the key words at offset 0; key material
  const ProgressFunction* progress_ = nullptr;  // Go's
  // A resumed run's file does not carry the run's mark (see Recover).
  bool unbound_ = false;
};

// --- 3. The run's steps ----------------------------------------------------------

// The journal's run header of a new run, with both names; refused when the
// new name cannot be had. The key check is not in it yet.
FileResult<JournalRunHeader> Run::NewRunHeader(Direction direction, const EncryptedSuffix& suffix) {
  JournalRunHeader header;
  header.direction = direction;
  header.suffix = suffix;
  header.length = Length();
  header.block_length = file_.BlockLength();
  header.inode = static_cast<std::uint64_t>(file_.Inode());
  header.old_name = file_.Name();
  if (direction == Direction::Encrypt) {
    header.new_name = EncryptedName(header.old_name, suffix);
  } else {
    const std::optional<std::string> plain_name = PlainName(header.old_name);
    if (!plain_name) {
      return Failure{FileOutcome::NameInvalid,
                     Error{EINVAL, header.old_name + " has no encrypted-name suffix to remove"}};
    }
    // The key words are made from this suffix: anything else is a mistake of the caller.
    Verify(SuffixOfName(header.old_name) == suffix);
    header.new_name = *plain_name;
  }
  if (header.new_name.size() > LongestName(calls_, file_.Folder())) {
    return Failure{FileOutcome::NameTooLong, Error{ENAMETOOLONG, "rename to " + header.new_name}};
  }
  struct stat existing {};
  if (calls_.StatAt(file_.Folder(), header.new_name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
    return Failure{FileOutcome::NameInUse, Error{EEXIST, "rename to " + header.new_name}};
  } else if (errno != ENOENT) {
    const int code = errno;
    return Failure{OutcomeOfRenameError(code), Error{code, "look at " + header.new_name}};
  }
  return header;
}

// The key check: made for an encryption; for a decryption, the file's own
// when the key matches it (a wrong key stops here), else a new one, so that
// a resume can always tell the run's key.
FileResult<bool> Run::TakeKeyCheck(JournalRunHeader& header, std::string_view key_text) {
  bool looks_right = true;
  if (header.direction == Direction::Decrypt) {
    Result<std::optional<std::vector<std::uint8_t>>> stored = ReadKeyCheck(file_.Descriptor(), calls_);
    if (!stored) return Failure{FileOutcome::ReadError, stored.error()};
    if (*stored) {
      header.had_key_check = true;
      const Result<KeyCheckVerdict> verdict = checker_.Judge(key_text, header.suffix, Length(), **stored);
      if (!verdict) return Failure{FileOutcome::NoMemory, verdict.error()};
      if (*verdict == KeyCheckVerdict::Mismatch) {
        return Failure{FileOutcome::WrongKey,
                       Error{0, "the key is not the one " + file_.Name() + " was encrypted with"}};
      }
      if (*verdict == KeyCheckVerdict::Match) header.key_check = **stored;
    }
    // No check to trust (none, one for another suffix or length, one this
    // program cannot read): the decrypted start is the only sign of the key.
    if (header.key_check.empty()) {
      const FileResult<bool> judged = StartLooksRight(key_text, header.suffix);
      if (!judged) return judged.error();
      looks_right = *judged;
    }
  }
  if (header.key_check.empty()) {
    const Result<KeyCheckValue> made = checker_.Make(key_text, header.suffix, Length());
    if (!made) return Failure{FileOutcome::NoMemory, made.error()};
    header.key_check.assign(made->begin(), made->end());
  }
  return looks_right;
}

// For a decryption without a usable key check: the first block as the key
// decrypts it, in memory, judged: whether it looks right. The copy of the
// key words and the decrypted bytes are wiped.
FileResult<bool> Run::StartLooksRight(std::string_view key_text, const EncryptedSuffix& suffix) {
  if (Length() == 0) return true;
  std::vector<std::uint8_t> start(static_cast<std::size_t>(file_.BlockLength()));
  if (Status read = ReadExactly(calls_, file_.Descriptor(), start, 0, file_.Name()); !read) {
    return Failure{FileOutcome::ReadError, read.error()};
  }
  KeyWords words = BuildKeyWords(key_text, suffix);
  TransformBlock(start, file_.BlockLength(), Direction::Decrypt, words);
  StartJudge judge;
  const StartVerdict verdict = judge.Judge(start).verdict;
  Wipe(start.data(), start.size());
  return verdict == StartVerdict::LooksRight;
}

// The cipher and the engine, once the journal is there.
void Run::SetUpWindows(const ProgressFunction& progress) {
  const std::int64_t window = JournalWindowLength(Header());
  cipher_.emplace(start_words_, std::max<std::int32_t>(file_.BlockLength(), 1), std::max<std::int64_t>(window, 1));
  start_words_.Wipe();
  engine_.emplace(file_, calls_, *journal_, *cipher_, watch_,
                  WindowSettings{settings_.blocks_per_chunk, settings_.cipher_thread, &progress,
                                 &settings_.sync_start});
}

FileStatus Run::StoreKeyCheck() {
  KeyCheckValue value{};
  if (Header().key_check.size() != value.size()) return {};  // a check this program did not make
  std::copy(Header().key_check.begin(), Header().key_check.end(), value.begin());
  const Result<KeyCheckStore> stored = WriteKeyCheck(file_.Descriptor(), value, calls_);
  if (!stored) return Failure{OutcomeOfWriteError(stored.error()), stored.error()};
  // fdatasync does not cover attributes.
  if (*stored == KeyCheckStore::Stored && calls_.Sync(file_.Descriptor()) != 0) {
    return Failure{FileOutcome::SyncError, Error::FromErrno("sync " + file_.Name())};
  }
  return {};
}

FileStatus Run::RemoveKeyCheckNow() {
  if (Status removed = RemoveKeyCheck(file_.Descriptor(), calls_); !removed) {
    return Failure{FileOutcome::WriteError, removed.error()};
  }
  if (calls_.Sync(file_.Descriptor()) != 0) {
    return Failure{FileOutcome::SyncError, Error::FromErrno("sync " + file_.Name())};
  }
  return {};
}

FileStatus Run::Rename(const std::string& to) {
  const std::string from = file_.Name();
  if (RenameWithoutReplacing(calls_, file_.Folder(), from.c_str(), to.c_str()) != 0) {
    const int code = errno;
    return Failure{OutcomeOfRenameError(code), Error{code, "rename " + from + " to " + to}};
  }
  file_.SetName(to);
  if (calls_.Sync(file_.Folder()) != 0) return Failure{FileOutcome::SyncError, Error::FromErrno("sync the folder")};
  return {};
}

FileReport Run::Finish(FileOutcome outcome, FileCondition condition, Error error) {
  if (condition == FileCondition::AsBefore && watch_.ChangedElsewhere())
    condition = FileCondition::UndoneChangedElsewhere;
  report_.outcome = outcome;
  report_.condition = condition;
  report_.name = file_.Name();
  report_.error = std::move(error);
  report_.done = engine_ ? engine_->Done() : 0;
  return report_;
}

// Stopped with the journal kept: the file is consistent at Done(), and a
// resume finishes or undoes the run.
FileReport Run::KeepJournal(Failure failure) {
  report_.journal = journal_->Name();
  return Finish(failure.outcome, FileCondition::Interrupted, std::move(failure.error));
}

// Ends the run with `result` (Done, or why the run was undone), the file in
// `condition`.
FileReport Run::RemoveJournal(Failure result, FileCondition condition, bool zero_images) {
  // Every name change of the file is durable before the journal's removal can
  // be: a failed rename may have left one that is not.
  if (calls_.Sync(file_.Folder()) != 0) {
    report_.journal = journal_->Name();
    if (result.error.action.empty()) result.error = Error::FromErrno("sync the folder");
    return Finish(result.outcome, condition, std::move(result.error));
  }
  // A plain image must not stay behind in the free space. Should the zeros
  // fail, the journal still goes: the file is final.
  if (zero_images) (void)journal_->ZeroImages();
  // The mark goes before the journal: a journal beside an unmarked file is
  // believed only where the file shows the run's last window whole. A mark
  // that cannot be cleared binds the file to a journal that is gone, which
  // nothing acts on.
  (void)ClearRunMark(file_.Descriptor(), calls_);
  if (Status removed = journal_->Remove(); !removed) {
    // The file is final; a resume finds nothing left to change and removes it.
    if (!journal_->Gone()) report_.journal = journal_->Name();
    if (result.error.action.empty()) result.error = removed.error();
  }
  return Finish(result.outcome, condition, std::move(result.error));
}

// --- 4. A new run, its undo and its end --------------------------------------------

FileReport Run::Prepare(Direction direction, const EncryptedSuffix& suffix, std::string_view key_text) {
  Error error;
  const FileOutcome ready = CheckReadyToChange(file_, calls_, error);
  if (ready != FileOutcome::Done) return Finish(ready, FileCondition::AsBefore, std::move(error));
  // A file with an interrupted run is resumed, never started afresh.
  const std::string journal_name = JournalName(file_.Inode());
  struct stat existing {};
  if (calls_.StatAt(file_.Folder(), journal_name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
    report_.journal = journal_name;
    return Finish(FileOutcome::Interrupted, FileCondition::Interrupted,
                  Error{0, "an earlier run on " + file_.Name() + " was cut short"});
  }
  FileResult<JournalRunHeader> header = NewRunHeader(direction, suffix);
  if (!header) return Refuse(header.error());
  const FileResult<bool> looks_right = TakeKeyCheck(*header, key_text);
  if (!looks_right) return Refuse(looks_right.error());
  start_words_ = BuildKeyWords(key_text, suffix);
  header_ = std::move(*header);
  prepared_ = Prepared::NewRun;
  looked_wrong_ = !*looks_right;
  if (looked_wrong_) {
    return Finish(FileOutcome::KeyLooksWrong, FileCondition::AsBefore,
                  Error{0, "decrypted with this key, the start of " + file_.Name() + " looks like noise"});
  }
  return Finish(FileOutcome::Done, FileCondition::AsBefore);
}

FileReport Run::Start() {
  if (looked_wrong_) {
    // Whoever answered the question may have taken a while: look at the file again.
    Error error;
    const FileOutcome ready = CheckReadyToChange(file_, calls_, error);
    if (ready != FileOutcome::Done) return Finish(ready, FileCondition::AsBefore, std::move(error));
  }
  JournalRunHeader& header = *header_;
  if (calls_.Random(header.run_id.data(), header.run_id.size()) != static_cast<ssize_t>(header.run_id.size())) {
    return Finish(FileOutcome::RandomError, FileCondition::AsBefore, Error::FromErrno("read random bytes"));
  }
  const Direction direction = header.direction;
  const std::string journal_name = JournalName(file_.Inode());
  JournalAttempt attempt = CreateJournal(file_, std::move(header), settings_.largest_window, calls_);
  header_.reset();
  if (attempt.outcome != FileOutcome::Done) {
    if (attempt.outcome == FileOutcome::Interrupted) report_.journal = journal_name;
    return Finish(
        attempt.outcome,
        attempt.outcome == FileOutcome::Interrupted ? FileCondition::Interrupted : FileCondition::AsBefore,
        std::move(attempt.error));
  }
  journal_.emplace(std::move(*attempt.journal));
  SetUpWindows(*progress_);
  // The file is bound to this run before anything of it changes.
  if (Status marked = WriteRunMark(file_.Descriptor(), Header().run_id, calls_); !marked) {
    return RemoveJournal(Failure{OutcomeOfWriteError(marked.error()), marked.error()}, FileCondition::AsBefore,
                         false);
  }

  if (direction == Direction::Encrypt) {
    // The salt is in the name, durably, before any byte is encrypted.
    if (RenameWithoutReplacing(calls_, file_.Folder(), Header().old_name.c_str(),
                               Header().new_name.c_str()) != 0) {
      const int code = errno;
      return RemoveJournal(
          Failure{OutcomeOfRenameError(code), Error{code, "rename " + Header().old_name + " to " + Header().new_name}},
          FileCondition::AsBefore, false);
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
  // Undoing a decryption encrypts again: the salt goes back into the name,
  // and the key check back onto the file, before any byte.
  if (direction == Direction::Decrypt) {
    if (file_.Name() != Header().old_name) {
      if (FileStatus renamed = Rename(Header().old_name); !renamed) return KeepJournal(renamed.error());
    }
    if (Header().had_key_check) {
      if (FileStatus stored = StoreKeyCheck(); !stored) return KeepJournal(stored.error());
    }
  }
  if (FileStatus undone = engine_->Undo(); !undone) return KeepJournal(undone.error());
  if (direction == Direction::Encrypt) {
    if (FileStatus removed = RemoveKeyCheckNow(); !removed) return KeepJournal(removed.error());
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
  return RemoveJournal(Failure{}, FileCondition::Transformed, decrypting && engine_->PlainImage());
}

// --- 5. Resume ----------------------------------------------------------------------

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
  if (RenameWithoutReplacing(calls_, file_.Folder(), journal_->Name().c_str(), aside.c_str()) != 0 ||
      calls_.Sync(file_.Folder()) != 0) {
    return KeepJournal(Failure{FileOutcome::JournalDamaged, Error::FromErrno(why.error.action + "; set it aside")});
  }
  report_.journal = aside;
  return Finish(FileOutcome::NothingToResume, FileCondition::AsBefore,
                Error{0, why.error.action + "; set aside as " + aside});
}

FileReport Run::PrepareResume(std::string_view key_text, ResumeMode mode) {
  Error error;
  // Two names may be the run's own (see FileWatch::OnlyTheRunsNames).
  const FileOutcome ready = CheckReadyToChange(file_, calls_, error, 2);
  if (ready != FileOutcome::Done) return Finish(ready, FileCondition::AsBefore, std::move(error));
  JournalAttempt attempt = OpenJournal(file_, calls_);
  if (attempt.outcome != FileOutcome::Done) {
    const bool has_journal =
        attempt.outcome != FileOutcome::NothingToResume && attempt.outcome != FileOutcome::OpenError;
    if (has_journal) report_.journal = JournalName(file_.Inode());
    return Finish(attempt.outcome, has_journal ? FileCondition::Interrupted : FileCondition::AsBefore,
                  std::move(attempt.error));
  }
  journal_.emplace(std::move(*attempt.journal));
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
    if (file_.Name() != Header().new_name) {
      if (FileStatus renamed = Rename(Header().new_name); !renamed) return KeepJournal(renamed.error());
    }
    if (FileStatus stored = StoreKeyCheck(); !stored) return KeepJournal(stored.error());
  }
  if (FileStatus forward = engine_->Forward(); !forward) return KeepJournal(forward.error());
  return End(true);
}

// --- 6. The public functions ---------------------------------------------------------

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

InterruptedRunAnswer FindInterruptedRun(const OpenedFile& file, FileCalls& calls) {
  InterruptedRunAnswer answer;
  JournalAttempt attempt = OpenJournal(file, calls);
  answer.outcome = attempt.outcome;
  answer.error = std::move(attempt.error);
  if (attempt.outcome != FileOutcome::Done) return answer;
  const JournalRunHeader& header = attempt.journal->Header();
  answer.run = InterruptedRun{header.direction, header.suffix, header.old_name, header.new_name,
                              attempt.journal->Name()};
  return answer;
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
