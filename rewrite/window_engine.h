#pragma once

// The journaled window engine: the one way a byte of a file changes during a
// run. A run's state is one number, the boundary `Done()`: bytes [0, Done())
// are in the run's target form (ciphertext for an encryption), the rest in
// its source form. Going forward raises it window by window; the undo lowers
// it, from the end backwards. At most one window is torn at any moment: the
// newest record's, whose image is then durable in the journal.
//
// Each window goes: image into the slot, sync the journal; record page, sync
// the journal; image in place, sync the file. Hence:
//  - the slot is overwritten only once the newest record's window is durable
//    in place (so a newest record whose image no longer matches the slot has
//    a whole window, if the window in place says so);
//  - a record is written only after its image is durable, and a window only
//    after its record is durable;
//  - a record page whose write or sync failed is blanked durably before the
//    slot is used again (it may have reached the disk all the same).
// The recovery rule of a resume follows: take the newest whole record; if
// the slot holds its image, write the image over its window again; if not,
// the window in place must hold it; either way the run stands at its
// done_after. No record: nothing was changed.
//
// What turns the bytes is the run's (a WindowCipher), and so is the say on
// whether the file may still be written (a WindowGuard); names, key checks,
// the journal's making and removal and the run's ending are the run's too.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "base/progress.h"
#include "files/file_calls.h"
#include "files/file_outcome.h"
#include "files/opened_file.h"
#include "rewrite/chunk_pipeline.h"
#include "rewrite/journal_file.h"

namespace quorvant {

// Bytes of a file, [offset, offset + length).
struct ByteRange {
  std::int64_t offset = 0;
  std::int64_t length = 0;
};

// Turns the windows of a run. Begin, Side and Keep are called on the run's
// thread; Turn (see ChunkCipher) maybe on the chunk loop's.
//
// A window is its data range, turned in place, and may have a side range:
// bytes elsewhere in the file that change with the data (a format's tags for
// the window's data, say). Their new bytes follow the data's in the slot and
// in the image's hash, so the journal vouches for both and a resume writes
// both whole. The side range follows from the window and its direction alone,
// so that a record (offset, length, phase) still says everything.
class WindowCipher : public ChunkCipher {
 public:
  // Windows start at multiples of this (and of the file's block length), and
  // Turn is given whole multiples of it but at the file's end.
  virtual std::int64_t Alignment() const { return 1; }
  // The side range of the window [start, end) turned in `direction`; empty
  // for none. At most SideLengthFor(end - start) bytes long.
  virtual ByteRange SideRange(std::int64_t /*start*/, std::int64_t /*end*/, Direction /*direction*/) const {
    return {};
  }
  virtual std::int64_t SideLengthFor(std::int64_t /*window_length*/) const { return 0; }
  // Makes ready to turn the window [start, end) (`start` aligned) in
  // `direction`. A failure stops the windows there, nothing of it turned.
  virtual FileStatus Begin(std::int64_t start, std::int64_t end, Direction direction) = 0;
  // After the window's data went through Turn, before anything of it is
  // recorded: whether its new bytes may go in place (a format that
  // authenticates its data says no to data that fails its check).
  virtual FileStatus Check() { return {}; }
  // After Check: the side range's new bytes.
  virtual void Side(std::span<std::uint8_t> /*side*/) {}
  // The window begun last was turned whole, up to `end`.
  virtual void Keep(std::int64_t end) = 0;
};

// Asked before each window and before a window's record (the last moment at
// which nothing of it is in place): whether the file may be written up to
// `end` in `phase`. A failure stops the windows there.
class WindowGuard {
 public:
  virtual ~WindowGuard() = default;
  virtual FileStatus MayWrite(JournalPhase phase, std::int64_t end) = 0;
  // The engine has just written and synced the file: what changes from here
  // on until its next write is someone else's doing. `resized`: the write was
  // a length step, so the length the file has now, whatever it is (a failed
  // step may have changed it part-way), is the run's own.
  virtual void Wrote(bool resized) = 0;
};

struct WindowSettings {
  // The windows cover [0, data_length); negative: the whole file. What lies
  // after (a format's tags and trailer) changes only as windows' side ranges.
  std::int64_t data_length = -1;
  // The length progress is asked for and chunks are made of; 0: the file's.
  std::int32_t block_length = 0;
  std::int64_t blocks_per_chunk = BlocksPerChunk;
  CipherThread cipher_thread = CipherThread::Auto;
  // Called with each block's offset before it is changed, going forward only.
  const ProgressFunction* progress = nullptr;
  // Called once when the last forward block has been turned and only syncing
  // is left.
  const SyncStartFunction* sync_start = nullptr;
};

class WindowEngine {
 public:
  // Windows of `file` through `journal`, both the caller's and outliving this.
  WindowEngine(OpenedFile& file, FileCalls& calls, JournalFile& journal, WindowCipher& cipher,
               WindowGuard& guard, const WindowSettings& settings);

  std::int64_t Done() const { return done_; }
  // The slot may hold plain text: it is blanked before the journal goes.
  bool PlainImage() const { return plain_image_; }
  void SetPlainImage() { plain_image_ = true; }
  // After a failure: the journal can no longer vouch for a window (a record
  // page that may have reached the disk could not be blanked), so no window
  // may be written through it; the run stops with the journal kept.
  bool JournalBroken() const { return journal_broken_; }

  // Windows forward from Done() to the file's end. A cancel asked for by the
  // progress step fails as Cancelled, with the window untouched in place.
  FileStatus Forward();
  // Windows backwards from Done() to 0.
  FileStatus Undo();
  // A window whose write in place failed part-way is written whole again.
  FileStatus MendTorn();
  // Applies the recovery rule; Done() is then where the run stands, and the
  // phase of the newest record is returned (Forward when there is none).
  // JournalDamaged when neither the slot nor the file holds the newest
  // window's new bytes: the window is in doubt (InDoubt() bytes from Done()).
  // `unbound`: the file does not carry the run's mark, which goes only once
  // the last window is whole in place; unless the newest window is whole in
  // place already, the journal is another file's: NothingToResume, and
  // nothing is written.
  FileResult<JournalPhase> Recover(bool unbound);
  std::int64_t InDoubt() const { return in_doubt_; }
  // The window whose write in place did not finish, if one did not: its
  // bytes may be part old, part new (the journal holds them whole).
  std::optional<JournalRecord> TornWindow() const { return torn_ ? newest_ : std::nullopt; }

  // The steps that change the file's length where its data end (at the
  // windows' data_length), for a format that keeps more after its data. Each
  // goes through the slot and a record as a window does, so a crash in it is
  // mended by the recovery, and the boundary stays where it is.
  //  - Grow writes `tail` after the data (an encryption's first step, with
  //    its phase Forward; a decryption's undo puts back what Cut took, Undo).
  //  - Cut cuts the file to its data, keeping what it cuts in the slot (a
  //    decryption's last step; an encryption's undo's last step).
  FileStatus Grow(JournalPhase phase, std::span<const std::uint8_t> tail);
  FileStatus Cut(JournalPhase phase);
  // After a Cut (or a recovery that found one newest): what it cut, written
  // back (phase Undo).
  FileStatus UndoCut();
  bool NewestIsCut() const { return newest_ && newest_->step == JournalStep::Cut; }
  // How much of the slot holds what the newest step cut: 0 when it was no cut.
  std::int64_t CutImageLength() const { return NewestIsCut() ? newest_->length : 0; }

 private:
  // A window's bytes in the file and in the slot: its data, then its side range.
  struct Piece {
    std::int64_t offset;  // in the file
    std::int64_t image;   // in the slot
    std::int64_t length;
    bool data;            // a window's data, read and written a chunk at a time
  };
  std::array<Piece, 2> PiecesOf(const JournalRecord& record) const;

  // The chunk loop's steps for one window: the file read, the new bytes into the slot.
  class SlotSteps;

  std::int64_t Length() const { return data_length_ >= 0 ? data_length_ : file_.Length(); }
  std::int64_t ChunkLength() const { return chunk_length_; }
  // Where the window [start, end) turned in `phase` keeps its side bytes.
  ByteRange SideOf(JournalPhase phase, std::int64_t start, std::int64_t end) const;
  // A buffer for the bytes of `piece` from `at`, at most a chunk of them.
  std::span<std::uint8_t> PieceBuffer(const Piece& piece, std::int64_t at);
  std::span<std::uint8_t> Chunk(std::int64_t size) { return pipeline_->Buffer(static_cast<std::size_t>(size)); }

  FileStatus Window(JournalPhase phase, std::int64_t start, std::int64_t end);
  FileStatus LengthStep(JournalPhase phase, JournalStep step, std::span<const std::uint8_t> image);
  FileStatus Record(const JournalRecord& record);
  FileStatus Apply(const JournalRecord& record);
  // Whether the slot (or, `in_place`, the file) holds the record's new bytes.
  Result<bool> Holds(const JournalRecord& record, bool in_place);

  OpenedFile& file_;
  FileCalls& calls_;
  JournalFile& journal_;
  WindowCipher& cipher_;
  WindowGuard& guard_;
  const ProgressFunction* progress_;
  const SyncStartFunction* sync_start_;
  const std::int64_t data_length_;
  const std::int32_t block_length_;
  // Windows start at multiples of this: the block length and the cipher's alignment.
  const std::int64_t unit_;
  const std::int64_t chunk_length_;
  // The longest window's data: its side bytes fit in the slot too.
  const std::int64_t window_;
  // The chunk buffers (which hold the file's data, and are wiped) and the cipher's thread.
  std::optional<ChunkPipeline> pipeline_;
  std::vector<std::uint8_t> side_buffer_;

  std::int64_t done_ = 0;
  std::uint64_t last_sequence_ = 0;  // of the newest durable record; 0 for none
  std::optional<JournalRecord> newest_;
  bool torn_ = false;         // the newest record's window may be only partly written in place
  bool plain_image_ = false;  // the slot may hold plain text
  bool journal_broken_ = false;
  std::int64_t in_doubt_ = 0;
};

}  // namespace quorvant
