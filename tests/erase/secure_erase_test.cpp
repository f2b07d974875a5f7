#include "erase/secure_erase.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

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
  OpenAttempt opened = OpenFileInFolder(folder.Fd(), name, calls);
  if (opened.outcome != FileOutcome::Done) {
    FileReport report;
    report.outcome = opened.outcome;
    return report;
  }
  return SecureEraseFile(*opened.file, progress, calls);
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

// Any failure keeps the file in place and says so.
TEST(SecureEraseTest, FailuresKeepTheFile) {
  struct Case {
    const char* what;
    int fail_write;
    int fail_sync_data;
    bool fail_random;
    FileOutcome expected;
    FileCondition condition;
  };
  const Case cases[] = {
      {"write error", 1, 0, false, FileOutcome::WriteError, FileCondition::PartlyOverwritten},
      {"sync error", 0, 1, false, FileOutcome::SyncError, FileCondition::PartlyOverwritten},
      {"no random numbers", 0, 0, true, FileOutcome::RandomError, FileCondition::AsBefore},
  };
  for (const Case& failure : cases) {
    SCOPED_TRACE(failure.what);
    TempFolder folder;
    folder.Write("keep", PatternBytes(20000));
    FaultyCalls calls;
    calls.fail_write = failure.fail_write;
    calls.fail_sync_data = failure.fail_sync_data;
    calls.fail_random = failure.fail_random;
    const FileReport report = Erase(folder, "keep", calls);
    EXPECT_EQ(report.outcome, failure.expected);
    EXPECT_EQ(report.condition, failure.condition);
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"keep"});
    EXPECT_EQ(folder.Read("keep").size(), 20000u);
  }
}

// Cancel keeps the file; chunks already written stay overwritten.
TEST(SecureEraseTest, CancelKeepsTheFile) {
  TempFolder folder;
  const std::vector<std::uint8_t> content = PatternBytes(2 * BlocksPerChunk * 16384, 5);
  folder.Write("half", content);
  FaultyCalls calls;
  int blocks = 0;
  const FileReport first_block =
      Erase(folder, "half", calls, [&](std::int64_t, std::int64_t) { return ProgressAnswer::Cancel; });
  EXPECT_EQ(first_block.outcome, FileOutcome::Cancelled);
  EXPECT_EQ(first_block.condition, FileCondition::AsBefore);
  EXPECT_EQ(folder.Read("half"), content);

  const FileReport second_chunk = Erase(folder, "half", calls, [&](std::int64_t, std::int64_t) {
    return ++blocks > BlocksPerChunk + 3 ? ProgressAnswer::Cancel : ProgressAnswer::Continue;
  });
  EXPECT_EQ(second_chunk.outcome, FileOutcome::Cancelled);
  EXPECT_EQ(second_chunk.condition, FileCondition::PartlyOverwritten);
  const std::vector<std::uint8_t> after = folder.Read("half");
  ASSERT_EQ(after.size(), content.size());
  const std::size_t chunk = BlocksPerChunk * 16384;
  EXPECT_FALSE(std::equal(after.begin(), after.begin() + chunk, content.begin()));
  EXPECT_TRUE(std::equal(after.begin() + chunk, after.end(), content.begin() + chunk));
}

// The sync step comes once, after the last block's progress step and before
// the data is synced; an erase that stops earlier never gives it.
TEST(SecureEraseTest, SyncStartComesBetweenTheLastBlockAndTheSync) {
  for (const bool cancel_last : {false, true}) {
    SCOPED_TRACE(cancel_last ? "cancel at the last block" : "a whole erase");
    TempFolder folder;
    folder.Write("f", PatternBytes(2 * 16384 + 10, 4));
    FaultyCalls calls;
    std::string events;
    calls.before_sync_data = [&](int) { events += 'd'; };
    OpenAttempt opened = OpenFileInFolder(folder.Fd(), "f", calls);
    ASSERT_EQ(opened.outcome, FileOutcome::Done);
    const auto progress = [&](std::int64_t, std::int64_t) {
      events += 'p';
      return cancel_last && events == "ppp" ? ProgressAnswer::Cancel : ProgressAnswer::Continue;
    };
    SecureEraseFile(*opened.file, progress, calls, [&] { events += 's'; });
    EXPECT_EQ(events, cancel_last ? "ppp" : "pppsd");
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
