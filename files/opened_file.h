#pragma once

// Opening a file of a folder for the file operations, the Linux way of
// "opening without sharing": a regular file only (never a symlink, FIFO or
// device, and never created), held with a write lease so that no other
// program has it open meanwhile.
//
// While a lease is held, another program's open() of the file waits (up to
// /proc/sys/fs/lease-break-time seconds) and a non-blocking open fails with
// EWOULDBLOCK; this includes other descriptors of this same process. The
// lease is set up to send no signal, so a lease break never ends the process.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "files/file_calls.h"
#include "files/file_outcome.h"

namespace quorvant {

enum class FileAccess { ReadWrite, ReadOnly };
// How other programs are kept out: a lease where the file system supports
// it, an exclusive flock otherwise (which only stops programs that flock too).
enum class FileLock { Lease, Flock };

// One open file of a folder, with the geometry of the block loop. Closing it
// (by destruction) ends the lease.
class OpenedFile {
 public:
  OpenedFile(OpenedFile&&) noexcept = default;
  OpenedFile& operator=(OpenedFile&&) noexcept = default;

  int Descriptor() const { return file_.Get(); }
  // The folder the file lives in (a descriptor of its own, open for reading).
  int Folder() const { return folder_.Get(); }
  // The file's name in its folder; a transform updates it when it renames.
  const std::string& Name() const { return name_; }
  std::int64_t Length() const { return length_; }
  // min(Length(), MaxBlockLength); 0 for an empty file.
  std::int32_t BlockLength() const;
  // Length() - 1; -1 for an empty file.
  std::int64_t LastOffset() const { return length_ - 1; }
  FileAccess Access() const { return access_; }
  bool IsReadOnly() const { return access_ == FileAccess::ReadOnly; }
  FileLock Lock() const { return lock_; }
  dev_t Device() const { return device_; }
  ino_t Inode() const { return inode_; }

  // After a rename of the file in its folder.
  void SetName(std::string name) { name_ = std::move(name); }

 private:
  friend FileResult<OpenedFile> OpenFileInFolder(int folder, std::string_view name, FileCalls& calls);
  OpenedFile() = default;

  UniqueFd folder_;
  UniqueFd file_;
  std::string name_;
  std::int64_t length_ = 0;
  FileAccess access_ = FileAccess::ReadWrite;
  FileLock lock_ = FileLock::Lease;
  dev_t device_ = 0;
  ino_t inode_ = 0;
};

// Opens `name` (a plain name, no "/") of the folder `folder`:
//  - never creates it (a missing file is Vanished) and never follows a
//    symlink; anything but a regular file is NotRegular and is not opened;
//  - for reading and writing; when the owner lacks write permission it is
//    added (chmod u+w); a file that still cannot be opened for writing is
//    opened for reading only (Access() is ReadOnly);
//  - then locked (lease, else flock): refused while another program has the
//    file open, which gives AlreadyOpen and closes it again. With a flock,
//    "another program" is any process /proc shows with the file open.
// A refusal's error is the failed call for OpenError, and the errno behind
// the other refusals.
FileResult<OpenedFile> OpenFileInFolder(int folder, std::string_view name, FileCalls& calls);
FileResult<OpenedFile> OpenFileInFolder(int folder, std::string_view name);

// Whether an opened file may now be changed (transformed, erased): yes, or
//  - ReadOnly;
//  - AlreadyOpen when another program asked to open it since (its lease is
//    broken), or, where it has no lease, another process has it open as far
//    as /proc shows (FileCalls::OtherProcessHasOpen);
//  - ChangedElsewhere when its length is not what it was at the open;
//  - Vanished when it was deleted or its name now refers to another file;
//  - LinkedElsewhere when it has more than `names` names (hard links):
//    changing it under one name would leave the others with a file that no
//    longer fits them.
// A refusal carries the failed call, if one failed, or what was found.
FileStatus CheckReadyToChange(const OpenedFile& file, FileCalls& calls, nlink_t names = 1);

}  // namespace quorvant
