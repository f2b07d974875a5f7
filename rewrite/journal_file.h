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
#include "files/file_calls.h"
#include "files/file_outcome.h"
#include "files/opened_file.h"

namespace quorvant {

struct JournalAttempt;

class JournalFile {
 public:
  JournalFile(JournalFile&&) noexcept = default;
  JournalFile& operator=(JournalFile&&) noexcept = default;

  const JournalRunHeader& Header() const { return header_; }
  // Its name in the file's folder.
  const std::string& Name() const { return name_; }

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
  // Zeros over the whole image slot, synced: the last image of a run that
  // ends with a plain file is plain text, which must not stay behind in the
  // free space once the journal is removed. The records stay, so a crash
  // before the removal still finds the run finished.
  Status ZeroImages();
  // Closes the journal, unlinks it and syncs the folder. When only the sync
  // fails, the journal is gone (Gone()) but a crash might still bring it back.
  Status Remove();
  bool Gone() const { return gone_; }

 private:
  friend JournalAttempt CreateJournal(const OpenedFile& file, JournalRunHeader header,
                                      std::int64_t largest_window, FileCalls& calls);
  friend JournalAttempt OpenJournal(const OpenedFile& file, FileCalls& calls);
  JournalFile(FileCalls& calls, int folder, std::string name)
      : calls_(&calls), folder_(folder), name_(name) {}

  FileCalls* calls_;
  int folder_;  // the file's folder; not owned
  std::string name_;
  UniqueFd file_;
  JournalRunHeader header_;
  bool gone_ = false;
};

struct JournalAttempt {
  FileOutcome outcome = FileOutcome::Done;  // Done when `journal` holds the journal
  std::optional<JournalFile> journal;
  Error error;
};

// Makes the journal of a new run on `file`, before the run changes anything:
//  - under its draft name, created exclusively (a stale draft is removed first);
//  - the file's own extent filled (fallocate), so that writing a sparse file
//    in place cannot run out of space half-way; no space: NoSpace;
//  - space for the largest window up to `largest_window` (a multiple of the
//    block length, halved down to one block while space is short; NoSpace
//    when even that does not fit), which sets header.slot_length;
//  - its run header written and synced, and only then renamed to its real
//    name (never replacing one: Interrupted if one appeared meanwhile) and
//    the folder synced.
// A refusal removes what it made; the file is untouched either way.
JournalAttempt CreateJournal(const OpenedFile& file, JournalRunHeader header, std::int64_t largest_window,
                             FileCalls& calls);

// Opens the journal of `file`'s interrupted run and reads its run header:
// NothingToResume when there is none; JournalDamaged when its header is not
// whole or it describes another file (an inode number used again after its
// file was deleted, or a file renamed since by hand): nothing is touched.
JournalAttempt OpenJournal(const OpenedFile& file, FileCalls& calls);

// Whether the file `name` of the folder has an interrupted run: a journal
// named for its inode. False when the name cannot be looked at, or when what
// has the journal's name is no regular file (see NotAJournal).
bool HasJournal(int folder, std::string_view name, FileCalls& calls);

// For an entry found under a journal's name: nothing when it is a regular
// file; otherwise the refusal (NotAJournal) that says what it is instead.
std::optional<Error> NotAJournal(const struct stat& entry, const std::string& name);
// The same for the journal's name of the file `name` of the folder: nothing
// when that name is free, or a regular file, or cannot be looked at.
std::optional<Error> NotAJournalAt(int folder, std::string_view name, FileCalls& calls);

}  // namespace quorvant
