#pragma once

// The journal file of one run: made, opened, written and removed through the
// system-call seam. What its records mean, and the order in which the run
// writes them, belong to the window engine (rewrite/window_engine.h);
// this only keeps the file. See rewrite/journal_format.h for the layout.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/result.h"
#include "base/unique_fd.h"
#include "rewrite/journal_format.h"
#include "rewrite/run_mark.h"
#include "files/file_calls.h"
#include "files/file_outcome.h"
#include "files/opened_file.h"

namespace quorvant {

struct JournalFailure;

// What a run's windows need of the slot beyond the file's plain blocks: a
// format that keeps more after its data (crypto/strong_chunks.h).
struct JournalSlotNeeds {
  std::int64_t unit = 0;           // windows start at multiples of this; 0: the file's block length
  std::int64_t data_length = -1;   // the windows cover [0, data_length); -1: the whole file
  std::int64_t side_per_unit = 0;  // side bytes a window has for each unit of its data
  std::int64_t least = 0;          // a length step's image, which the slot must hold too
  std::int64_t grow = 0;           // bytes the run will add after the file's end: reserved now
};

// Where a journal is: a folder (not owned) and its name there.
struct JournalPlace {
  int folder = -1;
  std::string name;
};

class JournalFile {
 public:
  JournalFile(JournalFile&&) noexcept = default;
  JournalFile& operator=(JournalFile&&) noexcept = default;

  const JournalRunHeader& Header() const { return header_; }
  // Its name in its folder: the file's, or where a resume was told to find it.
  const std::string& Name() const { return name_; }
  int Folder() const { return folder_; }

  // `at` counts from the start of the image slot.
  Status WriteImage(std::span<const std::uint8_t> data, std::int64_t at);
  Status ReadImage(std::span<std::uint8_t> data, std::int64_t at);
  // Starts writing [at, at + length) of the slot to the disk (a hint for speed).
  void StartImageWriteback(std::int64_t at, std::int64_t length);
  // fdatasync.
  Status Sync();
  // Writes the record's page (not synced).
  Status WriteRecord(const JournalRecord& record);
  // Blanks the page record `sequence` would be on (not synced).
  Status BlankRecord(std::uint64_t sequence);
  // The record on page 0 or 1, when it is whole, of this run and on its page.
  // Nothing for a page that holds no such record; an Error when it cannot be read.
  Result<std::optional<JournalRecord>> ReadRecord(int page);
  // Zeros over the image slot from `from` on, synced: the last image of a
  // run that ends with a plain file is plain text, which must not stay
  // behind in the free space once the journal is removed. The records stay,
  // so a crash before the removal still finds the run finished. What comes
  // before `from` is kept: what a format's cut took, which is no secret and
  // which an undo of the finished run still needs.
  Status ZeroImages(std::int64_t from = 0);
  // Closes the journal, unlinks it and syncs the folder. When only the sync
  // fails, the journal is gone (Gone()) but a crash might still bring it back.
  Status Remove();
  bool Gone() const { return gone_; }

 private:
  friend Result<JournalFile, JournalFailure> CreateJournal(const OpenedFile& file, JournalRunHeader header,
                                                           std::int64_t largest_window, FileCalls& calls,
                                                           const JournalSlotNeeds& needs);
  friend Result<JournalFile, JournalFailure> OpenJournal(const OpenedFile& file, FileCalls& calls,
                                                         const JournalPlace* place);
  JournalFile(FileCalls& calls, int folder, std::string name)
      : calls_(&calls), folder_(folder), name_(name) {}

  FileCalls* calls_;
  int folder_;  // the journal's folder; not owned
  std::string name_;
  UniqueFd file_;
  JournalRunHeader header_;
  bool gone_ = false;
};

// Why a journal could not be made or opened, and its name when one was
// found (a refusal for a journal that is there names it to the user).
struct JournalFailure {
  Failure failure;
  std::string name;
};
using JournalResult = Result<JournalFile, JournalFailure>;

// Makes the journal of a new run on `file`, before the run changes anything:
//  - under its draft name, created exclusively (a stale draft is removed first);
//  - the file's own extent filled (fallocate), so that writing a sparse file
//    in place cannot run out of space half-way; no space: NoSpace;
//  - space for the largest window up to `largest_window` (a multiple of the
//    block length, halved down to one block while space is short; NoSpace
//    when even that does not fit), which sets header.slot_length; with
//    `needs`, in units and with room for the side bytes and a length step,
//    and the growth to come reserved after the file's end first;
//  - its run header written and synced; then the file marked for the run
//    (rewrite/run_mark.h), durably;
//  - only then renamed to its real name, the run's (JournalName(run_id)), or
//    the inode's where the file system keeps no marks (never replacing one:
//    Interrupted if one appeared meanwhile), and the folder synced.
// The draft is named for the inode: a draft left by a run that died is
// found and replaced by the next run on the file. A journal under its real
// name thus always has its file marked, where marks are kept.
// A refusal removes what it made, the mark too; the file's bytes are
// untouched either way.
JournalResult CreateJournal(const OpenedFile& file, JournalRunHeader header, std::int64_t largest_window,
                            FileCalls& calls, const JournalSlotNeeds& needs = {});

// Opens the journal of `file`'s interrupted run (FindJournalName), or the one
// at `place` when given, and reads its run header: NothingToResume when
// there is none; JournalDamaged when its header is not whole or it describes
// another file (an inode number used again after its file was deleted, or a
// file renamed since by hand), or, for one at `place`, when the file does not
// carry the mark of its run: nothing is touched.
JournalResult OpenJournal(const OpenedFile& file, FileCalls& calls, const JournalPlace* place = nullptr);

// The name of `file`'s journal in its folder, when something has that name:
//  - a file marked for a run: the run's journal (JournalName(run)); else one
//    named for its inode whose header is of that run (earlier versions of
//    the program named journals so). A journal of another run is never its.
//  - a file without a mark (no user attributes, or a run of an earlier
//    version): the one named for its inode, whatever it holds; OpenJournal
//    and the resume then judge it.
// An error when the mark cannot be read.
Result<std::optional<std::string>> FindJournalName(const OpenedFile& file, FileCalls& calls);
// The same with the file's mark already read.
std::optional<std::string> FindJournalName(const OpenedFile& file, const RunMark& mark, FileCalls& calls);

// Whether the file `name` of the folder has an interrupted run: a journal
// found as FindJournalName finds it, the mark read without opening the file.
// An orphan (a journal of a run the file is not marked for) never counts.
// False when the name cannot be looked at, or when what has the journal's
// name is no regular file (see NotAJournal).
bool HasJournal(int folder, std::string_view name, FileCalls& calls);

// The run header of the journal `name` of `folder`: nothing when that is no
// regular file or its header is not whole.
std::optional<JournalRunHeader> ReadJournalHeader(int folder, std::string_view name, FileCalls& calls);

// For an entry found under a journal's name: nothing when it is a regular
// file; otherwise the refusal (NotAJournal) that says what it is instead.
std::optional<Error> NotAJournal(const struct stat& entry, const std::string& name);
// The same for the journal's name of the file `name` of the folder: nothing
// when that name is free, or a regular file, or cannot be looked at.
std::optional<Error> NotAJournalAt(int folder, std::string_view name, FileCalls& calls);

}  // namespace quorvant
