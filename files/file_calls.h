#pragma once

// The system calls of the file operations, behind one thin seam so that a
// test can make a particular call fail (a write error, a failed sync) while
// everything else still runs against real files. Each function behaves like
// the system call it names: -1 with errno set on failure.

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "base/result.h"
#include "base/unique_fd.h"

namespace quorvant {

class FileCalls {
 public:
  virtual ~FileCalls() = default;

  virtual int OpenAt(int folder, const char* name, int flags);
  virtual int CreateAt(int folder, const char* name, int flags,
                       mode_t mode);  // openat(flags | O_CREAT, mode)
  virtual int StatAt(int folder, const char* name, struct stat* status, int flags);           // fstatat
  virtual int Access(int folder, const char* name, int mode, int flags);                      // faccessat
  virtual int Stat(int descriptor, struct stat* status);                                      // fstat
  virtual int ChangeMode(int descriptor, mode_t mode);                                        // fchmod
  virtual int Control(int descriptor, int command, int argument);                             // fcntl
  virtual int Lock(int descriptor, int operation);                                            // flock
  virtual ssize_t ReadAt(int descriptor, void* data, std::size_t size, off_t offset);         // pread
  virtual ssize_t WriteAt(int descriptor, const void* data, std::size_t size, off_t offset);  // pwrite
  virtual int SyncData(int descriptor);                                                       // fdatasync
  virtual int Sync(int descriptor);                                                    // fsync (for folders)
  virtual int RenameAt(int folder, const char* from, const char* to, unsigned flags);  // renameat2
  virtual int LinkAt(int folder, const char* from, const char* to);                    // linkat
  virtual int UnlinkAt(int folder, const char* name);                                  // unlinkat
  virtual ssize_t Random(void* data, std::size_t size);                                // getrandom
  virtual ssize_t GetAttribute(int descriptor, const char* name, void* value, std::size_t size);  // fgetxattr
  // lgetxattr of `name` in `folder`, without opening the file: even a
  // read-only open would break the lease of a run working on it.
  virtual ssize_t GetAttributeAt(int folder, const char* name, const char* attribute, void* value,
                                 std::size_t size);
  virtual int SetAttribute(int descriptor, const char* name, const void* value,
                           std::size_t size);                                  // fsetxattr
  virtual int RemoveAttribute(int descriptor, const char* name);               // fremovexattr
  virtual int Allocate(int descriptor, int mode, off_t offset, off_t length);  // fallocate
  virtual int Truncate(int descriptor, off_t length);                          // ftruncate
  virtual int FolderSpace(int descriptor, struct statvfs* space);              // fstatvfs
  // The inode's flags (ioctl FS_IOC_GETFLAGS: append-only, immutable ...).
  virtual int InodeFlags(int descriptor, int* flags);
  // sync_file_range(SYNC_FILE_RANGE_WRITE): starts writing those pages to the
  // disk without waiting, so that a later fdatasync has less left to do. A
  // hint for speed only: it makes nothing durable.
  virtual int StartWriteback(int descriptor, off_t offset, off_t length);
  // Whether a process other than this one has the file open, as far as
  // /proc shows (files/other_processes.h): for files on which no lease
  // could be taken.
  virtual bool OtherProcessHasOpen(dev_t device, ino_t inode);
};

// pread/pwrite until all of `data` is done, retrying after EINTR and short
// transfers. A file that ends early is a read error (with errno 0: no call
// failed). `name` goes into the
// error's action ("read report.txt").
Status ReadExactly(FileCalls& calls, int descriptor, std::span<std::uint8_t> data, std::int64_t offset,
                   std::string_view name);
Status WriteExactly(FileCalls& calls, int descriptor, std::span<const std::uint8_t> data, std::int64_t offset,
                    std::string_view name);

// renameat2(RENAME_NOREPLACE) inside one folder; where the file system does
// not support it, link + unlink, which refuses a taken name just the same,
// with the folder synced in between: otherwise a power loss could keep the
// unlink and lose the link, leaving the file with no name at all. Never
// replaces an existing file. -1 with errno on failure.
int RenameWithoutReplacing(FileCalls& calls, int folder, const char* from, const char* to);

// The errno of an attribute call on a file system that keeps no user
// attributes (ENOTSUP and EOPNOTSUPP are one value on Linux, but not
// everywhere).
inline bool MeansNoUserAttributes(int error_code) {
  return error_code == ENOTSUP || error_code == EOPNOTSUPP;
}
// The errno of a write that found no room (no space, or no quota left).
inline bool MeansNoSpace(int error_code) { return error_code == ENOSPC || error_code == EDQUOT; }

}  // namespace quorvant
