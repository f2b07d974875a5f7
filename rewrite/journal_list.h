#pragma once

// The journals of a folder and what each belongs to, read without the key:
// for `resume --list`, and to tell an orphan (a journal whose file is gone)
// from a live one before it is forgotten.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "files/file_calls.h"
#include "rewrite/journal_format.h"

namespace quorvant {

struct JournalListing {
  std::string name;
  std::optional<JournalRunHeader> header;  // nothing: its header is not whole
  // How far the run got by its newest record: the boundary, rising going
  // forward, falling while it is undone.
  JournalPhase phase = JournalPhase::Forward;
  std::int64_t done = 0;
  // The name of its file in the folder now; nothing for an orphan.
  std::optional<std::string> file;
};

// The file a journal belongs to is found as the file finds its journal
// (FindJournalName in rewrite/journal_file.h), so that the two never
// disagree:
//   - one set aside (OrphanJournalSuffix) belongs to no file;
//   - one named for a run, to the file marked for that run;
//   - one named for an inode, to the file with that inode: when the file is
//     marked, only if the journal's header is of the same run.
// Marks are read without opening the files.
JournalListing LookAtJournal(int folder, std::string_view name, FileCalls& calls);

// The folder's journals (drafts left out), in name order.
Result<std::vector<JournalListing>> ListJournals(int folder, FileCalls& calls);

}  // namespace quorvant
