#pragma once

// Two ways to have a file that can be read but not written, for the tests of
// everything that must refuse to change such a file: the immutable attribute
// on a real file (tests run as root, whom permission bits do not stop), and a
// seam that refuses every open for writing.

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include "files/file_calls.h"
#include "files/opened_file.h"
#include "tests/support/temp_folder.h"

namespace quorvant::testing {

// Every open for writing fails with EROFS, as on a read-only medium.
class ReadOnlyFileSystem : public FileCalls {
 public:
  int OpenAt(int folder, const char* name, int flags) override {
    if ((flags & O_ACCMODE) != O_RDONLY) {
      errno = EROFS;
      return -1;
    }
    return FileCalls::OpenAt(folder, name, flags);
  }
};

// Sets or clears the immutable attribute; false where that is not possible
// (no privilege, or a file system without it).
inline bool SetImmutable(const TempFolder& folder, const std::string& name, bool immutable) {
  const int descriptor = ::open(folder.PathOf(name).c_str(), O_RDONLY | O_CLOEXEC);
  int flags = 0;
  bool done = descriptor >= 0 && ::ioctl(descriptor, FS_IOC_GETFLAGS, &flags) == 0;
  flags = immutable ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
  done = done && ::ioctl(descriptor, FS_IOC_SETFLAGS, &flags) == 0;
  if (descriptor >= 0) ::close(descriptor);
  return done;
}

// For each way of making a file read-only (through the seam, then with the
// immutable attribute where it can be set): writes "frozen", opens it,
// checks it opened for reading only, runs `attempt` on it, and checks that
// the folder then holds that file alone, byte for byte as before.
inline void ForEachReadOnlyFile(
    const std::function<void(OpenedFile& file, FileCalls& calls, const std::vector<std::uint8_t>& content)>&
        attempt) {
  TempFolder folder;
  folder.Write("frozen", PatternBytes(3000));
  const std::vector<std::uint8_t> before = folder.Read("frozen");
  const auto check = [&](FileCalls& calls) {
    {
      FileResult<OpenedFile> opened = OpenFileInFolder(folder.Fd(), "frozen", calls);
      ASSERT_EQ(FailureOf(opened).outcome, FileOutcome::Done) << FailureOf(opened).error.Describe();
      ASSERT_TRUE(opened->IsReadOnly());
      attempt(*opened, calls, before);
    }
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"frozen"});
    EXPECT_EQ(folder.Read("frozen"), before);
  };
  {
    SCOPED_TRACE("a file system refusing writes");
    ReadOnlyFileSystem calls;
    check(calls);
  }
  if (!SetImmutable(folder, "frozen", true)) return;  // the seam case above covers it
  {
    SCOPED_TRACE("an immutable file");
    FileCalls calls;
    check(calls);
  }
  SetImmutable(folder, "frozen", false);
}

}  // namespace quorvant::testing
