#include "erase/secure_erase.h"

#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/stat.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "files/blocks.h"
#include "tests/support/faulty_calls.h"
#include "tests/support/read_only_files.h"
#include "tests/support/temp_folder.h"

namespace quorvant {
namespace {

using testing::FaultyCalls;
using testing::PatternBytes;
using testing::TempFolder;

// What the file looked like when its overwrite was synced.
struct SyncedState {
  std::int64_t size = -1;
  std::vector<std::uint8_t> content;
};

FileReport Erase(const TempFolder& folder, const std::string& name, FaultyCalls& calls,
                 const ProgressFunction& progress = {}) {
  FileResult<OpenedFile> opened = OpenFileInFolder(folder.Fd(), name, calls);
  if (FailureOf(opened).outcome != FileOutcome::Done) {
    FileReport report;
    report.outcome = FailureOf(opened).outcome;
    return report;
  }
  return SecureEraseFile(*opened, progress, calls);
}

// Each block is one random byte value repeated, exactly over the file's own
// extent; the file is synced at its own size and deleted only then.
TEST(SecureEraseTest, OverwritesEachBlockWithOneValueThenDeletes) {
  struct Case {
    std::size_t length;
    std::size_t blocks;
  };
  for (const Case erase : {Case{1, 1}, Case{20000, 2}, Case{BlocksPerChunk * 16384 + 100, 65}}) {
    SCOPED_TRACE(erase.length);
    TempFolder folder;
    folder.Write("secret.txt", std::vector<std::uint8_t>(erase.length, 0));
    FaultyCalls calls;
    SyncedState synced;
    calls.before_sync_data = [&](int descriptor) {
      struct stat status {};
      ::fstat(descriptor, &status);
      synced.size = status.st_size;
      synced.content.resize(static_cast<std::size_t>(status.st_size));
      EXPECT_EQ(::pread(descriptor, synced.content.data(), synced.content.size(), 0),
                static_cast<ssize_t>(synced.content.size()));
    };
    std::vector<std::int64_t> offsets;
    const FileReport report = Erase(folder, "secret.txt", calls, [&](std::int64_t offset, std::int64_t last) {
      EXPECT_EQ(last, static_cast<std::int64_t>(erase.length) - 1);
      offsets.push_back(offset);
      return ProgressAnswer::Continue;
    });
    ASSERT_EQ(report.outcome, FileOutcome::Done) << report.error.Describe();
    EXPECT_EQ(report.condition, FileCondition::Erased);
    EXPECT_TRUE(folder.Names().empty());
    EXPECT_EQ(calls.syncs, 1);
    ASSERT_EQ(synced.size, static_cast<std::int64_t>(erase.length)) << "the file grew";
    ASSERT_EQ(offsets.size(), erase.blocks);
    for (std::size_t block = 0; block < erase.blocks; ++block) {
      EXPECT_EQ(offsets[block],
                static_cast<std::int64_t>(block * std::min<std::size_t>(erase.length, 16384)));
      const std::size_t start = block * 16384;
      const std::size_t end = std::min(erase.length, start + 16384);
      const std::set<std::uint8_t> values(synced.content.begin() + start, synced.content.begin() + end);
      EXPECT_EQ(values.size(), 1u) << "block " << block << " is not one repeated value";
    }
  }
}

// Filler values are drawn anew per block: over many blocks they differ.
TEST(SecureEraseTest, DrawsAFreshValueForEveryBlock) {
  TempFolder folder;
  folder.Write("big", std::vector<std::uint8_t>(100 * 16384, 0));
  FaultyCalls calls;
  std::set<std::uint8_t> values;
  calls.before_sync_data = [&](int descriptor) {
    for (int block = 0; block < 100; ++block) {
      std::uint8_t value = 0;
      EXPECT_EQ(::pread(descriptor, &value, 1, block * 16384), 1);
      values.insert(value);
    }
  };
  ASSERT_EQ(Erase(folder, "big", calls).outcome, FileOutcome::Done);
  EXPECT_GT(values.size(), 20u);
}

// Any failure keeps the file in place and says exactly how far the
// overwrite got: a file whose every block was written is "overwritten",
// never "partly overwritten".
TEST(SecureEraseTest, FailuresKeepTheFileAndSayHowFarItGot) {
  struct Case {
    const char* what;
    int fail_write;
    int fail_sync_data;
    bool fail_random;
    bool fail_unlink;
    FileOutcome expected;
    FileCondition condition;
  };
  const Case cases[] = {
      {"write error", 1, 0, false, false, FileOutcome::WriteError, FileCondition::PartlyOverwritten},
      {"no random numbers", 0, 0, true, false, FileOutcome::RandomError, FileCondition::AsBefore},
      {"sync error after the last block", 0, 1, false, false, FileOutcome::SyncError,
       FileCondition::Overwritten},
      {"delete error after the sync", 0, 0, false, true, FileOutcome::DeleteError,
       FileCondition::Overwritten},
  };
  for (const Case& failure : cases) {
    SCOPED_TRACE(failure.what);
    TempFolder folder;
    const std::vector<std::uint8_t> content = PatternBytes(20000);
    folder.Write("keep", content);
    FaultyCalls calls;
    calls.fail_write = failure.fail_write;
    calls.fail_sync_data = failure.fail_sync_data;
    calls.fail_random = failure.fail_random;
    calls.fail_unlink = failure.fail_unlink;
    const FileReport report = Erase(folder, "keep", calls);
    EXPECT_EQ(report.outcome, failure.expected);
    EXPECT_EQ(report.condition, failure.condition);
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"keep"});
    const std::vector<std::uint8_t> after = folder.Read("keep");
    ASSERT_EQ(after.size(), content.size());
    if (failure.condition == FileCondition::Overwritten) {
      // Both blocks, each one value throughout.
      EXPECT_TRUE(
          std::all_of(after.begin(), after.begin() + 16384, [&](std::uint8_t b) { return b == after[0]; }));
      EXPECT_TRUE(
          std::all_of(after.begin() + 16384, after.end(), [&](std::uint8_t b) { return b == after[16384]; }));
    } else if (failure.condition == FileCondition::AsBefore) {
      EXPECT_EQ(after, content);
    }
  }
}

// Esc at a block: every block before it, which the progress showed as
// done, is overwritten and synced before the erase reports; the block it
// came at and all after it are untouched.
TEST(SecureEraseTest, CancelWritesAndSyncsTheBlocksCountedAsDone) {
  const std::size_t block = 16384;
  const std::vector<std::uint8_t> content = PatternBytes(2 * BlocksPerChunk * block + 100, 5);
  for (const std::size_t cancel_at : {std::size_t{0}, std::size_t{3}, std::size_t{BlocksPerChunk},
                                      std::size_t{BlocksPerChunk + 3}, std::size_t{2 * BlocksPerChunk}}) {
    SCOPED_TRACE("cancel at block " + std::to_string(cancel_at));
    TempFolder folder;
    folder.Write("half", content);
    FaultyCalls calls;
    std::vector<std::uint8_t> synced;
    calls.before_sync_data = [&](int descriptor) {
      synced.resize(content.size());
      EXPECT_EQ(::pread(descriptor, synced.data(), synced.size(), 0), static_cast<ssize_t>(synced.size()));
    };
    std::size_t blocks = 0;
    const FileReport report = Erase(folder, "half", calls, [&](std::int64_t, std::int64_t) {
      return blocks++ == cancel_at ? ProgressAnswer::Cancel : ProgressAnswer::Continue;
    });
    EXPECT_EQ(report.outcome, FileOutcome::Cancelled);
    EXPECT_EQ(report.condition, cancel_at == 0 ? FileCondition::AsBefore : FileCondition::PartlyOverwritten);
    const std::vector<std::uint8_t> after = folder.Read("half");
    ASSERT_EQ(after.size(), content.size());
    const std::size_t done = cancel_at * block;
    for (std::size_t at = 0; at < done; at += block) {
      EXPECT_TRUE(std::all_of(after.begin() + at, after.begin() + at + block,
                              [&](std::uint8_t b) { return b == after[at]; }))
          << "block " << at / block << " overwritten";
    }
    EXPECT_TRUE(std::equal(after.begin() + done, after.end(), content.begin() + done));
    if (cancel_at == 0) {
      EXPECT_TRUE(synced.empty()) << "nothing written, nothing to sync";
    } else {
      EXPECT_EQ(synced, after) << "synced before the report";
    }
  }
}

// The sync step comes once, after the last block's progress step and before
// the data is synced; an erase that stops earlier never gives it, but syncs
// the blocks it wrote.
TEST(SecureEraseTest, SyncStartComesBetweenTheLastBlockAndTheSync) {
  for (const bool cancel_last : {false, true}) {
    SCOPED_TRACE(cancel_last ? "cancel at the last block" : "a whole erase");
    TempFolder folder;
    folder.Write("f", PatternBytes(2 * 16384 + 10, 4));
    FaultyCalls calls;
    std::string events;
    calls.before_sync_data = [&](int) { events += 'd'; };
    FileResult<OpenedFile> opened = OpenFileInFolder(folder.Fd(), "f", calls);
    ASSERT_EQ(FailureOf(opened).outcome, FileOutcome::Done);
    const auto progress = [&](std::int64_t, std::int64_t) {
      events += 'p';
      return cancel_last && events == "ppp" ? ProgressAnswer::Cancel : ProgressAnswer::Continue;
    };
    SecureEraseFile(*opened, progress, calls, [&] { events += 's'; });
    EXPECT_EQ(events, cancel_last ? "pppd" : "pppsd");
  }
}

// What would leave an overwritten file behind, or another name with filler
// in it, is refused before a byte is written.
TEST(SecureEraseTest, RefusesBeforeOverwritingWhatItCouldNotDelete) {
  struct Case {
    const char* what;
    int access_error;
    int folder_flags;
    bool second_name;
    FileOutcome expected;
  };
  const Case cases[] = {
      {"a folder this user may not write", EACCES, -1, false, FileOutcome::NotDeletable},
      {"a folder on a read-only file system", EROFS, -1, false, FileOutcome::NotDeletable},
      {"an immutable folder", EPERM, -1, false, FileOutcome::NotDeletable},
      // faccessat allows writing to it: only deleting fails.
      {"an append-only folder", 0, FS_APPEND_FL, false, FileOutcome::NotDeletable},
      {"a file with a second name", 0, -1, true, FileOutcome::LinkedElsewhere},
  };
  for (const Case& refused : cases) {
    SCOPED_TRACE(refused.what);
    TempFolder folder;
    const std::vector<std::uint8_t> content = PatternBytes(40000, 9);
    folder.Write("f", content);
    if (refused.second_name) folder.Link("f", "g");
    FaultyCalls calls;
    calls.access_error = refused.access_error;
    calls.folder_flags = refused.folder_flags;
    int progress_calls = 0;
    const FileReport report = Erase(folder, "f", calls, [&](std::int64_t, std::int64_t) {
      ++progress_calls;
      return ProgressAnswer::Continue;
    });
    EXPECT_EQ(report.outcome, refused.expected);
    EXPECT_EQ(report.condition, FileCondition::AsBefore);
    EXPECT_EQ(progress_calls, 0);
    EXPECT_EQ(calls.writes, 0);
    EXPECT_EQ(folder.Read("f"), content);
    if (refused.second_name) {
      EXPECT_EQ(folder.Read("g"), content);
    }
  }
}

// In a sticky folder (as /tmp) only the file's owner, the folder's owner or
// a privileged process may delete a file, whatever the folder's mode says.
TEST(SecureEraseTest, StickyFolderRule) {
  const auto folder = [](mode_t mode, uid_t owner) {
    struct stat status {};
    status.st_mode = S_IFDIR | mode;
    status.st_uid = owner;
    return status;
  };
  struct stat file {};
  file.st_mode = S_IFREG | 0666;
  file.st_uid = 1001;
  struct Case {
    const char* what;
    struct stat folder;
    uid_t user;
    bool privileged;
    bool allowed;
  };
  const Case cases[] = {
      {"not sticky: anyone who may write the folder", folder(0777, 0), 1002, false, true},
      {"sticky, the file's owner", folder(01777, 0), 1001, false, true},
      {"sticky, the folder's owner", folder(01777, 1003), 1003, false, true},
      {"sticky, another user", folder(01777, 0), 1002, false, false},
      {"sticky, a privileged process", folder(01777, 0), 1002, true, true},
  };
  for (const Case& rule : cases) {
    EXPECT_EQ(StickyFolderAllowsDelete(rule.folder, file, rule.user, rule.privileged), rule.allowed)
        << rule.what;
  }
}

TEST(SecureEraseTest, RefusesAFileOpenElsewhere) {
  TempFolder folder;
  folder.Write("busy", {1, 2, 3});
  const int other = ::openat(folder.Fd(), "busy", O_RDWR | O_CLOEXEC);
  ASSERT_GE(other, 0);
  FaultyCalls calls;
  EXPECT_EQ(Erase(folder, "busy", calls).outcome, FileOutcome::AlreadyOpen);
  ::close(other);
  EXPECT_EQ(folder.Read("busy"), (std::vector<std::uint8_t>{1, 2, 3}));
}

// A file that can be read but not written is never overwritten or deleted.
TEST(SecureEraseTest, RefusesAReadOnlyFile) {
  testing::ForEachReadOnlyFile([](OpenedFile& file, FileCalls& calls, const std::vector<std::uint8_t>&) {
    EXPECT_EQ(SecureEraseFile(file, {}, calls).outcome, FileOutcome::ReadOnly);
  });
}

TEST(SecureEraseTest, AnEmptyFileIsDeleted) {
  TempFolder folder;
  folder.Write("empty", {});
  FaultyCalls calls;
  EXPECT_EQ(Erase(folder, "empty", calls).outcome, FileOutcome::Done);
  EXPECT_TRUE(folder.Names().empty());
}

}  // namespace
}  // namespace quorvant
