// The journaled file run. Index of this file:
//   1. Helpers: names, outcomes
//   2. The run: its state and invariants
//   3. Windows: the one way a byte of the file changes
//   4. The run's steps: key check, names, journal removal
//   4b. Wrong keys without a check, and other programs
//   5. A new run, its undo, and the end of a run
//   6. Resume
//   7. The public functions

#include "rewrite/file_transform.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <map>
#include <string>
#include <vector>

#include "base/verify.h"
#include "base/wipe.h"
#include "rewrite/chunk_pipeline.h"
#include "crypto/encrypted_name.h"
#include "rewrite/journal_file.h"
#include "crypto/key_judge.h"

namespace quorvant {

namespace {

// --- 1. Helpers --------------------------------------------------------------

Direction Opposite(Direction direction) {
  return direction == Direction::Encrypt ? Direction::Decrypt : Direction::Encrypt;
}

std::int64_t RoundUp(std::int64_t value, std::int64_t unit) { return (value + unit - 1) / unit * unit; }

// While a window is written, the system is asked every this many bytes to
// start writing them to the disk, so that the disk works while the cipher
// does and the sync at the window's end has less left to wait for.
constexpr std::int64_t WritebackStep = std::int64_t{8} << 20;

FileOutcome OutcomeOfRenameError(int error_code) {
  switch (error_code) {
    case EEXIST:
    case ENOTEMPTY: return FileOutcome::NameInUse;
    case ENAMETOOLONG: return FileOutcome::NameTooLong;
    case ENOENT: return FileOutcome::Vanished;
    default: return FileOutcome::RenameError;
  }
}

FileOutcome OutcomeOfWriteError(const Error& error) {
  return error.code == ENOSPC || error.code == EDQUOT ? FileOutcome::NoSpace : FileOutcome::WriteError;
}

// The longest name the folder's file system takes, never above NAME_MAX.
std::size_t LongestName(FileCalls& calls, int folder) {
  struct statvfs space {};
  if (calls.FolderSpace(folder, &space) != 0 || space.f_namemax == 0) return NAME_MAX;
  return std::min<std::size_t>(space.f_namemax, NAME_MAX);
}

// --- 2. The run --------------------------------------------------------------
//
// The state of a run is one number, `done_`: bytes [0, done_) are in the
// run's target form (ciphertext for an encryption), the rest in its source
// form. Going forward raises it window by window; the undo lowers it, from
// the end backwards. At most one window is torn at any moment: the newest
// record's, whose image is then durable in the journal.
//
// Each window (section 3) goes: image into the slot, sync the journal;
// record page, sync the journal; image in place, sync the file. Hence:
//  - the slot is overwritten only once the newest record's window is durable
//    in place (so a newest record whose image no longer matches the slot has
//    a whole window);
//  - a record is written only after its image is durable, and a window only
//    after its record is durable;
//  - a record page whose write or sync failed is blanked durably before the
//    slot is used again (it may have reached the disk all the same).
// The recovery rule of a resume follows: take the newest whole record; if
// the slot holds its image, write the image over its window again; either
// way the run stands at its done_after. No record: nothing was changed.

struct Failure {
  FileOutcome outcome = FileOutcome::Done;
  Error error;
};

class Run {
 public:
  Run(OpenedFile& file, FileCalls& calls, const TransformSettings& settings, const ProgressFunction& progress)
      : file_(file),
        calls_(calls),
        progress_(progress),
        checker_(settings.key_checker != nullptr ? *settings.key_checker : default_checker_),
        largest_window_(settings.largest_window),
        blocks_per_chunk_(settings.blocks_per_chunk),
        cipher_thread_(settings.cipher_thread),
        sync_start_(settings.sync_start),
        key_looks_wrong_(settings.key_looks_wrong),
        key_text_done_(settings.key_text_done) {
    report_.name = file.Name();
    report_.length = file.Length();
  }

  FileReport Start(Direction direction, const EncryptedSuffix& suffix, std::string_view key_text);
  FileReport Resume(std::string_view key_text, ResumeMode mode);

 private:
  enum class Step { Done, Cancelled, Failed, JournalBroken };

  const JournalRunHeader& Header() const { return journal_->Header(); }
  std::int64_t Length() const { return file_.Length(); }
  std::int32_t BlockLength() const { return file_.BlockLength(); }
  std::int64_t ChunkLength() const { return blocks_per_chunk_ * BlockLength(); }
  std::span<std::uint8_t> Chunk(std::int64_t size) {
    return pipeline_->Buffer(static_cast<std::size_t>(size));
  }

  // Section 3.
  void SetUpWindows(std::string_view key_text, const EncryptedSuffix& suffix);
  KeyWords WordsAt(std::int64_t offset);
  Step Window(JournalPhase phase, std::int64_t start, std::int64_t end);
  bool Apply(const JournalRecord& record);
  Step ForwardWindows();
  Step UndoWindows();
  Result<bool> ImageMatches(const JournalRecord& record);
  Result<bool> InPlaceMatches(const JournalRecord& record);
  Result<bool> Matches(const JournalRecord& record, bool in_place);

  // Section 4.
  bool Fail(FileOutcome outcome, Error error);
  bool StoreKeyCheck();
  bool RemoveKeyCheckNow();
  bool Rename(const std::string& to);
  FileReport Finish(FileOutcome outcome, FileCondition condition, Error error = {});
  FileReport KeepJournal();
  FileReport RemoveJournal(FileOutcome outcome, FileCondition condition, Error error, bool zero_images);

  // Section 4b.
  bool StartLooksRight(std::string_view key_text, const EncryptedSuffix& suffix);
  bool FileStillOurs(JournalPhase phase, std::int64_t end);
  bool OnlyTheRunsNames();

  // Section 5.
  FileReport UndoAll(FileOutcome outcome, Error error);
  FileReport End(bool resumed);

  // Section 6.
  bool Recover(JournalPhase& phase);
  bool SettleDoubleName();

  OpenedFile& file_;
  FileCalls& calls_;
  const ProgressFunction& progress_;
  KeyChecker default_checker_;
  KeyChecker& checker_;
  const std::int64_t largest_window_;
  const std::int64_t blocks_per_chunk_;
  const CipherThread cipher_thread_;
  const SyncStartFunction& sync_start_;
  const std::function<ProgressAnswer()>& key_looks_wrong_;
  const std::function<void()>& key_text_done_;

  std::optional<JournalFile> journal_;
  std::int64_t window_ = 0;
  std::int64_t done_ = 0;
  // The words at offset done_ while going forward, and the words at some
  // window starts (at least at 0), for the undo. Key material: wiped as they end.
  KeyWords words_;
  std::map<std::int64_t, KeyWords> checkpoints_;
  std::uint64_t last_sequence_ = 0;  // of the newest durable record; 0 for none
  std::optional<JournalRecord> newest_;
  bool torn_ = false;         // the newest record's window may be only partly written in place
  bool plain_image_ = false;  // the slot may hold plain text
  // The chunk buffers (which hold the file's data, and are wiped) and the cipher's thread.
  std::optional<ChunkPipeline> pipeline_;
  Failure failure_;  // the last failure
  // Another program may have changed the file during the run: an undone run
  // is then not "as before".
  bool changed_elsewhere_ = false;
  FileReport report_;
};

// --- 3. Windows ----------------------------------------------------------------

void Run::SetUpWindows(std::string_view key_text, const EncryptedSuffix& suffix) {
  window_ = JournalWindowLength(Header());
  checkpoints_[0] = BuildKeyWords(key_text, suffix);
  if (Length() > 0) {
    pipeline_.emplace(static_cast<std::size_t>(std::min({ChunkLength(), window_, Length()})), cipher_thread_);
  }
}

KeyWords Run::WordsAt(std::int64_t offset) {
  auto nearest = std::prev(checkpoints_.upper_bound(offset));
  KeyWords words = nearest->second;
  if (offset > nearest->first) SkipBlocks(words, BlockLength(), (offset - nearest->first) / BlockLength());
  return words;
}

Run::Step Run::Window(JournalPhase phase, std::int64_t start, std::int64_t end) {
  const bool forward = phase == JournalPhase::Forward;
  const Direction direction = forward ? Header().direction : Opposite(Header().direction);
  const std::int32_t block_length = BlockLength();
  if (forward) checkpoints_.try_emplace(start, words_);
  KeyWords words = forward ? words_ : WordsAt(start);

  // The window's new bytes, into the slot, chunk by chunk
  // (rewrite/chunk_pipeline.h): with two cores, the cipher turns one chunk on
  // a thread of its own while this thread reads the next. The journal's
  // rules see no difference. Every call that reaches the disk is made on
  // this thread, in the order one thread gives; each block is asked for
  // (forward only) before it is transformed; and a cancel or a failure in
  // this loop comes before the window's record, with the window untouched
  // in place, so the undo starts from the last durable record as before.
  class SlotSteps final : public ChunkSteps {
   public:
    SlotSteps(Run& run, bool forward, std::int64_t start) : run_(run), forward_(forward), start_(start) {}
    Status Read(std::int64_t at, std::span<std::uint8_t> chunk) override {
      return ReadExactly(run_.calls_, run_.file_.Descriptor(), chunk, at, run_.file_.Name());
    }
    ProgressAnswer Ask(std::int64_t at) override {
      if (!forward_ || !run_.progress_) return ProgressAnswer::Continue;
      return run_.progress_(at, run_.Length() - 1);
    }
    Status Write(std::int64_t at, std::span<const std::uint8_t> chunk) override {
      if (Status written = run_.journal_->WriteImage(chunk, at - start_); !written) return written;
      const std::int64_t written_end = at + static_cast<std::int64_t>(chunk.size());
      if (written_end - hinted_ >= WritebackStep) {
        run_.journal_->StartImageWriteback(hinted_ - start_, written_end - hinted_);
        hinted_ = written_end;
      }
      return {};
    }

   private:
    Run& run_;
    const bool forward_;
    const std::int64_t start_;
    std::int64_t hinted_ = start_;  // where the last writeback hint ended
  } steps(*this, forward, start);
  ImageHash hash;
  plain_image_ = plain_image_ || direction == Direction::Decrypt;
  const ChunkLoopResult loop =
      pipeline_->Run(start, end, ChunkLength(), block_length, direction, words, hash, steps);
  switch (loop.end) {
    case ChunkLoopEnd::Done: break;
    // The blocks changed so far are only in memory and in the slot.
    case ChunkLoopEnd::Cancelled: return Step::Cancelled;
    case ChunkLoopEnd::ReadFailed: Fail(FileOutcome::ReadError, loop.error); return Step::Failed;
    case ChunkLoopEnd::WriteFailed: Fail(OutcomeOfWriteError(loop.error), loop.error); return Step::Failed;
  }
  if (forward && end == Length() && sync_start_) sync_start_();
  if (Status synced = journal_->Sync(); !synced) {
    Fail(FileOutcome::SyncError, synced.error());
    return Step::Failed;
  }

  if (!FileStillOurs(phase, end)) return Step::Failed;  // nothing of the window is in place yet

  // Its record, which vouches for the image.
  JournalRecord record;
  record.sequence = last_sequence_ + 1;
  record.phase = phase;
  record.offset = start;
  record.length = end - start;
  record.done_after = forward ? end : start;
  record.image_hash = hash.Finish();
  Status recorded = journal_->WriteRecord(record);
  if (!recorded) {
    Fail(OutcomeOfWriteError(recorded.error()), recorded.error());
  } else if (recorded = journal_->Sync(); !recorded) {
    Fail(FileOutcome::SyncError, recorded.error());
  }
  if (!recorded) {
    // The page may have reached the disk all the same: were the slot used
    // again, a resume would take this window for done. Blank it, or stop.
    if (!journal_->BlankRecord(record.sequence) || !journal_->Sync()) return Step::JournalBroken;
    return Step::Failed;
  }
  last_sequence_ = record.sequence;
  newest_ = record;

  // Then the file.
  torn_ = true;
  if (!Apply(record)) return Step::Failed;
  torn_ = false;
  done_ = record.done_after;
  if (forward) words_ = words;
  return Step::Done;
}

bool Run::Apply(const JournalRecord& record) {
  std::int64_t hinted = 0;
  for (std::int64_t at = 0; at < record.length; at += ChunkLength()) {
    const std::span<std::uint8_t> chunk = Chunk(std::min(ChunkLength(), record.length - at));
    if (Status read = journal_->ReadImage(chunk, at); !read)
      return Fail(FileOutcome::ReadError, read.error());
    if (Status written = WriteExactly(calls_, file_.Descriptor(), chunk, record.offset + at, file_.Name());
        !written) {
      return Fail(OutcomeOfWriteError(written.error()), written.error());
    }
    const std::int64_t written_end = at + static_cast<std::int64_t>(chunk.size());
    if (written_end - hinted >= WritebackStep) {
      calls_.StartWriteback(file_.Descriptor(), record.offset + hinted, written_end - hinted);
      hinted = written_end;
    }
  }
  if (calls_.SyncData(file_.Descriptor()) != 0) {
    return Fail(FileOutcome::SyncError, Error::FromErrno("sync " + file_.Name()));
  }
  return true;
}

Run::Step Run::ForwardWindows() {
  words_ = WordsAt(done_);
  while (done_ < Length()) {
    if (!FileStillOurs(JournalPhase::Forward, done_)) return Step::Failed;
    const Step step = Window(JournalPhase::Forward, done_, std::min(Length(), done_ + window_));
    if (step != Step::Done) return step;
  }
  return Step::Done;
}

Run::Step Run::UndoWindows() {
  // Checkpoints one window apart up to the boundary, so that no window of the
  // undo skips more than one window's words.
  for (std::int64_t at = checkpoints_.rbegin()->first + window_; at < done_; at += window_) {
    checkpoints_.try_emplace(at, WordsAt(at));
  }
  while (done_ > 0) {
    if (!FileStillOurs(JournalPhase::Undo, done_)) return Step::Failed;
    const std::int64_t start = std::max<std::int64_t>(0, RoundUp(done_, BlockLength()) - window_);
    const Step step = Window(JournalPhase::Undo, start, done_);
    if (step != Step::Done) return step;
  }
  return Step::Done;
}

Result<bool> Run::ImageMatches(const JournalRecord& record) { return Matches(record, false); }

// Whether the file holds the record's new bytes in its window already.
Result<bool> Run::InPlaceMatches(const JournalRecord& record) { return Matches(record, true); }

Result<bool> Run::Matches(const JournalRecord& record, bool in_place) {
  ImageHash hash;
  for (std::int64_t at = 0; at < record.length; at += ChunkLength()) {
    const std::span<std::uint8_t> chunk = Chunk(std::min(ChunkLength(), record.length - at));
    const Status read = in_place
                            ? ReadExactly(calls_, file_.Descriptor(), chunk, record.offset + at, file_.Name())
                            : journal_->ReadImage(chunk, at);
    if (!read) {
      // A slot or a file cut short does not hold the bytes; a failed read says nothing.
      if (read.error().code != 0) return read.error();
      return false;
    }
    hash.Add(chunk);
  }
  return hash.Finish() == record.image_hash;
}

// --- 4. The run's steps ---------------------------------------------------------

bool Run::Fail(FileOutcome outcome, Error error) {
  failure_ = Failure{outcome, std::move(error)};
  return false;
}

bool Run::StoreKeyCheck() {
  KeyCheckValue value{};
  if (Header().key_check.size() != value.size()) return true;  // a check this program did not make
  std::copy(Header().key_check.begin(), Header().key_check.end(), value.begin());
  const Result<KeyCheckStore> stored = WriteKeyCheck(file_.Descriptor(), value, calls_);
  if (!stored) return Fail(OutcomeOfWriteError(stored.error()), stored.error());
  // fdatasync does not cover attributes.
  if (*stored == KeyCheckStore::Stored && calls_.Sync(file_.Descriptor()) != 0) {
    return Fail(FileOutcome::SyncError, Error::FromErrno("sync " + file_.Name()));
  }
  return true;
}

bool Run::RemoveKeyCheckNow() {
  if (Status removed = RemoveKeyCheck(file_.Descriptor(), calls_); !removed) {
    return Fail(FileOutcome::WriteError, removed.error());
  }
  if (calls_.Sync(file_.Descriptor()) != 0)
    return Fail(FileOutcome::SyncError, Error::FromErrno("sync " + file_.Name()));
  return true;
}

bool Run::Rename(const std::string& to) {
  const std::string from = file_.Name();
  if (RenameWithoutReplacing(calls_, file_.Folder(), from.c_str(), to.c_str()) != 0) {
    const int code = errno;
    return Fail(OutcomeOfRenameError(code), Error{code, "rename " + from + " to " + to});
  }
  file_.SetName(to);
  if (calls_.Sync(file_.Folder()) != 0)
    return Fail(FileOutcome::SyncError, Error::FromErrno("sync the folder"));
  return true;
}

FileReport Run::Finish(FileOutcome outcome, FileCondition condition, Error error) {
  if (condition == FileCondition::AsBefore && changed_elsewhere_)
    condition = FileCondition::UndoneChangedElsewhere;
  report_.outcome = outcome;
  report_.condition = condition;
  report_.name = file_.Name();
  report_.error = std::move(error);
  report_.done = done_;
  return report_;
}

// Stopped with the journal kept: the file is consistent at done_, and a
// resume finishes or undoes the run.
FileReport Run::KeepJournal() {
  report_.journal = journal_->Name();
  return Finish(failure_.outcome, FileCondition::Interrupted, failure_.error);
}

FileReport Run::RemoveJournal(FileOutcome outcome, FileCondition condition, Error error, bool zero_images) {
  // Every name change of the file is durable before the journal's removal can
  // be: a failed rename may have left one that is not.
  if (calls_.Sync(file_.Folder()) != 0) {
    report_.journal = journal_->Name();
    if (error.action.empty()) error = Error::FromErrno("sync the folder");
    return Finish(outcome, condition, std::move(error));
  }
  // A plain image must not stay behind in the free space. Should the zeros
  // fail, the journal still goes: the file is final.
  if (zero_images) (void)journal_->ZeroImages();
  if (Status removed = journal_->Remove(); !removed) {
    // The file is final; a resume finds nothing left to change and removes it.
    if (!journal_->Gone()) report_.journal = journal_->Name();
    if (error.action.empty()) error = removed.error();
  }
  return Finish(outcome, condition, std::move(error));
}

// --- 4b. Wrong keys without a check, and other programs ----------------------------

// For a decryption without a usable key check: the first block as the key
// decrypts it, in memory, judged. A start that looks like noise is asked
// about, or refused. The copy of the key words and the decrypted bytes are
// wiped.
bool Run::StartLooksRight(std::string_view key_text, const EncryptedSuffix& suffix) {
  if (Length() == 0) return true;
  std::vector<std::uint8_t> start(static_cast<std::size_t>(BlockLength()));
  if (Status read = ReadExactly(calls_, file_.Descriptor(), start, 0, file_.Name()); !read) {
    return Fail(FileOutcome::ReadError, read.error());
  }
  KeyWords words = BuildKeyWords(key_text, suffix);
  TransformBlock(start, BlockLength(), Direction::Decrypt, words);
  StartJudge judge;
  const StartVerdict verdict = judge.Judge(start).verdict;
  Wipe(start.data(), start.size());
  if (verdict == StartVerdict::LooksRight) return true;
  if (!key_looks_wrong_) {
    return Fail(FileOutcome::KeyLooksWrong,
                Error{0, "decrypted with this key, the start of " + file_.Name() + " looks like noise"});
  }
  if (key_looks_wrong_() == ProgressAnswer::Cancel) return Fail(FileOutcome::Cancelled, Error{});
  // Whoever answered may have taken a while: look at the file again.
  Error error;
  const FileOutcome ready = CheckReadyToChange(file_, calls_, error);
  if (ready != FileOutcome::Done) return Fail(ready, std::move(error));
  return true;
}

// Called before each window, before a window's record (the last moment at
// which nothing of it is in place), and before the run's last step. Going
// forward, the file must still be the run's alone. An undo only needs the
// file to reach `end`, the end of what it writes next: it must never write
// past the file's end. (A file that grew keeps what another program added;
// one cut short above `end` loses only what that program cut.)
bool Run::FileStillOurs(JournalPhase phase, std::int64_t end) {
  struct stat status {};
  if (calls_.Stat(file_.Descriptor(), &status) != 0) {
    return Fail(FileOutcome::ReadError, Error::FromErrno("stat " + file_.Name()));
  }
  if (status.st_size != Length()) {
    changed_elsewhere_ = true;
    if (phase == JournalPhase::Undo && status.st_size >= end) return true;
    return Fail(FileOutcome::ChangedElsewhere,
                Error{0, "another program changed the length of " + file_.Name() + " from " +
                             std::to_string(Length()) + " to " + std::to_string(status.st_size) + " bytes"});
  }
  if (phase == JournalPhase::Undo) {
    // The undo goes on whoever else has the file open now; but without a
    // lease nothing kept them out, and they may have written meanwhile.
    if (file_.Lock() == FileLock::Flock && calls_.OtherProcessHasOpen(status.st_dev, status.st_ino)) {
      changed_elsewhere_ = true;
    }
    return true;
  }
  // A broken lease: another program is waiting to open the file (it cannot
  // have changed it yet), so an undo leaves the file as it was.
  if (file_.Lock() == FileLock::Lease && calls_.Control(file_.Descriptor(), F_GETLEASE, 0) != F_WRLCK) {
    return Fail(FileOutcome::OpenedElsewhere,
                Error{EWOULDBLOCK, "another program asked to open " + file_.Name()});
  }
  if (status.st_nlink > 1) {
    return Fail(FileOutcome::LinkedElsewhere, Error{EMLINK, file_.Name() + " was given another name"});
  }
  // Without a lease nothing kept the other process out: it may have written.
  if (file_.Lock() == FileLock::Flock && calls_.OtherProcessHasOpen(status.st_dev, status.st_ino)) {
    changed_elsewhere_ = true;
    return Fail(FileOutcome::OpenedElsewhere, Error{EBUSY, "another process opened " + file_.Name()});
  }
  return true;
}

// A resume may find the file under both of its run's names (a crash inside
// the link + unlink of a rename); any other name is a second name.
bool Run::OnlyTheRunsNames() {
  struct stat status {};
  if (calls_.Stat(file_.Descriptor(), &status) != 0) {
    return Fail(FileOutcome::ReadError, Error::FromErrno("stat " + file_.Name()));
  }
  nlink_t run_names = 0;
  for (const std::string* name : {&Header().old_name, &Header().new_name}) {
    struct stat named {};
    if (calls_.StatAt(file_.Folder(), name->c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        named.st_dev == status.st_dev && named.st_ino == status.st_ino) {
      ++run_names;
    }
  }
  if (status.st_nlink > std::max<nlink_t>(run_names, 1)) {
    return Fail(
        FileOutcome::LinkedElsewhere,
        Error{EMLINK, file_.Name() + " has " + std::to_string(status.st_nlink) + " names (hard links)"});
  }
  return true;
}

// --- 5. A new run, its undo and its end --------------------------------------------

FileReport Run::Start(Direction direction, const EncryptedSuffix& suffix, std::string_view key_text) {
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

  JournalRunHeader header;
  header.direction = direction;
  header.suffix = suffix;
  header.length = Length();
  header.block_length = BlockLength();
  header.inode = static_cast<std::uint64_t>(file_.Inode());
  header.old_name = file_.Name();
  if (direction == Direction::Encrypt) {
    header.new_name = EncryptedName(header.old_name, suffix);
  } else {
    const std::optional<std::string> plain_name = PlainName(header.old_name);
    if (!plain_name) {
      return Finish(FileOutcome::NameInvalid, FileCondition::AsBefore,
                    Error{EINVAL, header.old_name + " has no encrypted-name suffix to remove"});
    }
    // The key words are made from this suffix: anything else is a mistake of the caller.
    Verify(SuffixOfName(header.old_name) == suffix);
    header.new_name = *plain_name;
  }
  if (header.new_name.size() > LongestName(calls_, file_.Folder())) {
    return Finish(FileOutcome::NameTooLong, FileCondition::AsBefore,
                  Error{ENAMETOOLONG, "rename to " + header.new_name});
  }
  if (calls_.StatAt(file_.Folder(), header.new_name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
    return Finish(FileOutcome::NameInUse, FileCondition::AsBefore,
                  Error{EEXIST, "rename to " + header.new_name});
  } else if (errno != ENOENT) {
    const int code = errno;
    return Finish(OutcomeOfRenameError(code), FileCondition::AsBefore,
                  Error{code, "look at " + header.new_name});
  }
  // The key check: made for an encryption; for a decryption, the file's own
  // when the key matches it (a wrong key stops here), else a new one, so
  // that a resume can always tell the run's key.
  if (direction == Direction::Decrypt) {
    Result<std::optional<std::vector<std::uint8_t>>> stored = ReadKeyCheck(file_.Descriptor(), calls_);
    if (!stored) return Finish(FileOutcome::ReadError, FileCondition::AsBefore, stored.error());
    if (*stored) {
      header.had_key_check = true;
      const Result<KeyCheckVerdict> verdict = checker_.Judge(key_text, suffix, Length(), **stored);
      if (!verdict) return Finish(FileOutcome::NoMemory, FileCondition::AsBefore, verdict.error());
      if (*verdict == KeyCheckVerdict::Mismatch) {
        return Finish(FileOutcome::WrongKey, FileCondition::AsBefore,
                      Error{0, "the key is not the one " + file_.Name() + " was encrypted with"});
      }
      if (*verdict == KeyCheckVerdict::Match) header.key_check = **stored;
    }
    // No check to trust (none, one for another suffix or length, one this
    // program cannot read): the decrypted start is the only sign of the key.
    if (header.key_check.empty() && !StartLooksRight(key_text, suffix)) {
      return Finish(failure_.outcome, FileCondition::AsBefore, failure_.error);
    }
  }
  if (header.key_check.empty()) {
    const Result<KeyCheckValue> made = checker_.Make(key_text, suffix, Length());
    if (!made) return Finish(FileOutcome::NoMemory, FileCondition::AsBefore, made.error());
    header.key_check.assign(made->begin(), made->end());
  }
  if (calls_.Random(header.run_id.data(), header.run_id.size()) !=
      static_cast<ssize_t>(header.run_id.size())) {
    return Finish(FileOutcome::RandomError, FileCondition::AsBefore, Error::FromErrno("read random bytes"));
  }

  JournalAttempt attempt = CreateJournal(file_, std::move(header), largest_window_, calls_);
  if (attempt.outcome != FileOutcome::Done) {
    if (attempt.outcome == FileOutcome::Interrupted) report_.journal = journal_name;
    return Finish(
        attempt.outcome,
        attempt.outcome == FileOutcome::Interrupted ? FileCondition::Interrupted : FileCondition::AsBefore,
        std::move(attempt.error));
  }
  journal_.emplace(std::move(*attempt.journal));
  SetUpWindows(key_text, suffix);
  if (key_text_done_) key_text_done_();

  if (direction == Direction::Encrypt) {
    // The salt is in the name, durably, before any byte is encrypted.
    if (RenameWithoutReplacing(calls_, file_.Folder(), Header().old_name.c_str(),
                               Header().new_name.c_str()) != 0) {
      const int code = errno;
      return RemoveJournal(OutcomeOfRenameError(code), FileCondition::AsBefore,
                           Error{code, "rename " + Header().old_name + " to " + Header().new_name}, false);
    }
    file_.SetName(Header().new_name);
    if (calls_.Sync(file_.Folder()) != 0)
      return UndoAll(FileOutcome::SyncError, Error::FromErrno("sync the folder"));
    if (!StoreKeyCheck()) return UndoAll(failure_.outcome, failure_.error);
  }
  switch (ForwardWindows()) {
    case Step::Done: break;
    case Step::Cancelled: return UndoAll(FileOutcome::Cancelled, Error{});
    case Step::Failed: return UndoAll(failure_.outcome, failure_.error);
    case Step::JournalBroken: return KeepJournal();
  }
  return End(false);
}

// Takes the file back to how it was before the run, window by window from
// the boundary down; reports `outcome` and `error` when it gets there.
FileReport Run::UndoAll(FileOutcome outcome, Error error) {
  const Direction direction = Header().direction;
  // A window whose write failed part-way is made whole first.
  if (torn_) {
    if (!FileStillOurs(JournalPhase::Undo, newest_->offset + newest_->length) || !Apply(*newest_)) {
      return KeepJournal();
    }
    torn_ = false;
    done_ = newest_->done_after;
  }
  // Undoing a decryption encrypts again: the salt goes back into the name,
  // and the key check back onto the file, before any byte.
  if (direction == Direction::Decrypt) {
    if (file_.Name() != Header().old_name && !Rename(Header().old_name)) return KeepJournal();
    if (Header().had_key_check && !StoreKeyCheck()) return KeepJournal();
  }
  if (UndoWindows() != Step::Done) return KeepJournal();
  if (direction == Direction::Encrypt) {
    if (!RemoveKeyCheckNow()) return KeepJournal();
    if (file_.Name() != Header().old_name && !Rename(Header().old_name)) {
      if (failure_.outcome != FileOutcome::NameInUse) return KeepJournal();
      // Every byte is plain again, under the encrypted name: the journal
      // stays, so that nothing takes it for encrypted and decrypts it.
      report_.journal = journal_->Name();
      return Finish(outcome == FileOutcome::Done ? failure_.outcome : outcome,
                    FileCondition::RestoredNameTaken, failure_.error);
    }
  }
  // "As before" only if nobody else has the file now and its length is the
  // run's: a lease break outlasting the undo (the system's lease-break-time)
  // lets the other program in, a flock never kept it out, and a program may
  // have grown the file after the last window's check.
  struct stat status {};
  if (calls_.Stat(file_.Descriptor(), &status) != 0 || status.st_size != Length() ||
      calls_.OtherProcessHasOpen(status.st_dev, status.st_ino)) {
    changed_elsewhere_ = true;
  }
  return RemoveJournal(outcome, FileCondition::AsBefore, std::move(error),
                       direction == Direction::Encrypt && plain_image_);
}

// After the last window: a decryption drops the key check and takes the
// plain name, durably, before the journal goes (the journal's removal must
// never reach the disk without the rename); then the journal goes.
FileReport Run::End(bool resumed) {
  if (!FileStillOurs(JournalPhase::Forward, Length())) {
    return resumed ? KeepJournal() : UndoAll(failure_.outcome, failure_.error);
  }
  const bool decrypting = Header().direction == Direction::Decrypt;
  if (decrypting) {
    if (!RemoveKeyCheckNow()) return resumed ? KeepJournal() : UndoAll(failure_.outcome, failure_.error);
    if (file_.Name() != Header().new_name && !Rename(Header().new_name)) {
      // The plain name was taken meanwhile: a new run goes back, a resume
      // waits for the user. Renamed, but the folder not synced: the journal
      // stays, and a resume finds nothing left but to remove it.
      if (resumed || file_.Name() == Header().new_name) return KeepJournal();
      return UndoAll(failure_.outcome, failure_.error);
    }
  }
  return RemoveJournal(FileOutcome::Done, FileCondition::Transformed, Error{}, decrypting && plain_image_);
}

// --- 6. Resume ----------------------------------------------------------------------

// Applies the recovery rule: the file is consistent at done_ afterwards.
bool Run::Recover(JournalPhase& phase) {
  phase = JournalPhase::Forward;
  for (int page = 0; page < 2; ++page) {
    Result<std::optional<JournalRecord>> record = journal_->ReadRecord(page);
    if (!record) return Fail(FileOutcome::ReadError, record.error());
    if (*record && (!newest_ || (*record)->sequence > newest_->sequence)) newest_ = **record;
  }
  if (!newest_) return true;  // nothing was ever written to the file
  last_sequence_ = newest_->sequence;
  phase = newest_->phase;
  const Result<bool> matches = ImageMatches(*newest_);
  if (!matches) return Fail(FileOutcome::ReadError, matches.error());
  if (*matches) {
    // The window may be torn: write it whole again.
    torn_ = true;
    if (!Apply(*newest_)) return false;
    torn_ = false;
  } else {
    // A slot that no longer holds the window's image was taken for the next
    // window, which happens only once the window is whole in place; but a
    // damaged slot looks the same. Only the file itself can tell them apart.
    const Result<bool> whole = InPlaceMatches(*newest_);
    if (!whole) return Fail(FileOutcome::ReadError, whole.error());
    if (!*whole) {
      // Before the window the file is in the run's form, after it as before;
      // the window itself is neither for sure, and nothing can mend it.
      done_ = std::min(newest_->offset, newest_->done_after);
      report_.in_doubt = newest_->length;
      return Fail(FileOutcome::JournalDamaged,
                  Error{0, journal_->Name() + " has lost its copy of the bytes the run was writing"});
    }
  }
  done_ = newest_->done_after;
  return true;
}

// Where renameat2 could not refuse a taken name the rename was a link, a
// folder sync and an unlink; a crash between them leaves the file under both
// names. It keeps the encrypted one, which is right whatever the boundary.
bool Run::SettleDoubleName() {
  const std::string& plain = Header().direction == Direction::Encrypt ? Header().old_name : Header().new_name;
  const std::string& encrypted =
      Header().direction == Direction::Encrypt ? Header().new_name : Header().old_name;
  struct stat plain_status {
  }, encrypted_status{};
  if (calls_.StatAt(file_.Folder(), plain.c_str(), &plain_status, AT_SYMLINK_NOFOLLOW) != 0 ||
      calls_.StatAt(file_.Folder(), encrypted.c_str(), &encrypted_status, AT_SYMLINK_NOFOLLOW) != 0 ||
      plain_status.st_ino != encrypted_status.st_ino || plain_status.st_dev != encrypted_status.st_dev) {
    return true;
  }
  if (calls_.UnlinkAt(file_.Folder(), plain.c_str()) != 0)
    return Fail(FileOutcome::RenameError, Error::FromErrno("unlink " + plain));
  file_.SetName(encrypted);
  if (calls_.Sync(file_.Folder()) != 0)
    return Fail(FileOutcome::SyncError, Error::FromErrno("sync the folder"));
  return true;
}

FileReport Run::Resume(std::string_view key_text, ResumeMode mode) {
  Error error;
  // Two names may be the run's own (see OnlyTheRunsNames).
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
  if (!OnlyTheRunsNames()) return KeepJournal();

  // The key first: a wrong one changes nothing at all.
  const Result<KeyCheckVerdict> verdict =
      checker_.Judge(key_text, Header().suffix, Header().length, Header().key_check);
  if (!verdict) {
    Fail(FileOutcome::NoMemory, verdict.error());
    return KeepJournal();
  }
  if (*verdict != KeyCheckVerdict::Match) {
    Fail(*verdict == KeyCheckVerdict::Mismatch ? FileOutcome::WrongKey : FileOutcome::JournalDamaged,
         Error{0, *verdict == KeyCheckVerdict::Mismatch ? "the key is not the one of the interrupted run"
                                                        : journal_->Name() + " holds no usable key check"});
    return KeepJournal();
  }
  SetUpWindows(key_text, Header().suffix);
  if (key_text_done_) key_text_done_();
  // The slot may hold plain text from before the crash.
  plain_image_ = true;

  JournalPhase phase = JournalPhase::Forward;
  if (!Recover(phase) || !SettleDoubleName()) return KeepJournal();
  if (mode == ResumeMode::Undo || phase == JournalPhase::Undo) return UndoAll(FileOutcome::Done, Error{});
  if (Header().direction == Direction::Encrypt) {
    if (file_.Name() != Header().new_name && !Rename(Header().new_name)) return KeepJournal();
    if (!StoreKeyCheck()) return KeepJournal();
  }
  switch (ForwardWindows()) {
    case Step::Done: break;
    case Step::Cancelled: Fail(FileOutcome::Cancelled, Error{}); return KeepJournal();
    case Step::Failed:
    case Step::JournalBroken: return KeepJournal();
  }
  return End(true);
}

}  // namespace

// --- 7. The public functions ---------------------------------------------------------

FileReport TransformFile(OpenedFile& file, Direction direction, const EncryptedSuffix& suffix,
                         std::string_view key_text, const ProgressFunction& progress, FileCalls& calls,
                         const TransformSettings& settings) {
  Run run(file, calls, settings, progress);
  return run.Start(direction, suffix, key_text);
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
  Run run(file, calls, settings, progress);
  return run.Resume(key_text, mode);
}

FileReport ResumeFile(OpenedFile& file, std::string_view key_text, ResumeMode mode,
                      const ProgressFunction& progress, const TransformSettings& settings) {
  FileCalls calls;
  return ResumeFile(file, key_text, mode, progress, calls, settings);
}

}  // namespace quorvant
