#pragma once

// The file-call seam for tests: real system calls, except the ones a test
// chooses to fail or to cut short.

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <functional>
#include <limits>

#include "files/file_calls.h"

namespace quorvant::testing {

class FaultyCalls : public FileCalls {
 public:
  // Call numbers count from 1; 0 means never.
  int fail_read = 0;         // this pread fails with EIO
  int fail_write = 0;        // this pwrite writes half its data, then reports EIO
  int fail_writes_from = 0;  // every pwrite from this one on fails (nothing written)
  int fail_sync_data = 0;    // this fdatasync fails with EIO
  bool fail_random = false;
  bool fail_unlink = false;  // every unlinkat fails with EIO
  int access_error = 0;      // faccessat fails with this errno (0: never)
  int folder_flags = -1;     // the inode flags every descriptor reports (-1: the real ones)
  // fcntl(F_SETLEASE) fails with this errno (0: never), as on a file system
  // without leases (EINVAL) or for a file of another user (EACCES).
  int lease_error = 0;
  // pread and pwrite move at most this many bytes per call.
  std::size_t max_transfer = std::numeric_limits<std::size_t>::max();
  // Asked before each pwrite: an errno makes it write half its data and
  // then fail with that errno (0: it writes as usual).
  std::function<int(int descriptor, off_t offset)> write_fault;
  // Runs before each fdatasync (for instance, to look at the file then).
  std::function<void(int descriptor)> before_sync_data;
  // Runs before each renameat2.
  std::function<void()> before_rename;
  // Asked instead of /proc whether another process has the file open; not
  // set: /proc is looked at.
  std::function<bool()> other_process_has_open;

  int reads = 0;
  int writes = 0;
  int syncs = 0;

  ssize_t ReadAt(int descriptor, void* data, std::size_t size, off_t offset) override {
    if (++reads == fail_read) return Fail(EIO);
    return FileCalls::ReadAt(descriptor, data, std::min(size, max_transfer), offset);
  }
  ssize_t WriteAt(int descriptor, const void* data, std::size_t size, off_t offset) override {
    ++writes;
    if (fail_writes_from != 0 && writes >= fail_writes_from) return Fail(EIO);
    if (const int fault = write_fault ? write_fault(descriptor, offset) : 0; fault != 0) {
      (void)FileCalls::WriteAt(descriptor, data, size / 2, offset);
      return Fail(fault);
    }
    if (writes == fail_write) {
      (void)FileCalls::WriteAt(descriptor, data, size / 2, offset);
      return Fail(EIO);
    }
    return FileCalls::WriteAt(descriptor, data, std::min(size, max_transfer), offset);
  }
  int SyncData(int descriptor) override {
    if (before_sync_data) before_sync_data(descriptor);
    if (++syncs == fail_sync_data) return static_cast<int>(Fail(EIO));
    return FileCalls::SyncData(descriptor);
  }
  int RenameAt(int folder, const char* from, const char* to, unsigned flags) override {
    if (before_rename) before_rename();
    return FileCalls::RenameAt(folder, from, to, flags);
  }
  int UnlinkAt(int folder, const char* name) override {
    if (fail_unlink) return static_cast<int>(Fail(EIO));
    return FileCalls::UnlinkAt(folder, name);
  }
  int InodeFlags(int descriptor, int* flags) override {
    if (folder_flags < 0) return FileCalls::InodeFlags(descriptor, flags);
    *flags = folder_flags;
    return 0;
  }
  int Access(int folder, const char* name, int mode, int flags) override {
    if (access_error != 0) return static_cast<int>(Fail(access_error));
    return FileCalls::Access(folder, name, mode, flags);
  }
  int Control(int descriptor, int command, int argument) override {
    if (command == F_SETLEASE && argument != F_UNLCK && lease_error != 0) {
      return static_cast<int>(Fail(lease_error));
    }
    return FileCalls::Control(descriptor, command, argument);
  }
  bool OtherProcessHasOpen(dev_t device, ino_t inode) override {
    if (other_process_has_open) return other_process_has_open();
    return FileCalls::OtherProcessHasOpen(device, inode);
  }
  ssize_t Random(void* data, std::size_t size) override {
    if (fail_random) return Fail(EIO);
    return FileCalls::Random(data, size);
  }

 private:
  static ssize_t Fail(int code) {
    errno = code;
    return -1;
  }
};

}  // namespace quorvant::testing
