#include "files/file_calls.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "base/retry.h"
#include "files/other_processes.h"

namespace quorvant {

int FileCalls::OpenAt(int folder, const char* name, int flags) { return ::openat(folder, name, flags); }

int FileCalls::CreateAt(int folder, const char* name, int flags, mode_t mode) {
  return ::openat(folder, name, flags | O_CREAT, mode);
}

int FileCalls::StatAt(int folder, const char* name, struct stat* status, int flags) {
  return ::fstatat(folder, name, status, flags);
}

int FileCalls::Access(int folder, const char* name, int mode, int flags) {
  return ::faccessat(folder, name, mode, flags);
}

int FileCalls::Stat(int descriptor, struct stat* status) { return ::fstat(descriptor, status); }

int FileCalls::ChangeMode(int descriptor, mode_t mode) { return ::fchmod(descriptor, mode); }

int FileCalls::Control(int descriptor, int command, int argument) {
  return ::fcntl(descriptor, command, argument);
}

int FileCalls::Lock(int descriptor, int operation) { return ::flock(descriptor, operation); }

ssize_t FileCalls::ReadAt(int descriptor, void* data, std::size_t size, off_t offset) {
  return ::pread(descriptor, data, size, offset);
}

ssize_t FileCalls::WriteAt(int descriptor, const void* data, std::size_t size, off_t offset) {
  return ::pwrite(descriptor, data, size, offset);
}

int FileCalls::SyncData(int descriptor) { return ::fdatasync(descriptor); }

int FileCalls::Sync(int descriptor) { return ::fsync(descriptor); }

int FileCalls::RenameAt(int folder, const char* from, const char* to, unsigned flags) {
  return ::renameat2(folder, from, folder, to, flags);
}

int FileCalls::LinkAt(int folder, const char* from, const char* to) {
  return ::linkat(folder, from, folder, to, 0);
}

int FileCalls::UnlinkAt(int folder, const char* name) { return ::unlinkat(folder, name, 0); }

ssize_t FileCalls::Random(void* data, std::size_t size) { return ::getrandom(data, size, 0); }

ssize_t FileCalls::GetAttribute(int descriptor, const char* name, void* value, std::size_t size) {
  return ::fgetxattr(descriptor, name, value, size);
}

ssize_t FileCalls::GetAttributeAt(int folder, const char* name, const char* attribute, void* value,
                                  std::size_t size) {
  // There is no lgetxattr relative to a folder descriptor: its /proc link stands in.
  const std::string path = "/proc/self/fd/" + std::to_string(folder) + "/" + name;
  return ::lgetxattr(path.c_str(), attribute, value, size);
}

int FileCalls::SetAttribute(int descriptor, const char* name, const void* value, std::size_t size) {
  return ::fsetxattr(descriptor, name, value, size, 0);
}

int FileCalls::RemoveAttribute(int descriptor, const char* name) { return ::fremovexattr(descriptor, name); }

int FileCalls::Allocate(int descriptor, int mode, off_t offset, off_t length) {
  return ::fallocate(descriptor, mode, offset, length);
}

int FileCalls::Truncate(int descriptor, off_t length) { return ::ftruncate(descriptor, length); }

int FileCalls::FolderSpace(int descriptor, struct statvfs* space) { return ::fstatvfs(descriptor, space); }

int FileCalls::InodeFlags(int descriptor, int* flags) { return ::ioctl(descriptor, FS_IOC_GETFLAGS, flags); }

int FileCalls::StartWriteback(int descriptor, off_t offset, off_t length) {
  return ::sync_file_range(descriptor, offset, length, SYNC_FILE_RANGE_WRITE);
}

bool FileCalls::OtherProcessHasOpen(dev_t device, ino_t inode) {
  return quorvant::OtherProcessHasOpen(device, inode);
}

Status ReadExactly(FileCalls& calls, int descriptor, std::span<std::uint8_t> data, std::int64_t offset,
                   std::string_view name) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t count = RetryOnInterrupt([&] {
      return calls.ReadAt(descriptor, data.data() + done, data.size() - done,
                          static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
    });
    if (count < 0) return Error::FromErrno("read " + std::string(name));
    // Not a failed call: the file is shorter than it was when opened.
    if (count == 0) return Error{0, "read " + std::string(name) + ": the file ended early"};
    done += static_cast<std::size_t>(count);
  }
  return {};
}

Status WriteExactly(FileCalls& calls, int descriptor, std::span<const std::uint8_t> data, std::int64_t offset,
                    std::string_view name) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t count = RetryOnInterrupt([&] {
      return calls.WriteAt(descriptor, data.data() + done, data.size() - done,
                           static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
    });
    if (count < 0) return Error::FromErrno("write " + std::string(name));
    if (count == 0) return Error{EIO, "write " + std::string(name)};
    done += static_cast<std::size_t>(count);
  }
  return {};
}

int RenameWithoutReplacing(FileCalls& calls, int folder, const char* from, const char* to) {
  if (calls.RenameAt(folder, from, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return -1;
  // No RENAME_NOREPLACE here: a hard link fails on a taken name just the same.
  if (calls.LinkAt(folder, from, to) != 0) return -1;
  if (calls.Sync(folder) != 0 || calls.UnlinkAt(folder, from) != 0) {
    const int code = errno;
    calls.UnlinkAt(folder, to);
    errno = code;
    return -1;
  }
  return 0;
}

}  // namespace quorvant
