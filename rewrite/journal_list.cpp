#include "rewrite/journal_list.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>

#include "base/unique_fd.h"
#include "rewrite/journal_file.h"
#include "rewrite/run_mark.h"

namespace quorvant {

namespace {

// The names in the folder, "." and ".." left out.
Result<std::vector<std::string>> FolderNames(int folder) {
  const int own = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (own < 0) return Error::FromErrno("open the folder");
  DIR* listing = fdopendir(own);
  if (listing == nullptr) {
    const Error error = Error::FromErrno("read the folder");
    close(own);
    return error;
  }
  std::vector<std::string> names;
  errno = 0;
  while (const dirent* entry = readdir(listing)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  const int code = errno;
  closedir(listing);
  if (code != 0) return Error{code, "read the folder"};
  std::sort(names.begin(), names.end());
  return names;
}

// The boundary and phase by the journal's newest sound record.
void ReadProgress(int folder, JournalListing& listing, FileCalls& calls) {
  UniqueFd journal(calls.OpenAt(folder, listing.name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (!journal.IsOpen()) return;
  std::uint64_t newest = 0;
  for (int page = 0; page < 2; ++page) {
    JournalPage bytes{};
    if (!ReadExactly(calls, journal.Get(), bytes, JournalPageSize * (1 + page), listing.name)) continue;
    const std::optional<JournalRecord> record = DecodeRecord(bytes, *listing.header);
    if (!record || JournalRecordOffset(record->sequence) != JournalPageSize * (1 + page)) continue;
    if (record->sequence > newest) {
      newest = record->sequence;
      listing.phase = record->phase;
      listing.done = record->done_after;
    }
  }
}

bool IsRegularFile(int folder, const std::string& name, struct stat& status, FileCalls& calls) {
  return calls.StatAt(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(status.st_mode);
}

// Whether the file `name` is the one the journal belongs to (see LookAtJournal).
bool Belongs(int folder, const std::string& name, const JournalListing& journal, FileCalls& calls) {
  if (IsJournalName(name) || name.ends_with(JournalDraftSuffix)) return false;
  struct stat status {};
  if (!IsRegularFile(folder, name, status, calls)) return false;
  const Result<RunMark> mark = ReadRunMarkAt(folder, name, calls);
  const std::optional<RunId> marked = mark ? mark->run : std::nullopt;
  if (const std::optional<RunId> run = RunOfJournalName(journal.name)) return marked == run;
  const std::optional<ino_t> inode = InodeOfJournalName(journal.name);
  if (!inode || status.st_ino != *inode) return false;
  return !marked || (journal.header && journal.header->run_id == *marked);
}

JournalListing Look(int folder, std::string_view name, const std::vector<std::string>& names,
                    FileCalls& calls) {
  JournalListing listing;
  listing.name = std::string(name);
  listing.header = ReadJournalHeader(folder, name, calls);
  if (listing.header) ReadProgress(folder, listing, calls);
  if (name.ends_with(OrphanJournalSuffix)) return listing;
  for (const std::string& candidate : names) {
    if (Belongs(folder, candidate, listing, calls)) {
      listing.file = candidate;
      break;
    }
  }
  return listing;
}

}  // namespace

JournalListing LookAtJournal(int folder, std::string_view name, FileCalls& calls) {
  const Result<std::vector<std::string>> names = FolderNames(folder);
  return Look(folder, name, names ? *names : std::vector<std::string>{}, calls);
}

Result<std::vector<JournalListing>> ListJournals(int folder, FileCalls& calls) {
  const Result<std::vector<std::string>> names = FolderNames(folder);
  if (!names) return names.error();
  std::vector<JournalListing> journals;
  for (const std::string& name : *names) {
    if (IsJournalName(name)) journals.push_back(Look(folder, name, *names, calls));
  }
  return journals;
}

}  // namespace quorvant
