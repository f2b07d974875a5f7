#include "rewrite/window_engine.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <numeric>
#include <vector>

#include "base/verify.h"
#include "files/blocks.h"

namespace quorvant {

namespace {

// While a window is written, the system is asked every this many bytes to
// start writing them to the disk, so that the disk works while the cipher
// does and the sync at the window's end has less left to wait for.
constexpr std::int64_t WritebackStep = std::int64_t{8} << 20;

Direction Opposite(Direction direction) {
  return direction == Direction::Encrypt ? Direction::Decrypt : Direction::Encrypt;
}

Failure Failed(FileOutcome outcome, Error error) { return Failure{outcome, std::move(error)}; }

// The longest window whose data, and side bytes, the slot holds: a multiple of `unit`.
std::int64_t DataWindow(std::int64_t slot, std::int64_t unit, const WindowCipher& cipher) {
  std::int64_t window = slot / unit * unit;
  while (window > unit && window + cipher.SideLengthFor(window) > slot) window -= unit;
  // An empty file has no slot; any other's journal is made to hold one window.
  Verify(slot == 0 || (window > 0 && window + cipher.SideLengthFor(window) <= slot));
  return window;
}

}  // namespace

WindowEngine::WindowEngine(OpenedFile& file, FileCalls& calls, JournalFile& journal, WindowCipher& cipher,
                           WindowGuard& guard, const WindowSettings& settings)
    : file_(file),
      calls_(calls),
      journal_(journal),
      cipher_(cipher),
      guard_(guard),
      progress_(settings.progress),
      sync_start_(settings.sync_start),
      data_length_(settings.data_length),
      block_length_(settings.block_length > 0 ? settings.block_length : file.BlockLength()),
      unit_(std::lcm(std::max<std::int64_t>(block_length_, 1), cipher.Alignment())),
      chunk_length_(RoundUp(settings.blocks_per_chunk * block_length_, unit_)),
      window_(DataWindow(journal.Header().slot_length, unit_, cipher)) {
  if (Length() > 0) {
    // One chunk gives a second thread nothing to overlap: starting it would
    // cost a small file more than its cipher does.
    const bool one_chunk = Length() <= ChunkLength();
    pipeline_.emplace(static_cast<std::size_t>(std::min({ChunkLength(), window_, Length()})),
                      one_chunk && settings.cipher_thread == CipherThread::Auto ? CipherThread::Caller
                                                                                 : settings.cipher_thread);
  }
}

FileStatus WindowEngine::Forward() {
  while (done_ < Length()) {
    QUORVANT_TRY(guard_.MayWrite(JournalPhase::Forward, done_));
    QUORVANT_TRY(Window(JournalPhase::Forward, done_, std::min(Length(), done_ + window_)));
  }
  return {};
}

FileStatus WindowEngine::Undo() {
  while (done_ > 0) {
    QUORVANT_TRY(guard_.MayWrite(JournalPhase::Undo, done_));
    const std::int64_t start = std::max<std::int64_t>(0, RoundUp(done_, unit_) - window_);
    QUORVANT_TRY(Window(JournalPhase::Undo, start, done_));
  }
  return {};
}

class WindowEngine::SlotSteps final : public ChunkSteps {
 public:
  SlotSteps(WindowEngine& engine, bool forward, std::int64_t start)
      : engine_(engine), forward_(forward), start_(start) {}
  Status Read(std::int64_t at, std::span<std::uint8_t> chunk) override {
    return ReadExactly(engine_.calls_, engine_.file_.Descriptor(), chunk, at, engine_.file_.Name());
  }
  ProgressAnswer Ask(std::int64_t at) override {
    if (!forward_ || engine_.progress_ == nullptr || !*engine_.progress_) return ProgressAnswer::Continue;
    return (*engine_.progress_)(at, engine_.Length() - 1);
  }
  Status Write(std::int64_t at, std::span<const std::uint8_t> chunk) override {
    if (Status written = engine_.journal_.WriteImage(chunk, at - start_); !written) return written;
    const std::int64_t written_end = at + static_cast<std::int64_t>(chunk.size());
    if (written_end - hinted_ >= WritebackStep) {
      engine_.journal_.StartImageWriteback(hinted_ - start_, written_end - hinted_);
      hinted_ = written_end;
    }
    return {};
  }

 private:
  WindowEngine& engine_;
  const bool forward_;
  const std::int64_t start_;
  std::int64_t hinted_ = start_;  // where the last writeback hint ended
};

FileStatus WindowEngine::Window(JournalPhase phase, std::int64_t start, std::int64_t end) {
  const bool forward = phase == JournalPhase::Forward;
  const Direction direction = forward ? journal_.Header().direction : Opposite(journal_.Header().direction);
  QUORVANT_TRY(cipher_.Begin(start, end, direction));

  // The window's new bytes, into the slot, chunk by chunk
  // (rewrite/chunk_pipeline.h): with two cores, the cipher turns one chunk
  // on a thread of its own while this thread reads the next. The journal's
  // rules see no difference. Every call that reaches the disk is made on
  // this thread, in the order one thread gives; each block is asked for
  // (forward only) before it is transformed; and a cancel or a failure in
  // this loop comes before the window's record, with the window untouched
  // in place, so the undo starts from the last durable record as before.
  SlotSteps steps(*this, forward, start);
  ImageHash hash;
  plain_image_ = plain_image_ || direction == Direction::Decrypt;
  const ChunkLoopResult loop = pipeline_->Run(start, end, ChunkLength(), block_length_, cipher_, hash, steps);
  switch (loop.end) {
    case ChunkLoopEnd::Done: break;
    // The blocks changed so far are only in memory and in the slot.
    case ChunkLoopEnd::Cancelled: return Failed(FileOutcome::Cancelled, Error{});
    case ChunkLoopEnd::ReadFailed: return Failed(FileOutcome::ReadError, loop.error);
    case ChunkLoopEnd::WriteFailed: return Failed(OutcomeOfWriteError(loop.error), loop.error);
  }
  QUORVANT_TRY(cipher_.Check());
  // The side bytes after the data's, in the slot and in the hash.
  const ByteRange side = SideOf(phase, start, end);
  if (side.length > 0) {
    std::vector<std::uint8_t> side_bytes(static_cast<std::size_t>(side.length));
    cipher_.Side(side_bytes);
    hash.Add(side_bytes);
    if (Status written = journal_.WriteImage(side_bytes, end - start); !written) {
      return Failed(OutcomeOfWriteError(written.error()), written.error());
    }
  }
  if (forward && end == Length() && sync_start_ != nullptr && *sync_start_) (*sync_start_)();
  if (Status synced = journal_.Sync(); !synced) return Failed(FileOutcome::SyncError, synced.error());

  QUORVANT_TRY(guard_.MayWrite(phase, end));  // nothing of the window is in place yet

  JournalRecord record;
  record.sequence = last_sequence_ + 1;
  record.phase = phase;
  record.offset = start;
  record.length = end - start;
  record.done_after = forward ? end : start;
  record.image_hash = hash.Finish();
  QUORVANT_TRY(Record(record));

  // Then the file.
  torn_ = true;
  QUORVANT_TRY(Apply(record));
  torn_ = false;
  done_ = record.done_after;
  cipher_.Keep(end);
  return {};
}

// The record, which vouches for the image, made durable.
FileStatus WindowEngine::Record(const JournalRecord& record) {
  Status recorded = journal_.WriteRecord(record);
  Failure failure;
  if (!recorded) {
    failure = Failed(OutcomeOfWriteError(recorded.error()), recorded.error());
  } else if (recorded = journal_.Sync(); !recorded) {
    failure = Failed(FileOutcome::SyncError, recorded.error());
  }
  if (!recorded) {
    // The page may have reached the disk all the same: were the slot used
    // again, a resume would take this window for done. Blank it, or stop.
    if (!journal_.BlankRecord(record.sequence) || !journal_.Sync()) journal_broken_ = true;
    return failure;
  }
  last_sequence_ = record.sequence;
  newest_ = record;
  return {};
}

FileStatus WindowEngine::Apply(const JournalRecord& record) {
  // Whatever this wrote, even when it failed part-way, is the run's own.
  struct Written {
    WindowGuard& guard;
    bool resized;
    ~Written() { guard.Wrote(resized); }
  } written_by_the_run{guard_, record.step != JournalStep::Window};
  if (record.step == JournalStep::Cut) {
    if (calls_.Truncate(file_.Descriptor(), record.offset) != 0) {
      const Error error = Error::FromErrno("cut " + file_.Name());
      return Failed(OutcomeOfWriteError(error), error);
    }
    if (calls_.SyncData(file_.Descriptor()) != 0) {
      return Failed(FileOutcome::SyncError, Error::FromErrno("sync " + file_.Name()));
    }
    return {};
  }
  for (const Piece& piece : PiecesOf(record)) {
    std::int64_t hinted = 0;
    for (std::int64_t at = 0; at < piece.length; at += ChunkLength()) {
      const std::span<std::uint8_t> chunk = PieceBuffer(piece, at);
      if (Status read = journal_.ReadImage(chunk, piece.image + at); !read) {
        return Failed(FileOutcome::ReadError, read.error());
      }
      if (Status written = WriteExactly(calls_, file_.Descriptor(), chunk, piece.offset + at, file_.Name());
          !written) {
        return Failed(OutcomeOfWriteError(written.error()), written.error());
      }
      const std::int64_t written_end = at + static_cast<std::int64_t>(chunk.size());
      if (written_end - hinted >= WritebackStep) {
        calls_.StartWriteback(file_.Descriptor(), piece.offset + hinted, written_end - hinted);
        hinted = written_end;
      }
    }
  }
  if (calls_.SyncData(file_.Descriptor()) != 0) {
    return Failed(FileOutcome::SyncError, Error::FromErrno("sync " + file_.Name()));
  }
  return {};
}

FileStatus WindowEngine::MendTorn() {
  if (!torn_) return {};
  QUORVANT_TRY(guard_.MayWrite(JournalPhase::Undo, newest_->offset + newest_->length));
  QUORVANT_TRY(Apply(*newest_));
  torn_ = false;
  done_ = newest_->done_after;
  return {};
}

Result<bool> WindowEngine::Holds(const JournalRecord& record, bool in_place) {
  if (in_place && record.step == JournalStep::Cut) {
    struct stat status {};
    if (calls_.Stat(file_.Descriptor(), &status) != 0) return Error::FromErrno("stat " + file_.Name());
    return status.st_size == record.offset;
  }
  ImageHash hash;
  for (const Piece& piece : PiecesOf(record)) {
    for (std::int64_t at = 0; at < piece.length; at += ChunkLength()) {
      const std::span<std::uint8_t> chunk = PieceBuffer(piece, at);
      const Status read = in_place
                              ? ReadExactly(calls_, file_.Descriptor(), chunk, piece.offset + at, file_.Name())
                              : journal_.ReadImage(chunk, piece.image + at);
      if (!read) {
        // A slot or a file cut short does not hold the bytes; a failed read says nothing.
        if (read.error().code != 0) return read.error();
        return false;
      }
      hash.Add(chunk);
    }
  }
  return hash.Finish() == record.image_hash;
}

FileStatus WindowEngine::Grow(JournalPhase phase, std::span<const std::uint8_t> tail) {
  return LengthStep(phase, JournalStep::Tail, tail);
}

FileStatus WindowEngine::Cut(JournalPhase phase) {
  struct stat status {};
  if (calls_.Stat(file_.Descriptor(), &status) != 0) {
    return Failed(FileOutcome::ReadError, Error::FromErrno("stat " + file_.Name()));
  }
  std::vector<std::uint8_t> tail(static_cast<std::size_t>(std::max<std::int64_t>(0, status.st_size - Length())));
  if (Status read = ReadExactly(calls_, file_.Descriptor(), tail, Length(), file_.Name()); !read) {
    return Failed(FileOutcome::ReadError, read.error());
  }
  return LengthStep(phase, JournalStep::Cut, tail);
}

FileStatus WindowEngine::UndoCut() {
  Verify(NewestIsCut());
  std::vector<std::uint8_t> tail(static_cast<std::size_t>(newest_->length));
  if (Status read = journal_.ReadImage(tail, 0); !read) return Failed(FileOutcome::ReadError, read.error());
  return LengthStep(JournalPhase::Undo, JournalStep::Tail, tail);
}

// A step at the end of the data: its image into the slot, its record, then
// the file, as for a window.
FileStatus WindowEngine::LengthStep(JournalPhase phase, JournalStep step, std::span<const std::uint8_t> image) {
  Verify(!image.empty() && static_cast<std::int64_t>(image.size()) <= journal_.Header().slot_length);
  QUORVANT_TRY(guard_.MayWrite(phase, done_));
  if (Status written = journal_.WriteImage(image, 0); !written) {
    return Failed(OutcomeOfWriteError(written.error()), written.error());
  }
  if (Status synced = journal_.Sync(); !synced) return Failed(FileOutcome::SyncError, synced.error());
  ImageHash hash;
  hash.Add(image);
  JournalRecord record;
  record.sequence = last_sequence_ + 1;
  record.phase = phase;
  record.step = step;
  record.offset = Length();
  record.length = static_cast<std::int64_t>(image.size());
  record.done_after = done_;
  record.image_hash = hash.Finish();
  QUORVANT_TRY(Record(record));
  torn_ = true;
  QUORVANT_TRY(Apply(record));
  torn_ = false;
  return {};
}

std::span<std::uint8_t> WindowEngine::PieceBuffer(const Piece& piece, std::int64_t at) {
  const std::int64_t size = std::min(ChunkLength(), piece.length - at);
  if (piece.data) return Chunk(size);
  // Side bytes and tails are few, and may be more than the chunk buffer of a
  // short file holds.
  side_buffer_.resize(static_cast<std::size_t>(size));
  return side_buffer_;
}

std::array<WindowEngine::Piece, 2> WindowEngine::PiecesOf(const JournalRecord& record) const {
  if (record.step != JournalStep::Window) return {Piece{record.offset, 0, record.length, false}, Piece{}};
  const ByteRange side = SideOf(record.phase, record.offset, record.offset + record.length);
  return {Piece{record.offset, 0, record.length, true}, Piece{side.offset, record.length, side.length, false}};
}

ByteRange WindowEngine::SideOf(JournalPhase phase, std::int64_t start, std::int64_t end) const {
  const Direction direction =
      phase == JournalPhase::Forward ? journal_.Header().direction : Opposite(journal_.Header().direction);
  return cipher_.SideRange(start, end, direction);
}

FileResult<JournalPhase> WindowEngine::Recover(bool unbound) {
  for (int page = 0; page < 2; ++page) {
    Result<std::optional<JournalRecord>> record = journal_.ReadRecord(page);
    if (!record) return Failed(FileOutcome::ReadError, record.error());
    if (*record && (!newest_ || (*record)->sequence > newest_->sequence)) newest_ = **record;
  }
  if (!newest_) return JournalPhase::Forward;  // nothing was ever written to the file
  last_sequence_ = newest_->sequence;
  if (unbound) {
    const Result<bool> whole = Holds(*newest_, true);
    if (!whole) return Failed(FileOutcome::ReadError, whole.error());
    if (!*whole) {
      newest_.reset();
      return Failed(FileOutcome::NothingToResume,
                    Error{0, journal_.Name() + " is not this file's: the file does not carry its run's mark"});
    }
  }
  const Result<bool> in_slot = Holds(*newest_, false);
  if (!in_slot) return Failed(FileOutcome::ReadError, in_slot.error());
  if (*in_slot) {
    // The window may be torn: write it whole again.
    torn_ = true;
    QUORVANT_TRY(Apply(*newest_));
    torn_ = false;
  } else {
    // A slot that no longer holds the window's image was taken for the next
    // window, which happens only once the window is whole in place; but a
    // damaged slot looks the same. Only the file itself can tell them apart.
    const Result<bool> in_place = Holds(*newest_, true);
    if (!in_place) return Failed(FileOutcome::ReadError, in_place.error());
    if (!*in_place) {
      // Before the window the file is in the run's form, after it as before;
      // the window itself is neither for sure, and nothing can mend it.
      done_ = std::min(newest_->offset, newest_->done_after);
      in_doubt_ = newest_->length;
      return Failed(FileOutcome::JournalDamaged,
                    Error{0, journal_.Name() + " has lost its copy of the bytes the run was writing"});
    }
  }
  done_ = newest_->done_after;
  return newest_->phase;
}

}  // namespace quorvant
