#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quorvant {

// One listed file of the current folder.
struct FileEntry {
  std::string name;  // bytes as the file system gives them (usually UTF-8)
  std::uint64_t size = 0;
  int encrypted_flag = 0;  // 1 when listed encrypted: the suffix, and for a strong one the end
  std::uint64_t inode = 0;
  bool interrupted = false;  // a run on it was cut short: its journal is in the folder
};

// The listed files in folder order. Entries are numbered from 1 for the user;
// entries[k - 1] is entry k.
struct FileTable {
  static constexpr int Capacity = 2000;
  // The largest jump of PgUp and PgDn.
  static constexpr int MaxPageStep = 8;

  std::vector<FileEntry> entries;
  int EncryptedCount = 0;

  int FileCount() const { return static_cast<int>(entries.size()); }
  // 1-based, as the user counts.
  const FileEntry& Entry(int index) const { return entries[static_cast<size_t>(index - 1)]; }
  // How far PgUp and PgDn move: a page of 8, or fewer in a small folder (0 for one file or none).
  int PageStep() const { return FileCount() == 0 ? 0 : std::min(FileCount() - 1, MaxPageStep); }
};

}  // namespace quorvant
