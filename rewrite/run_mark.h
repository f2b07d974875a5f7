#pragma once

// The mark that binds a file to its run: a user attribute holding the run's
// identity (the journal's run id), on the file itself. It is written and
// synced before the run's first change, and cleared only after its last, so
// a journal is applied only to the file that carries its mark; a journal
// left by a deleted file whose inode a new file got is not.

#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"
#include "files/file_calls.h"
#include "rewrite/journal_format.h"

namespace quorvant {

inline constexpr const char* RunMarkAttributeName = "user.quorvant.run";

// What the file says about its run.
struct RunMark {
  bool supported = true;      // false: the file system keeps no user attributes
  std::optional<RunId> run;   // the run it is marked for, if any
  // The folder the run's journal was made in (the journal is named for the
  // run), as it was named then; empty for marks of earlier versions.
  std::string journal_folder;
};

Result<RunMark> ReadRunMark(int descriptor, FileCalls& calls);
// The same for the file `name` of `folder`, without opening it (an open
// would break the lease of a run working on it).
Result<RunMark> ReadRunMarkAt(int folder, std::string_view name, FileCalls& calls);
// Writes the mark and syncs the file (attributes are not covered by
// fdatasync). Nothing on a file system without user attributes: then false.
Result<bool> StoreRunMark(int descriptor, const RunId& run, FileCalls& calls);
Status WriteRunMark(int descriptor, const RunId& run, FileCalls& calls);
// Removes the mark, if there is one, and syncs the file.
Status ClearRunMark(int descriptor, FileCalls& calls);

}  // namespace quorvant
