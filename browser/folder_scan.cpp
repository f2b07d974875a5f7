#include "browser/folder_scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <optional>
#include <vector>

#include "base/retry.h"
#include "base/unique_fd.h"
#include "browser/navigation.h"
#include "crypto/encrypted_name.h"
#include "crypto/strong_trailer.h"
#include "files/file_calls.h"
#include "rewrite/journal_format.h"
#include "rewrite/run_mark.h"

namespace quorvant {

namespace {

// Big enough for a folder of a few hundred files in one read; larger folders
// take a few reads.
constexpr std::size_t ReadBufferSize = 32 * 1024;

// One record of getdents64, read field by field so that nothing assumes more
// of the record than the kernel wrote.
struct FolderRecord {
  std::size_t length = 0;
  unsigned char type = DT_UNKNOWN;
  const char* name = nullptr;  // zero-terminated inside the record
  std::string_view name_view;
};

FolderRecord ReadRecord(const char* record) {
  FolderRecord result;
  unsigned short record_length = 0;
  std::memcpy(&record_length, record + offsetof(struct dirent64, d_reclen), sizeof record_length);
  result.length = record_length;
  result.type = static_cast<unsigned char>(record[offsetof(struct dirent64, d_type)]);
  result.name = record + offsetof(struct dirent64, d_name);
  result.name_view =
      std::string_view(result.name, strnlen(result.name, record_length - offsetof(struct dirent64, d_name)));
  return result;
}

// Whether an entry could be listed, judged from the name and the folder's own
// idea of its kind, before any system call is spent on it.
bool MayList(const FolderRecord& record) {
  if (record.type != DT_REG && record.type != DT_UNKNOWN) return false;
  return NameMayBeListed(record.name_view);
}

// Writes entry number count + 1, reusing the string of an earlier scan.
void StoreEntry(FileTable& table, std::size_t count, std::string_view name, std::uint64_t size,
                std::uint64_t inode, int flag) {
  if (count < table.entries.size()) {
    FileEntry& entry = table.entries[count];
    entry.name.assign(name);
    entry.size = size;
    entry.encrypted_flag = flag;
    entry.inode = inode;
    entry.interrupted = false;
  } else {
    table.entries.push_back(FileEntry{std::string(name), size, flag, inode, false});
  }
}

// Whether the file `name` (of the strong shape) ends as a strong file does:
// a trailer's mark at its end, sound, damaged, cut or followed by appended
// bytes. Enter decrypts the one and refuses the others as damaged or cut;
// either way it is no plain file. The end is judged as Enter's admission
// judges it: when the last bytes hold no mark, the last chunk's worth is
// searched too, so a plain file with such a name costs that read per
// listing (such names are rare) and a cut trailer is not taken for plain.
//
// Even a non-blocking open asks a lease holder to let go, which would stop
// another copy's run on the file: a file that carries a run's mark is being
// worked on (or its run was cut short) and is not opened; its name is
// believed. A file that cannot be opened, or is no longer the one looked
// at, is not counted strong.
bool HasStrongEnd(int folder, const char* name, std::uint64_t inode) {
  FileCalls calls;
  const Result<RunMark> mark = ReadRunMarkAt(folder, name, calls);
  if (mark && mark->run) return true;
  const UniqueFd file(openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!file.IsOpen()) return false;
  struct stat facts {};
  if (fstat(file.Get(), &facts) != 0 || !S_ISREG(facts.st_mode) || facts.st_ino != inode) return false;
  const Result<StrongEnd> end = ReadStrongEnd(calls, file.Get(), facts.st_size, name, TrailerSearch::NearEnd);
  return end && end->kind != StrongEndKind::NoMagic;
}

// 1 when the entry is listed as encrypted: by the classic suffix's shape
// alone, by the strong one's shape and the file's end.
int EncryptedFlag(int folder, const char* name, std::string_view name_view, std::uint64_t inode) {
  if (HasEncryptedSuffixShape(name_view)) return 1;
  return HasStrongSuffixShape(name_view) && HasStrongEnd(folder, name, inode) ? 1 : 0;
}

// A handle of our own starts at the folder's first entry whatever folder_fd
// has been used for, and works when folder_fd is an O_PATH descriptor.
UniqueFd OpenForListing(int folder_fd, const FolderScanSeam* seam) {
  const int fault = seam != nullptr && seam->BeforeOpen ? seam->BeforeOpen() : 0;
  if (fault != 0) {
    errno = fault;
    return UniqueFd();
  }
  return UniqueFd(openat(folder_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// What a pass over the folder's records found besides the entries it
// stored in the table.
struct Listing {
  std::size_t count = 0;  // entries stored
  int encrypted_count = 0;
  // The inodes the folder's journals are named for (usually none).
  std::vector<std::uint64_t> journal_inodes;
  // The runs the folder's journals are named for.
  std::vector<RunId> journal_runs;
};

void NoteJournalName(std::string_view name, Listing& listing) {
  if (const std::optional<ino_t> inode = InodeOfJournalName(name)) listing.journal_inodes.push_back(*inode);
  if (const std::optional<RunId> run = RunOfJournalName(name)) listing.journal_runs.push_back(*run);
}

// Stores the record's entry when it names a regular, non-empty file.
void StoreIfListable(int folder, const FolderRecord& record, FileTable& table, Listing& listing,
                     const FolderScanSeam* seam) {
  if (!MayList(record)) return;
  if (seam != nullptr && seam->BeforeStat) seam->BeforeStat(record.name_view);
  // The folder's idea of the kind may be stale or unknown: the kind and
  // size that count are those of the entry itself, never following a link.
  struct stat facts {};
  if (fstatat(folder, record.name, &facts, AT_SYMLINK_NOFOLLOW) != 0) return;
  if (!S_ISREG(facts.st_mode) || facts.st_size <= 0) return;
  const int flag = EncryptedFlag(folder, record.name, record.name_view, facts.st_ino);
  StoreEntry(table, listing.count, record.name_view, static_cast<std::uint64_t>(facts.st_size), facts.st_ino,
             flag);
  listing.encrypted_count += flag;
  ++listing.count;
}

// Reads the folder's records to its end, or until the table is full.
Status ReadListing(int folder, FileTable& table, Listing& listing, const FolderScanSeam* seam) {
  alignas(struct dirent64) char buffer[ReadBufferSize];
  for (;;) {
    const ssize_t got = RetryOnInterrupt([&] { return getdents64(folder, buffer, sizeof buffer); });
    if (got < 0) return Error::FromErrno("read folder");
    if (got == 0) return {};
    for (std::size_t offset = 0; offset < static_cast<std::size_t>(got);) {
      const FolderRecord record = ReadRecord(buffer + offset);
      offset += record.length;
      NoteJournalName(record.name_view, listing);
      StoreIfListable(folder, record, table, listing, seam);
      if (listing.count == static_cast<std::size_t>(FileTable::Capacity)) return {};
    }
  }
}

// Marks the entries whose run a journal of the folder belongs to: by the
// inode a journal is named for, or by the run a file's mark names.
void MarkInterrupted(int folder, FileTable& table, Listing& listing) {
  if (!listing.journal_inodes.empty()) {
    std::sort(listing.journal_inodes.begin(), listing.journal_inodes.end());
    for (FileEntry& entry : table.entries) {
      entry.interrupted =
          std::binary_search(listing.journal_inodes.begin(), listing.journal_inodes.end(), entry.inode);
    }
  }
  if (!listing.journal_runs.empty()) {
    // A file leads to its run's journal by its mark, read without opening it.
    FileCalls calls;
    const std::vector<RunId>& runs = listing.journal_runs;
    for (FileEntry& entry : table.entries) {
      const Result<RunMark> mark = ReadRunMarkAt(folder, entry.name, calls);
      if (mark && mark->run && std::find(runs.begin(), runs.end(), *mark->run) != runs.end()) {
        entry.interrupted = true;
      }
    }
  }
}

}  // namespace

Status FolderScan(int folder_fd, FileTable& table, const FolderScanSeam* seam) {
  table.entries.reserve(FileTable::Capacity);
  Listing listing;
  const UniqueFd folder = OpenForListing(folder_fd, seam);
  const Status status =
      folder.IsOpen() ? ReadListing(folder.Get(), table, listing, seam) : Error::FromErrno("open folder");
  table.entries.resize(listing.count);
  MarkInterrupted(folder.Get(), table, listing);
  // The folder's own order on Linux follows name hashes: a file renamed by
  // encryption would jump to another place and the selection would land on
  // another file. Names ordered as people read them stay put instead.
  std::sort(table.entries.begin(), table.entries.end(),
            [](const FileEntry& a, const FileEntry& b) { return ListedBefore(a.name, b.name); });
  table.EncryptedCount = listing.encrypted_count;
  return status;
}

bool NameMayBeListed(std::string_view name) {
  if (name.empty() || name.front() == '.') return false;
  return !BeginsWithProgramName(name);
}

bool UpdateEntry(int folder_fd, FileTable& table, const std::string& name) {
  const auto found = std::lower_bound(
      table.entries.begin(), table.entries.end(), name,
      [](const FileEntry& entry, const std::string& wanted) { return ListedBefore(entry.name, wanted); });
  if (found == table.entries.end() || found->name != name) return false;
  struct stat facts {};
  if (fstatat(folder_fd, name.c_str(), &facts, AT_SYMLINK_NOFOLLOW) != 0) return false;
  // Same inode, so its journal mark and everything taken from the name hold.
  if (!S_ISREG(facts.st_mode) || facts.st_size <= 0 || facts.st_ino != found->inode) return false;
  found->size = static_cast<std::uint64_t>(facts.st_size);
  // A strong-shaped name's end may have changed with its content.
  if (HasStrongSuffixShape(name)) {
    const int flag = HasStrongEnd(folder_fd, name.c_str(), found->inode) ? 1 : 0;
    table.EncryptedCount += flag - found->encrypted_flag;
    found->encrypted_flag = flag;
  }
  return true;
}

namespace {
// ASCII letters to lower case; every other byte as it is, whatever the locale.
int FoldAscii(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }
}  // namespace

bool ListedBefore(std::string_view a, std::string_view b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const int folded_a = FoldAscii(static_cast<unsigned char>(a[i]));
    const int folded_b = FoldAscii(static_cast<unsigned char>(b[i]));
    if (folded_a != folded_b) return folded_a < folded_b;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

ScanDecision DecideAfterScan(const FileTable& table, int selected_index, std::string_view last_shown_name,
                             std::uint64_t last_shown_size) {
  ScanDecision decision;
  decision.SelectedIndex = selected_index;
  if (table.FileCount() == 0) {
    decision.FolderEmpty = true;
    return decision;
  }
  decision.SelectedIndex = ClampSelection(table, selected_index);
  const FileEntry& selected = table.Entry(decision.SelectedIndex);
  decision.RedrawSelected = decision.SelectedIndex != selected_index || selected.name != last_shown_name ||
                            selected.size != last_shown_size;
  return decision;
}

}  // namespace quorvant
