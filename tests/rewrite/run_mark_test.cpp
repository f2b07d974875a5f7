// A journal belongs to one file. A half-done file deleted, and a new file
// given its inode (ext4 hands inodes out again at once): the old run's
// journal now names the new file, with its name and its length. Neither a
// resume nor the key may write the old run's bytes over it.

#include "rewrite/run_mark.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <string>
#include <vector>

#include "rewrite/file_transform.h"
#include "rewrite/journal_format.h"
#include "tests/support/interrupted_run.h"
#include "tests/support/sample_bytes.h"
#include "tests/support/sample_key.h"
#include "tests/support/temp_folder.h"

namespace quorvant {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::Key;
using testing::Suffix;
using testing::SuffixText;
using testing::TempFolder;

ino_t InodeOf(const TempFolder& folder, const std::string& name) {
  struct stat status {};
  EXPECT_EQ(stat(folder.PathOf(name).c_str(), &status), 0);
  return status.st_ino;
}

std::string OnlyJournal(const TempFolder& folder) {
  for (const std::string& name : folder.Names()) {
    if (name.starts_with(JournalNamePrefix)) return name;
  }
  return "";
}

// The journal of the killed run on `old_name`, made to name `new_name` the
// way inode reuse does: its header's inode and its own name are the new
// file's, everything else the old run's.
void GiveJournalTo(const TempFolder& folder, const std::string& new_name) {
  const std::string journal = OnlyJournal(folder);
  ASSERT_FALSE(journal.empty());
  Bytes bytes = folder.Read(journal);
  std::optional<JournalRunHeader> header = DecodeRunHeader(std::span(bytes).first(JournalPageSize));
  ASSERT_TRUE(header);
  header->inode = InodeOf(folder, new_name);
  const JournalPage page = EncodeRunHeader(*header);
  std::copy(page.begin(), page.end(), bytes.begin());
  ASSERT_EQ(unlink(folder.PathOf(journal).c_str()), 0);
  folder.Write(JournalName(header->inode), bytes);
}

TEST(RunMark, AJournalLeftByADeletedFileIsNeverAppliedToTheFileThatGotItsInode) {
  const std::int64_t length = 5 * MaxBlockLength + 77;
  for (const bool same_name : {true, false}) {
    SCOPED_TRACE(same_name ? "the new file has the old run's plain name" : "it has the encrypted name");
    TempFolder folder;
    folder.Write("disk.img", testing::PatternBytes(static_cast<std::size_t>(length), 1));
    testing::InterruptRun(folder, "disk.img", Direction::Encrypt, Suffix, Key, 6);
    ASSERT_EQ(unlink(folder.PathOf("disk.img" + SuffixText).c_str()), 0);
    const std::string name = same_name ? "disk.img" : "disk.img" + SuffixText;
    const Bytes innocent = testing::PatternBytes(static_cast<std::size_t>(length), 2);
    folder.Write(name, innocent);
    GiveJournalTo(folder, name);

    std::optional<FileResult<OpenedFile>> opened = OpenFileInFolder(folder.Fd(), name);
    ASSERT_EQ(FailureOf(*opened).outcome, FileOutcome::Done);
    const FileReport report = ResumeFile(**opened, Key, ResumeMode::Finish, {});
    opened.reset();
    EXPECT_EQ(report.outcome, FileOutcome::NothingToResume) << report.error.Describe();
    EXPECT_EQ(report.condition, FileCondition::AsBefore);
    EXPECT_EQ(folder.Read(name), innocent) << "the old run's bytes were written over the new file";
    // Set aside, so that the file is free again.
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{name, report.journal}));
    EXPECT_TRUE(report.journal.ends_with(OrphanJournalSuffix)) << report.journal;

    if (same_name) {
      opened = OpenFileInFolder(folder.Fd(), name);
      const FileReport encrypted = TransformFile(**opened, Direction::Encrypt, Suffix, Key, {});
      EXPECT_EQ(encrypted.outcome, FileOutcome::Done) << encrypted.error.Describe();
    }
  }
}

// The mark is there while the run may be interrupted, and gone after it.
TEST(RunMark, TheMarkLastsExactlyAsLongAsTheJournal) {
  TempFolder folder;
  folder.Write("f", testing::PatternBytes(5 * MaxBlockLength, 3));
  testing::InterruptRun(folder, "f", Direction::Encrypt, Suffix, Key, 6);
  const std::string half_done = "f" + SuffixText;
  const std::string journal = OnlyJournal(folder);
  const Bytes journal_bytes = folder.Read(journal);
  const std::optional<JournalRunHeader> header =
      DecodeRunHeader(std::span(journal_bytes).first(JournalPageSize));
  ASSERT_TRUE(header);
  FileCalls calls;
  const Result<RunMark> mark = ReadRunMarkAt(folder.Fd(), half_done, calls);
  ASSERT_TRUE(mark && mark->run);
  EXPECT_EQ(*mark->run, header->run_id);
  // And where its journal is, should the file be moved.
  EXPECT_EQ(mark->journal_folder, std::filesystem::canonical(folder.Path()).string());

  std::optional<FileResult<OpenedFile>> opened = OpenFileInFolder(folder.Fd(), half_done);
  const FileReport finished = ResumeFile(**opened, Key, ResumeMode::Finish, {});
  opened.reset();
  EXPECT_EQ(finished.outcome, FileOutcome::Done) << finished.error.Describe();
  EXPECT_EQ(folder.Names(), std::vector<std::string>{half_done});
  const Result<RunMark> cleared = ReadRunMarkAt(folder.Fd(), half_done, calls);
  ASSERT_TRUE(cleared);
  EXPECT_FALSE(cleared->run);
}

}  // namespace
}  // namespace quorvant
