// The file run's steps: the new run's header and key check, the cipher and
// the engine, names, and the journal's end. See rewrite/file_run.h.

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string>
#include <vector>

#include "base/wipe.h"
#include "crypto/key_judge.h"
#include "rewrite/file_run.h"
#include "rewrite/run_mark.h"

namespace quorvant {

FileOutcome OutcomeOfRenameError(int error_code) {
  switch (error_code) {
    case EEXIST:
    case ENOTEMPTY: return FileOutcome::NameInUse;
    case ENAMETOOLONG: return FileOutcome::NameTooLong;
    case ENOENT: return FileOutcome::Vanished;
    default: return FileOutcome::RenameError;
  }
}

namespace {

// The longest name the folder's file system takes, never above NAME_MAX.
std::size_t LongestName(FileCalls& calls, int folder) {
  struct statvfs space {};
  if (calls.FolderSpace(folder, &space) != 0 || space.f_namemax == 0) return NAME_MAX;
  return std::min<std::size_t>(space.f_namemax, NAME_MAX);
}

}  // namespace

// The journal's run header of a new run, with both names; refused when the
// new name cannot be had. The key check is not in it yet.
FileResult<JournalRunHeader> Run::NewRunHeader(const Admission& admitted) {
  JournalRunHeader header;
  header.direction = admitted.direction;
  header.suffix = admitted.suffix;
  header.length = Length();
  header.block_length = file_.BlockLength();
  header.inode = static_cast<std::uint64_t>(file_.Inode());
  header.old_name = file_.Name();
  header.new_name = admitted.new_name;
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
    const FileResult<bool> judged = JudgeDecryptionKey(header, key_text, nullptr);
    if (!judged) return judged.error();
    looks_right = *judged;
    report_.key_unchecked = header.key_check.empty();
  }
  if (header.key_check.empty()) {
    const Result<KeyCheckValue> made = checker_.Make(key_text, header.suffix, Length());
    if (!made) return Failure{FileOutcome::NoMemory, made.error()};
    header.key_check.assign(made->begin(), made->end());
  }
  return looks_right;
}

// A classic decryption's key: against the file's key check, kept in the
// header when the key matches it (a wrong key stops here); where there is no
// check to trust (none, one for another suffix or length, one this program
// cannot read), the decrypted start is the only sign of the key: whether it
// looks right. `stored`, when given, gets the check's bytes, usable or not.
FileResult<bool> Run::JudgeDecryptionKey(JournalRunHeader& header, std::string_view key_text,
                                         std::vector<std::uint8_t>* stored) {
  Result<std::optional<std::vector<std::uint8_t>>> check = ReadKeyCheck(file_.Descriptor(), calls_);
  if (!check) return Failure{FileOutcome::ReadError, check.error()};
  if (*check) {
    header.had_key_check = true;
    if (stored != nullptr) *stored = **check;
    const Result<KeyCheckVerdict> verdict = checker_.Judge(key_text, header.suffix, Length(), **check);
    if (!verdict) return Failure{FileOutcome::NoMemory, verdict.error()};
    if (*verdict == KeyCheckVerdict::Mismatch) {
      return Failure{FileOutcome::WrongKey, Error{0, "the key is not the one " + file_.Name() + " was encrypted with"}};
    }
    if (*verdict == KeyCheckVerdict::Match) header.key_check = **check;
  }
  if (!header.key_check.empty()) return true;
  return StartLooksRight(key_text, header.suffix);
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
  WindowSettings settings{-1, 0, settings_.blocks_per_chunk, settings_.cipher_thread, &progress,
                          &settings_.sync_start};
  WindowCipher* cipher = nullptr;
  if (Strong()) {
    strong_.emplace(*strong_cipher_, Header().direction, file_, calls_);
    settings.data_length = DataLength();
    settings.block_length = MaxBlockLength;
    cipher = &*strong_;
    if (Header().converts_classic) {
      // The classic blocks of a file shorter than one are shorter than the
      // windows, which are whole strong chunks.
      const std::int32_t block = std::max<std::int32_t>(file_.BlockLength(), 1);
      classic_.emplace(start_words_, block, RoundUp(std::max<std::int64_t>(JournalWindowLength(Header()), 1), block));
      start_words_.Wipe();
      convert_.emplace(*classic_, *strong_);
      cipher = &*convert_;
    }
  } else {
    const std::int64_t window = JournalWindowLength(Header());
    classic_.emplace(start_words_, std::max<std::int32_t>(file_.BlockLength(), 1), std::max<std::int64_t>(window, 1));
    start_words_.Wipe();
    cipher = &*classic_;
    // A decryption's undo mark: its checksum taken as the windows go.
    if (undo_key_ && Header().direction == Direction::Decrypt) {
      hashing_.emplace(*classic_, *undo_key_, Header().suffix, Header().length);
      cipher = &*hashing_;
    }
  }
  engine_.emplace(file_, calls_, *journal_, *cipher, watch_, settings);
}

FileStatus Run::StoreKeyCheck() {
  if (Strong()) return {};  // its trailer is its key check
  return StoreCheck(Header().key_check);
}

FileStatus Run::StoreCheck(const std::vector<std::uint8_t>& value) {
  // Either version: a decryption's undo puts back the check the file had.
  if (value.size() != KeyCheckLength && value.size() != KeyCheckVersion1Length) return {};  // not one of ours
  const Result<KeyCheckStore> stored = WriteKeyCheck(file_.Descriptor(), value, calls_);
  if (!stored) return Failure{OutcomeOfWriteError(stored.error()), stored.error()};
  // fdatasync does not cover attributes.
  if (*stored == KeyCheckStore::Stored && calls_.Sync(file_.Descriptor()) != 0) {
    return Failure{FileOutcome::SyncError, Error::FromErrno("sync " + file_.Name())};
  }
  return {};
}

FileStatus Run::RemoveKeyCheckNow() {
  if (Strong() && !Header().converts_classic) return {};
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
  if (const std::optional<JournalRecord> torn = engine_ ? engine_->TornWindow() : std::nullopt) {
    report_.torn_from = torn->offset;
    report_.torn_length = torn->length;
  }
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
  if (zero_images) (void)journal_->ZeroImages(engine_->CutImageLength());
  if (Status removed = journal_->Remove(); !removed) {
    // The file is final; a resume finds nothing left to change and removes
    // it. The mark stays, so that the journal is found should it be there.
    if (!journal_->Gone()) report_.journal = journal_->Name();
    if (result.error.action.empty()) result.error = removed.error();
  } else {
    // The mark goes once the journal's removal is durable: the mark is how
    // the journal is found. One that cannot be cleared binds the file to a
    // journal that is gone, which nothing acts on unasked.
    (void)ClearRunMark(file_.Descriptor(), calls_);
  }
  return Finish(result.outcome, condition, std::move(result.error));
}

}  // namespace quorvant
