// Other programs and second names during a run, on real files: a lease that
// another process breaks, a process that has the file open where no lease
// can be taken, a file that grows or is cut short, a hard link made before
// or during the run. A run never reports "done" or "as before" for a file
// another program changed, and never writes past the file's end.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "crypto/encrypted_name.h"
#include "rewrite/file_transform.h"
#include "rewrite/journal_format.h"
#include "tests/support/faulty_calls.h"
#include "tests/support/interrupted_run.h"
#include "tests/support/remembering_key_checker.h"
#include "tests/support/sample_key.h"
#include "tests/support/temp_folder.h"

namespace quorvant {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::FaultyCalls;
using testing::Key;
using testing::PatternBytes;
using testing::Suffix;
using testing::SuffixText;
using testing::TempFolder;

constexpr std::int64_t Block = MaxBlockLength;
// Ten blocks and a bit, in windows of two blocks.
constexpr std::int64_t Length = 10 * Block + 123;

testing::RememberingKeyChecker& Checker() {
  static testing::RememberingKeyChecker checker;
  return checker;
}

Bytes Encrypted(Bytes data) {
  KeyWords words = BuildKeyWords(Key, Suffix);
  for (std::size_t at = 0; at < data.size(); at += Block) {
    TransformBlock(std::span(data).subspan(at, std::min<std::size_t>(data.size() - at, Block)),
                   static_cast<std::int32_t>(Block), Direction::Encrypt, words);
  }
  return data;
}

// A process of its own that has a file open, or only mapped (its
// descriptor closed again), until it is let go.
class Holder {
 public:
  enum class Hold { Open, MappedOnly };
  explicit Holder(const std::string& path, Hold hold = Hold::Open) {
    int ready[2], release[2];
    if (pipe(ready) != 0 || pipe(release) != 0) std::abort();
    pid_ = fork();
    if (pid_ == 0) {
      // Only the parent's end of `release` may stay open, or the read below
      // never sees it closed.
      close(release[1]);
      close(ready[0]);
      const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
      bool holding = file >= 0;
      if (holding && hold == Hold::MappedOnly) {
        holding = mmap(nullptr, 4096, PROT_READ, MAP_SHARED, file, 0) != MAP_FAILED;
        close(file);
      }
      char byte = holding ? 'y' : 'n';
      (void)!write(ready[1], &byte, 1);
      (void)!read(release[0], &byte, 1);  // until the parent closes its end
      _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    char byte = 0;
    EXPECT_EQ(read(ready[0], &byte, 1), 1);
    EXPECT_EQ(byte, 'y') << "the holder could not open " << path;
    close(ready[0]);
    release_ = release[1];
  }
  ~Holder() {
    close(release_);
    waitpid(pid_, nullptr, 0);
  }

 private:
  pid_t pid_ = -1;
  int release_ = -1;
};

// Another process asks to open the file and is told to wait (a non-blocking
// open), which starts breaking our lease.
void AnotherProcessAsksToOpen(const std::string& path) {
  const pid_t child = fork();
  if (child == 0) {
    const int file = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    _exit(file < 0 && errno == EWOULDBLOCK ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the open was not held back by the lease";
}

// The folder as a run finds it: `name` holds the plain bytes (encrypt) or
// their encryption with its key check (decrypt).
struct Fixture {
  Direction direction;
  TempFolder folder;
  Bytes plain = PatternBytes(Length, 21);
  std::string name;
  std::string other_name;       // the name after the run
  std::int64_t cancel_at = -1;  // the block at whose progress step the user cancels

  explicit Fixture(Direction run_direction) : direction(run_direction) {
    name = direction == Direction::Encrypt ? "f" : "f" + SuffixText;
    other_name = direction == Direction::Encrypt ? "f" + SuffixText : "f";
    folder.Write(name, Before());
    if (direction == Direction::Decrypt) {
      const Result<KeyCheckValue> check = Checker().Make(Key, Suffix, Length);
      EXPECT_EQ(setxattr(folder.PathOf(name).c_str(), KeyCheckAttributeName, check->data(), check->size(), 0),
                0);
    }
  }
  Bytes Before() const { return direction == Direction::Encrypt ? plain : Encrypted(plain); }
  std::string Path() const { return folder.PathOf(name); }
  // Where the file is during the run: an encryption renames it first.
  std::string PathNow() const { return folder.PathOf(folder.Exists(name) ? name : other_name); }

  // Runs with `meddle` called at the progress step of block `at`.
  FileReport Go(FileCalls& calls, std::int64_t at, const std::function<void()>& meddle) {
    FileResult<OpenedFile> opened = OpenFileInFolder(folder.Fd(), name, calls);
    EXPECT_EQ(FailureOf(opened).outcome, FileOutcome::Done) << FailureOf(opened).error.Describe();
    if (FailureOf(opened).outcome != FileOutcome::Done) return {};
    TransformSettings settings;
    settings.largest_window = 2 * Block;
    settings.blocks_per_chunk = 1;
    settings.key_checker = &Checker();
    std::int64_t block = 0;
    const auto progress = [&](std::int64_t, std::int64_t) {
      const std::int64_t this_block = block++;
      if (this_block == at && meddle) meddle();
      return this_block == cancel_at ? ProgressAnswer::Cancel : ProgressAnswer::Continue;
    };
    return TransformFile(*opened, direction, Suffix, Key, progress, calls, settings);
  }
  bool HasJournal() const {
    for (const std::string& entry : folder.Names()) {
      if (entry.starts_with(JournalNamePrefix)) return true;
    }
    return false;
  }
};

struct Moment {
  Direction direction;
  std::int64_t block;
};
std::string NameOf(const ::testing::TestParamInfo<Moment>& info) {
  return std::string(info.param.direction == Direction::Encrypt ? "Encrypt" : "Decrypt") + "AtBlock" +
         std::to_string(info.param.block);
}

class LeaseBroken : public ::testing::TestWithParam<Moment> {};

// Another program opens the file during the run: the run stops and is
// undone while that program waits, so the file is exactly as before. Also
// when the open comes at the last block, where the run was all but done.
TEST_P(LeaseBroken, TheRunIsUndoneWhileTheOtherProgramWaits) {
  Fixture run(GetParam().direction);
  FileCalls calls;
  const FileReport report = run.Go(calls, GetParam().block, [&] { AnotherProcessAsksToOpen(run.PathNow()); });
  EXPECT_EQ(report.outcome, FileOutcome::OpenedElsewhere) << report.error.Describe();
  EXPECT_EQ(report.condition, FileCondition::AsBefore);
  EXPECT_EQ(run.folder.Names(), std::vector<std::string>{run.name});
  EXPECT_EQ(run.folder.Read(run.name), run.Before());
}

// A lease break that outlasts the undo lets the other program in (after the
// system's lease-break-time): it may have written, so the undone file is not
// called "as before".
TEST(LeaseBrokenForGood, TheOtherProgramGotInDuringTheUndo) {
  Fixture run(Direction::Encrypt);
  FaultyCalls calls;
  bool let_in = false;
  calls.other_process_has_open = [&] { return let_in; };
  const FileReport report = run.Go(calls, 5, [&] {
    AnotherProcessAsksToOpen(run.PathNow());
    let_in = true;
  });
  EXPECT_EQ(report.outcome, FileOutcome::OpenedElsewhere) << report.error.Describe();
  EXPECT_EQ(report.condition, FileCondition::UndoneChangedElsewhere);
  EXPECT_EQ(run.folder.Read(run.name), run.Before());
}

INSTANTIATE_TEST_SUITE_P(Moments, LeaseBroken,
                         ::testing::Values(Moment{Direction::Encrypt, 0}, Moment{Direction::Encrypt, 5},
                                           Moment{Direction::Encrypt, 10}, Moment{Direction::Decrypt, 3},
                                           Moment{Direction::Decrypt, 10}),
                         NameOf);

// Where no lease can be taken (a file system without leases, a file of
// another user), /proc is looked at instead: a process that has the file
// open refuses the open, and one that opens it during the run stops it.
// That process could have written, so the undone file is not called "as
// before".
TEST(WithoutALease, AnotherProcessWithTheFileOpenIsSeenInProc) {
  for (const Holder::Hold hold : {Holder::Hold::Open, Holder::Hold::MappedOnly}) {
    SCOPED_TRACE(hold == Holder::Hold::Open ? "open" : "mapped, its descriptor closed");
    Fixture run(Direction::Encrypt);
    FaultyCalls calls;
    calls.lease_error = EINVAL;
    const Holder holder(run.Path(), hold);
    const FileResult<OpenedFile> opened = OpenFileInFolder(run.folder.Fd(), run.name, calls);
    EXPECT_EQ(FailureOf(opened).outcome, FileOutcome::AlreadyOpen) << FailureOf(opened).error.Describe();
  }
  for (const Direction direction : {Direction::Encrypt, Direction::Decrypt}) {
    SCOPED_TRACE(direction == Direction::Encrypt ? "encrypt" : "decrypt");
    Fixture run(direction);
    FaultyCalls calls;
    calls.lease_error = EACCES;
    std::optional<Holder> holder;
    const FileReport report = run.Go(calls, 4, [&] { holder.emplace(run.PathNow()); });
    ASSERT_TRUE(holder);
    EXPECT_EQ(report.outcome, FileOutcome::OpenedElsewhere) << report.error.Describe();
    EXPECT_EQ(report.condition, FileCondition::UndoneChangedElsewhere);
    EXPECT_EQ(run.folder.Names(), std::vector<std::string>{run.name});
    EXPECT_EQ(run.folder.Read(run.name), run.Before());
  }
}

// Another program grows or cuts the file during the run (possible only
// without a lease). What the run did is undone as far as the file reaches,
// never past its end; what the other program did is left as it is.
TEST(WithoutALease, ALengthChangedDuringTheRunIsNeverWrittenPast) {
  struct Case {
    const char* what;
    std::int64_t new_length;  // -1: grown by 1000 bytes
    FileCondition condition;
  };
  // At block 7 the run has done blocks 0-5 and is on the window of 6 and 7.
  const Case cases[] = {
      {"grown", -1, FileCondition::UndoneChangedElsewhere},
      {"cut after what the run had done", 9 * Block, FileCondition::UndoneChangedElsewhere},
      {"cut into what the run had done", 3 * Block + 10, FileCondition::Interrupted},
  };
  for (const Direction direction : {Direction::Encrypt, Direction::Decrypt}) {
    for (const Case& changed : cases) {
      SCOPED_TRACE(std::string(direction == Direction::Encrypt ? "encrypt, " : "decrypt, ") + changed.what);
      Fixture run(direction);
      FaultyCalls calls;
      calls.lease_error = EINVAL;
      const FileReport report = run.Go(calls, 7, [&] {
        if (changed.new_length < 0) {
          run.folder.Append(direction == Direction::Encrypt ? run.other_name : run.name, 1000);
        } else {
          const std::string now = run.folder.Exists(run.name) ? run.name : run.other_name;
          ASSERT_EQ(truncate(run.folder.PathOf(now).c_str(), changed.new_length), 0);
        }
      });
      EXPECT_EQ(report.outcome, FileOutcome::ChangedElsewhere) << report.error.Describe();
      EXPECT_EQ(report.condition, changed.condition);
      const std::string now = report.name;
      const Bytes after = run.folder.Read(now);
      const Bytes before = run.Before();
      if (changed.condition == FileCondition::Interrupted) {
        // Stopped with the journal kept, the file exactly as long as the other program left it.
        EXPECT_EQ(static_cast<std::int64_t>(after.size()), changed.new_length);
        EXPECT_TRUE(run.HasJournal());
        EXPECT_EQ(report.done, 6 * Block);
      } else {
        EXPECT_EQ(now, run.name) << "the name is as before";
        EXPECT_FALSE(run.HasJournal());
        const std::size_t kept =
            changed.new_length < 0 ? before.size() : static_cast<std::size_t>(changed.new_length);
        ASSERT_GE(after.size(), kept);
        EXPECT_TRUE(
            std::equal(before.begin(), before.begin() + static_cast<std::ptrdiff_t>(kept), after.begin()));
        EXPECT_EQ(after.size(), changed.new_length < 0 ? before.size() + 1000 : kept);
      }
    }
  }
}

// After a cancel, what another program does while the run is undone (it has
// the file open at the end, or it grew the file after the last window was
// checked) is never reported as "as before", with a lease or without.
TEST(DuringTheUndo, WhatAnotherProgramDidIsNotCalledAsBefore) {
  for (const int lease_error : {0, EINVAL}) {
    for (const bool grows : {false, true}) {
      SCOPED_TRACE(std::string(lease_error == 0 ? "lease, " : "no lease, ") +
                   (grows ? "grown after the last check" : "open at the end"));
      Fixture run(Direction::Encrypt);
      run.cancel_at = 5;
      FaultyCalls calls;
      calls.lease_error = lease_error;
      bool cancelled = false;
      calls.other_process_has_open = [&] { return cancelled && !grows; };
      int file_syncs = 0;
      if (grows) {
        // The undo's second sync of the file is that of its last window,
        // after the last check of the length: the other program appends then.
        calls.before_sync_data = [&](int descriptor) {
          struct stat status {};
          if (!cancelled || fstat(descriptor, &status) != 0 || status.st_size != Length) return;
          // Through the run's own descriptor: an open by name would wait
          // out the lease.
          if (++file_syncs != 2) return;
          const Bytes extra(1000, 0x55);
          ASSERT_EQ(pwrite(descriptor, extra.data(), extra.size(), Length), 1000);
        };
      }
      const FileReport report = run.Go(calls, 5, [&] { cancelled = true; });
      EXPECT_EQ(report.outcome, FileOutcome::Cancelled) << report.error.Describe();
      EXPECT_EQ(report.condition, FileCondition::UndoneChangedElsewhere);
      EXPECT_EQ(run.folder.Names(), std::vector<std::string>{run.name});
      const Bytes after = run.folder.Read(run.name);
      ASSERT_EQ(after.size(), run.plain.size() + (grows ? 1000 : 0));
      EXPECT_TRUE(std::equal(run.plain.begin(), run.plain.end(), after.begin()))
          << "every byte of the run undone";
    }
  }
}

// A program that got in during the undo (the lease ran out), wrote and
// closed the file again before the undo's next look: nobody has the file
// open at any look and its length is the same, but the file was modified
// after the run's own last write. The undone file is not "as before".
TEST(DuringTheUndo, AWriteBetweenTwoLooksIsNotCalledAsBefore) {
  Fixture run(Direction::Encrypt);
  run.cancel_at = 5;
  FaultyCalls calls;
  bool cancelled = false;
  int file_descriptor = -1;
  int undo_journal_syncs = 0;
  const Bytes written(1000, 0x55);
  calls.before_sync_data = [&](int descriptor) {
    struct stat status {};
    if (fstat(descriptor, &status) != 0) return;
    if (status.st_size == Length) {
      file_descriptor = descriptor;
      return;
    }
    // The undo's first window ([2, 4) blocks) is back in place; the second
    // has its image in the journal. The other program writes into the first,
    // through the run's own descriptor (an open by name would wait out the
    // lease), at a time of its own.
    if (!cancelled || ++undo_journal_syncs != 3) return;
    ASSERT_EQ(pwrite(file_descriptor, written.data(), written.size(), 2 * Block),
              static_cast<ssize_t>(written.size()));
    const struct timespec later[2] = {{0, UTIME_OMIT}, {std::time_t{2'000'000'000}, 0}};
    ASSERT_EQ(futimens(file_descriptor, later), 0);
  };
  const FileReport report = run.Go(calls, 5, [&] { cancelled = true; });
  EXPECT_EQ(report.outcome, FileOutcome::Cancelled) << report.error.Describe();
  EXPECT_EQ(report.condition, FileCondition::UndoneChangedElsewhere);
  EXPECT_EQ(run.folder.Names(), std::vector<std::string>{run.name});
  Bytes expected = run.plain;
  std::copy(written.begin(), written.end(), expected.begin() + 2 * Block);
  EXPECT_EQ(run.folder.Read(run.name), expected) << "the other program's bytes kept, the run's undone";
}

// A file with a second name is never worked on: refused before anything
// changes, and a name made during the run stops it and undoes it.
TEST(SecondName, AHardLinkIsRefusedOrStopsTheRun) {
  for (const Direction direction : {Direction::Encrypt, Direction::Decrypt}) {
    SCOPED_TRACE(direction == Direction::Encrypt ? "encrypt" : "decrypt");
    {
      Fixture run(direction);
      run.folder.Link(run.name, "second");
      FileCalls calls;
      int progress_calls = 0;
      const FileReport report = run.Go(calls, 0, [&] { ++progress_calls; });
      EXPECT_EQ(report.outcome, FileOutcome::LinkedElsewhere);
      EXPECT_EQ(report.condition, FileCondition::AsBefore);
      EXPECT_EQ(progress_calls, 0);
      EXPECT_EQ(run.folder.Read(run.name), run.Before());
      EXPECT_EQ(run.folder.Read("second"), run.Before());
    }
    Fixture run(direction);
    FileCalls calls;
    const FileReport report = run.Go(calls, 5, [&] {
      run.folder.Link(direction == Direction::Encrypt ? run.other_name : run.name, "second");
    });
    EXPECT_EQ(report.outcome, FileOutcome::LinkedElsewhere);
    EXPECT_EQ(report.condition, FileCondition::AsBefore);
    EXPECT_EQ(run.folder.Read(run.name), run.Before());
    EXPECT_EQ(run.folder.Read("second"), run.Before());
  }
}

// A resume accepts the two names an interrupted rename may leave (the
// crash tests go through that), but not a name of another's making: it is
// refused before anything is written.
TEST(SecondName, AResumeRefusesAFileWithAnotherName) {
  TempFolder folder;
  const Bytes plain = PatternBytes(5 * Block + 7, 2);
  folder.Write("g", plain);
  testing::InterruptRun(folder, "g", Direction::Encrypt, Suffix, Key, 6);
  const std::vector<std::string> names = folder.Names();
  const std::string encrypted = "g" + SuffixText;
  const Bytes torn = folder.Read(encrypted);
  folder.Link(encrypted, "second");
  FileCalls calls;
  std::optional<FileResult<OpenedFile>> opened = OpenFileInFolder(folder.Fd(), encrypted, calls);
  ASSERT_EQ(FailureOf(*opened).outcome, FileOutcome::Done);
  TransformSettings settings;
  settings.key_checker = &Checker();
  const FileReport report = ResumeFile(**opened, Key, ResumeMode::Finish, {}, calls, settings);
  opened.reset();
  EXPECT_EQ(report.outcome, FileOutcome::LinkedElsewhere) << report.error.Describe();
  EXPECT_EQ(report.condition, FileCondition::Interrupted);
  EXPECT_EQ(folder.Read(encrypted), torn);
  folder.Remove("second");
  EXPECT_EQ(folder.Names(), names);
}

}  // namespace
}  // namespace quorvant
