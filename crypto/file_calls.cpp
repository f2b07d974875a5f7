#include "crypto/file_calls.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

namespace quorvant {

int FileCalls::OpenAt(int folder, const char* name, int flags) { return ::openat(folder, name, flags); }

int FileCalls::StatAt(int folder, const char* name, struct stat* status, int flags) {
  return ::fstatat(folder, name, status, flags);
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

Status ReadExactly(FileCalls& calls, int descriptor, std::span<std::uint8_t> data, std::int64_t offset,
                   std::string_view name) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t count = calls.ReadAt(descriptor, data.data() + done, data.size() - done,
                                       static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
    if (count < 0) {
      if (errno == EINTR) continue;
      return Error::FromErrno("read " + std::string(name));
    }
    if (count == 0) return Error{EIO, "read " + std::string(name) + " (the file ended early)"};
    done += static_cast<std::size_t>(count);
  }
  return {};
}

Status WriteExactly(FileCalls& calls, int descriptor, std::span<const std::uint8_t> data, std::int64_t offset,
                    std::string_view name) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t count = calls.WriteAt(descriptor, data.data() + done, data.size() - done,
                                        static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
    if (count < 0) {
      if (errno == EINTR) continue;
      return Error::FromErrno("write " + std::string(name));
    }
    if (count == 0) return Error{EIO, "write " + std::string(name)};
    done += static_cast<std::size_t>(count);
  }
  return {};
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) Reset(other.Release());
  return *this;
}

int UniqueFd::Release() { return std::exchange(descriptor_, -1); }

void UniqueFd::Reset(int descriptor) {
  // close() is not retried on EINTR: on Linux the descriptor is gone either way.
  if (descriptor_ >= 0) ::close(descriptor_);
  descriptor_ = descriptor;
}

}  // namespace quorvant
