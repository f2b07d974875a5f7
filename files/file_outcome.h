#pragma once

// What the file operations (open, transform, secure erase) report. Their
// progress step (base/progress.h) is called once per block, after the block
// is read (or, for the erase, before it is written) and before it is changed.

#include <cstdint>
#include <string>
#include <string_view>

#include "base/progress.h"
#include "base/result.h"

namespace quorvant {

enum class FileOutcome {
  Done,         // opened; or transformed, synced and renamed; or overwritten, synced and deleted
  Cancelled,    // the progress step asked to stop
  AlreadyOpen,  // another program has the file open or locked, or asked to open it since it was opened
  ReadOnly,     // the file could be opened for reading only: it may be analysed, never changed
  Vanished,     // the name is gone, or names another file, since the file was listed or opened
  NotRegular,   // a symlink, FIFO, socket, device or folder: never opened
  NameInUse,    // the new name is already taken
  NameTooLong,  // the new name would exceed the file system's limit
  NameInvalid,  // the name has no encrypted-name suffix to remove, or nothing would remain
  AlreadyEncrypted,  // an encryption asked for a name that is already an encrypted name
  OpenError,    // any other failure to open (the error says which)
  ReadError,
  WriteError,
  SyncError,
  RenameError,
  DeleteError,
  RandomError,       // the random source failed
  WrongKey,          // the key is not the one the file's key check, or its run's journal, was made with
  NoSpace,           // not even a one-block journal fits on the disk (or a sparse file cannot be filled)
  NoMemory,          // the memory for the key check could not be had
  Interrupted,       // the file has an interrupted run: it must be resumed first
  NothingToResume,   // a resume found no interrupted run for the file
  JournalDamaged,    // the file's journal cannot be read, or belongs to another file: nothing done
  NotAJournal,       // the name of the file's journal is taken by a symlink, FIFO, folder...: nothing done
  JournalElsewhere,  // the file is marked for a run whose journal is not beside it (moved half-done)
  FolderNotWritable,  // the file's folder cannot be written, so no journal can be made: nothing done
  KeyLooksWrong,     // no usable key check, and the key decrypts the file's start to noise: not decrypted
  LinkedElsewhere,   // the file has another name (a hard link): never encrypted, decrypted or erased
  OpenedElsewhere,   // another program opened the file during the run (see CheckReadyToChange)
  ChangedElsewhere,  // another program changed the file's length since it was opened
  NotDeletable,      // an erase could not delete the file afterwards: nothing is overwritten
  // A strong-format file some of whose chunks fail their check (the error's
  // action says which bytes, without the file's name): not decrypted.
  Damaged,
  // A name of the strong format whose end is not a sound trailer (cut short,
  // appended to, or its trailer damaged; the action says which): refused.
  DamagedOrCut,
  // An encryption of a file that a classic decryption marked and that looks
  // untouched since, with a key other than the one that decrypted it: going
  // on makes that decryption final, so the caller asks first.
  OtherKeyThanDecryption,
};

// The state the file is left in.
enum class FileCondition {
  AsBefore,           // byte for byte and by name as it was (refusals, cancels, undone failures)
  Transformed,        // encrypted or decrypted, synced, under its new name
  Erased,             // overwritten, synced and deleted
  PartlyOverwritten,  // an erase that stopped: some blocks overwritten, the file still there
  // An erase that wrote every block but could not delete the file, or could
  // not sync the overwrite (it may then not all be on the disk).
  Overwritten,
  // A run stopped part-way with its journal kept: the first `done` bytes are
  // in the run's target form, the rest as before, and the name carries the
  // salt whenever any byte is encrypted. A resume finishes or undoes it.
  Interrupted,
  // An undone encryption whose old name was taken meanwhile: every byte is as
  // before, but the file still has its encrypted name. The journal is kept so
  // that nothing decrypts it; a resume --undo renames it once the name is free.
  RestoredNameTaken,
  // A run stopped because another program changed the file during it (its
  // length, or, where no lease could be taken, it had the file open): the
  // run's own changes are undone and the name is as before, but what the
  // other program did to the file is not known, so it is not "as before".
  UndoneChangedElsewhere,
};

struct FileReport {
  FileOutcome outcome = FileOutcome::Done;
  FileCondition condition = FileCondition::AsBefore;
  std::string name;  // the file's name in its folder afterwards
  Error error;       // the system call that failed, for the error outcomes
  // The run's journal when one is left in the file's folder (always for
  // Interrupted and RestoredNameTaken; rarely after Done or AsBefore, when
  // only its removal failed, and a resume removes it).
  std::string journal;
  // For Interrupted: how many bytes from the start are in the run's target
  // form, and the file's length.
  std::int64_t done = 0;
  std::int64_t length = 0;
  // For a journal found damaged: how many bytes after `done` are in neither
  // form for sure (the rest after them are as before the run).
  std::int64_t in_doubt = 0;
  // For Interrupted: a window that was being written when the run stopped,
  // [torn_from, torn_from + torn_length), may be part old, part new. The
  // journal holds it whole, and a resume writes it whole first.
  std::int64_t torn_from = 0;
  std::int64_t torn_length = 0;
  // An erase of a file with an interrupted run: its journal, which held part
  // of the file's content, was erased first.
  bool journal_erased = false;
  // A classic decryption that left its undo mark (crypto/undo_mark.h); an
  // encryption that restored the former encryption by such a mark.
  bool undo_marked = false;
  bool restored = false;
  // A decryption whose key no stored check vouched for (only its start was judged).
  bool key_unchecked = false;
  // Said to the user even when the run went well: a strong encryption whose
  // key derivation could not have its usual memory and took less.
  std::string note;
};

// Why a step of a file operation did not succeed: the outcome it ends the
// operation with, and the system call that failed, if one did.
struct Failure {
  FileOutcome outcome = FileOutcome::Done;
  Error error;
};

// A step of a file operation: done, or its Failure.
template <typename T = void>
using FileResult = Result<T, Failure>;
using FileStatus = FileResult<>;

// The failure of a step, or a Done one with no error when it succeeded: for
// whoever tells both alike, or compares outcomes.
template <typename T>
Failure FailureOf(const FileResult<T>& result) {
  return result ? Failure{} : result.error();
}

// NoSpace for a write that failed for want of space (or quota), else WriteError.
FileOutcome OutcomeOfWriteError(const Error& error);

// How an outcome is told, in one table for the window and the tool.
struct OutcomeWording {
  FileOutcome outcome;
  std::string_view notice;  // the window's, in its notice style ("Already open")
  std::string_view words;   // the tool's, after "FILE: " ("another program has it open or locked")
  bool shows_error;         // the failed call's error follows the words: it is what went wrong
  // The file's state, not a failed call, is why nothing was done: a notice
  // names it (an erase refused says why rather than "Not erased").
  bool refusal;
  // The error's action follows the words: it says what was found, and never
  // holds the file's name.
  bool shows_detail = false;
};
const OutcomeWording& WordingOf(FileOutcome outcome);

// The window's notice for an outcome.
std::string_view OutcomeText(FileOutcome outcome);

// The tool's words with the error where it matters: "write error: No space
// left on device". The action recorded in an Error is never part of it: it
// may hold a raw file name.
std::string DescribeFailure(FileOutcome outcome, const Error& error);

// The same, with the error's text whenever there is one: what the window
// writes to standard error for a notice, so that its cause can be found.
std::string DescribeFailureFully(FileOutcome outcome, const Error& error);

}  // namespace quorvant
