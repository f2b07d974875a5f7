#include "files/opened_file.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/support/faulty_calls.h"
#include "tests/support/read_only_files.h"
#include "tests/support/temp_folder.h"

namespace quorvant {
namespace {

using testing::PatternBytes;
using testing::TempFolder;

TEST(OpenedFileTest, OpensARegularFileWithItsBlockGeometry) {
  struct Case {
    std::size_t length;
    std::int32_t block_length;
    std::int64_t last_offset;
  };
  const Case cases[] = {{1, 1, 0}, {20000, 16384, 19999}, {16384, 16384, 16383}, {0, 0, -1}};
  for (const Case& geometry : cases) {
    TempFolder folder;
    folder.Write("file", PatternBytes(geometry.length));
    const FileResult<OpenedFile> opened = OpenFileInFolder(folder.Fd(), "file");
    ASSERT_EQ(FailureOf(opened).outcome, FileOutcome::Done) << FailureOf(opened).error.Describe();
    EXPECT_EQ(opened->Length(), static_cast<std::int64_t>(geometry.length));
    EXPECT_EQ(opened->BlockLength(), geometry.block_length);
    EXPECT_EQ(opened->LastOffset(), geometry.last_offset);
    EXPECT_FALSE(opened->IsReadOnly());
    EXPECT_EQ(opened->Name(), "file");
  }
}

// Only regular files are opened; nothing is created, nothing followed, and a
// FIFO is looked at but never opened, so it cannot hang the program.
TEST(OpenedFileTest, RefusesWhatIsNotARegularFile) {
  TempFolder folder;
  TempFolder elsewhere;
  elsewhere.Write("outside.txt", {1, 2, 3});
  ASSERT_EQ(::symlinkat(elsewhere.PathOf("outside.txt").c_str(), folder.Fd(), "link"), 0);
  ASSERT_EQ(::mkfifoat(folder.Fd(), "fifo", 0644), 0);
  ASSERT_EQ(::mkdirat(folder.Fd(), "folder", 0755), 0);
  struct Case {
    const char* name;
    FileOutcome expected;
  };
  const Case cases[] = {{"link", FileOutcome::NotRegular},
                        {"fifo", FileOutcome::NotRegular},
                        {"folder", FileOutcome::NotRegular},
                        {".", FileOutcome::NotRegular},
                        {"gone", FileOutcome::Vanished}};
  for (const Case& refused : cases) {
    SCOPED_TRACE(refused.name);
    const FileResult<OpenedFile> opened = OpenFileInFolder(folder.Fd(), refused.name);
    EXPECT_EQ(FailureOf(opened).outcome, refused.expected);
    EXPECT_FALSE(opened.ok());
  }
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"fifo", "folder", "link"}));
  EXPECT_EQ(elsewhere.Read("outside.txt"), (std::vector<std::uint8_t>{1, 2, 3}));
}

// Should a FIFO take a file's place between the look and the open, the
// non-blocking open returns at once and the check on the open descriptor
// refuses it.
TEST(OpenedFileTest, AFifoSwappedInAfterTheLookIsStillRefused) {
  class RegularLookingCalls : public FileCalls {
   public:
    int StatAt(int folder, const char* name, struct stat* status, int flags) override {
      const int result = FileCalls::StatAt(folder, name, status, flags);
      status->st_mode = (status->st_mode & ~S_IFMT) | S_IFREG;
      return result;
    }
  } calls;
  TempFolder folder;
  ASSERT_EQ(::mkfifoat(folder.Fd(), "fifo", 0644), 0);
  const FileResult<OpenedFile> opened = OpenFileInFolder(folder.Fd(), "fifo", calls);
  EXPECT_EQ(FailureOf(opened).outcome, FileOutcome::NotRegular);
}

// A lease is refused while any other descriptor has the file open, another
// process's or our own.
TEST(OpenedFileTest, AFileOpenElsewhereIsAlreadyOpenAndUntouched) {
  TempFolder folder;
  const std::vector<std::uint8_t> content = PatternBytes(5000);
  folder.Write("busy.txt", content);

  // Another descriptor of this process, for reading only.
  {
    const int other = ::openat(folder.Fd(), "busy.txt", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    EXPECT_EQ(FailureOf(OpenFileInFolder(folder.Fd(), "busy.txt")).outcome, FileOutcome::AlreadyOpen);
    ::close(other);
  }
  // Another process, for writing.
  int ready[2];
  int release[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(release), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int held = ::open(folder.PathOf("busy.txt").c_str(), O_RDWR);
    char signal = held >= 0 ? 'y' : 'n';
    // The child reports failures through its exit status.
    const bool told = ::write(ready[1], &signal, 1) == 1;
    const bool released = ::read(release[0], &signal, 1) == 1;
    ::_exit(told && released ? 0 : 1);
  }
  char answer = 0;
  ASSERT_EQ(::read(ready[0], &answer, 1), 1);
  ASSERT_EQ(answer, 'y');
  const FileResult<OpenedFile> opened = OpenFileInFolder(folder.Fd(), "busy.txt");
  EXPECT_EQ(FailureOf(opened).outcome, FileOutcome::AlreadyOpen);
  EXPECT_EQ(::write(release[1], "x", 1), 1);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  for (int descriptor : {ready[0], ready[1], release[0], release[1]}) ::close(descriptor);

  EXPECT_EQ(folder.Names(), std::vector<std::string>{"busy.txt"});
  EXPECT_EQ(folder.Read("busy.txt"), content);
  // Once the other program lets go, the file opens.
  EXPECT_EQ(FailureOf(OpenFileInFolder(folder.Fd(), "busy.txt")).outcome, FileOutcome::Done);
}

// While we hold the file, another program cannot open it without waiting,
// and the lease break it causes sends no signal that would end this process.
TEST(OpenedFileTest, HoldsOthersOffWhileOpen) {
  TempFolder folder;
  folder.Write("held", {1, 2, 3});
  const FileResult<OpenedFile> opened = OpenFileInFolder(folder.Fd(), "held");
  ASSERT_EQ(FailureOf(opened).outcome, FileOutcome::Done);
  ASSERT_EQ(opened->Lock(), FileLock::Lease);
  EXPECT_EQ(::openat(folder.Fd(), "held", O_RDONLY | O_NONBLOCK | O_CLOEXEC), -1);
  EXPECT_EQ(errno, EWOULDBLOCK);
  FileCalls calls;
  const FileStatus ready = CheckReadyToChange(*opened, calls);
  ASSERT_FALSE(ready);
  EXPECT_EQ(ready.error().outcome, FileOutcome::AlreadyOpen);
}

// As with a read-only attribute, an owner without write permission gets it.
TEST(OpenedFileTest, GivesTheOwnerWritePermission) {
  TempFolder folder;
  folder.Write("locked.txt", {1});
  ASSERT_EQ(::fchmodat(folder.Fd(), "locked.txt", 0444, 0), 0);
  {
    const FileResult<OpenedFile> opened = OpenFileInFolder(folder.Fd(), "locked.txt");
    ASSERT_EQ(FailureOf(opened).outcome, FileOutcome::Done);
    EXPECT_FALSE(opened->IsReadOnly());
  }
  struct stat status {};
  ASSERT_EQ(::fstatat(folder.Fd(), "locked.txt", &status, 0), 0);
  EXPECT_EQ(status.st_mode & 0777, 0644u);
}

// A file that can be read but not written is opened for reading, for the
// analysis views; everything that changes files refuses it (their own tests),
// and the open itself changes nothing.
TEST(OpenedFileTest, AFileThatCannotBeWrittenOpensReadOnly) {
  testing::ForEachReadOnlyFile([](OpenedFile& file, FileCalls& calls,
                                  const std::vector<std::uint8_t>& content) {
    std::vector<std::uint8_t> first(content.size());
    ASSERT_EQ(::pread(file.Descriptor(), first.data(), first.size(), 0), static_cast<ssize_t>(first.size()));
    EXPECT_EQ(first, content);
    const FileStatus ready = CheckReadyToChange(file, calls);
    ASSERT_FALSE(ready);
    EXPECT_EQ(ready.error().outcome, FileOutcome::ReadOnly);
  });
}

// The looks at the file once it is open: a failure or a deleted file
// refuses the open with what was found, and lets go of the file.
TEST(OpenedFileTest, ALookAfterTheOpenRefusesWithWhatItFound) {
  class LookCalls : public FileCalls {
   public:
    int failing_look = 0;   // this fstat fails with EIO (1: before the lock, 2: after it)
    int unlinked_look = 0;  // this fstat reports the file deleted
    int looks = 0;
    int Stat(int descriptor, struct stat* status) override {
      if (++looks == failing_look) {
        errno = EIO;
        return -1;
      }
      const int result = FileCalls::Stat(descriptor, status);
      if (looks == unlinked_look) status->st_nlink = 0;
      return result;
    }
  };
  struct Case {
    const char* what;
    int failing_look, unlinked_look;
    FileOutcome outcome;
    int code;
  };
  const Case cases[] = {{"before the lock", 1, 0, FileOutcome::OpenError, EIO},
                        {"after the lock", 2, 0, FileOutcome::OpenError, EIO},
                        {"deleted meanwhile", 0, 2, FileOutcome::Vanished, ENOENT}};
  for (const Case& look : cases) {
    SCOPED_TRACE(look.what);
    TempFolder folder;
    folder.Write("file", {1, 2, 3});
    LookCalls calls;
    calls.failing_look = look.failing_look;
    calls.unlinked_look = look.unlinked_look;
    const FileResult<OpenedFile> refused = OpenFileInFolder(folder.Fd(), "file", calls);
    EXPECT_EQ(FailureOf(refused).outcome, look.outcome);
    EXPECT_EQ(FailureOf(refused).error.code, look.code);
    EXPECT_FALSE(refused.ok());
    EXPECT_EQ(FailureOf(OpenFileInFolder(folder.Fd(), "file")).outcome, FileOutcome::Done);
  }
}

// Where leases are not to be had, an exclusive flock keeps out other flock users.
TEST(OpenedFileTest, FallsBackToFlockWithoutLeases) {
  class NoLeaseCalls : public FileCalls {
   public:
    int Control(int descriptor, int command, int argument) override {
      if (command == F_SETLEASE) {
        errno = EINVAL;
        return -1;
      }
      return FileCalls::Control(descriptor, command, argument);
    }
  } calls;
  TempFolder folder;
  folder.Write("nfs-file", {1, 2});
  const FileResult<OpenedFile> first = OpenFileInFolder(folder.Fd(), "nfs-file", calls);
  ASSERT_EQ(FailureOf(first).outcome, FileOutcome::Done);
  EXPECT_EQ(first->Lock(), FileLock::Flock);
  EXPECT_EQ(FailureOf(OpenFileInFolder(folder.Fd(), "nfs-file", calls)).outcome, FileOutcome::AlreadyOpen);
}

}  // namespace
}  // namespace quorvant
