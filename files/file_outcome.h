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
  AlreadyOpen,  // another program has the file open or locked (or changed it meanwhile)
  ReadOnly,     // the file could be opened for reading only: it may be analysed, never changed
  Vanished,     // the name is gone, or names another file, since the file was listed or opened
  NotRegular,   // a symlink, FIFO, socket, device or folder: never opened
  NameInUse,    // the new name is already taken
  NameTooLong,  // the new name would exceed the file system's limit
  NameInvalid,  // the name has no encrypted-name suffix to remove, or nothing would remain
  OpenError,    // any other failure to open (the error says which)
  ReadError,
  WriteError,
  SyncError,
  RenameError,
  DeleteError,
  RandomError,  // the random source failed
};

// The state the file is left in.
enum class FileCondition {
  AsBefore,           // byte for byte and by name as it was (refusals, cancels, undone failures)
  Transformed,        // encrypted or decrypted, synced, under its new name
  Erased,             // overwritten, synced and deleted
  PartlyOverwritten,  // an erase that stopped: some blocks overwritten, the file still there
  PartlyTransformed,  // a failure whose undo failed too: some blocks are transformed
};

struct FileReport {
  FileOutcome outcome = FileOutcome::Done;
  FileCondition condition = FileCondition::AsBefore;
  std::string name;  // the file's name in its folder afterwards
  Error error;       // the system call that failed, for the error outcomes
};

// A short text for an outcome, in the program's notice style ("Already open").
std::string_view OutcomeText(FileOutcome outcome);

}  // namespace quorvant
