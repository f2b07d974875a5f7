// Journals named for their run: the file's mark leads to its journal, an
// orphan (a journal of a run no file is marked for) blocks no file, is
// listed as such, and is forgotten by being overwritten, then deleted.

#include "rewrite/journal_list.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "rewrite/erase_with_journal.h"
#include "rewrite/file_transform.h"
#include "rewrite/journal_file.h"
#include "rewrite/run_mark.h"
#include "tests/support/faulty_calls.h"
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

constexpr std::int64_t Length = 5 * MaxBlockLength + 77;

std::optional<RunId> MarkOf(const TempFolder& folder, const std::string& name) {
  FileCalls calls;
  const Result<RunMark> mark = ReadRunMarkAt(folder.Fd(), name, calls);
  return mark ? mark->run : std::nullopt;
}

std::vector<std::string> JournalsIn(const TempFolder& folder) {
  std::vector<std::string> journals;
  for (const std::string& name : folder.Names()) {
    if (IsJournalName(name)) journals.push_back(name);
  }
  return journals;
}

// Lines of text a reader would know again, over several windows.
Bytes PlainText() {
  std::string text;
  for (int line = 0; text.size() < static_cast<std::size_t>(Length); ++line)
    text += "secret line " + std::to_string(line) + "\n";
  return Bytes(text.begin(), text.begin() + Length);
}

bool HoldsALineOf(const Bytes& haystack, const Bytes& plain) {
  for (std::size_t at = 0; at + 200 <= plain.size(); at += MaxBlockLength) {
    const auto needle = std::span(plain).subspan(at, 200);
    if (std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end()) return true;
  }
  return false;
}

TEST(JournalNaming, ARunThatMarksItsFileNamesItsJournalForTheRun) {
  TempFolder folder;
  folder.Write("f", testing::PatternBytes(Length, 1));
  testing::InterruptRun(folder, "f", Direction::Encrypt, Suffix, Key, 6);
  const std::optional<RunId> mark = MarkOf(folder, "f" + SuffixText);
  ASSERT_TRUE(mark) << "user attributes are needed here";
  EXPECT_EQ(JournalsIn(folder), std::vector<std::string>{JournalName(*mark)});
  FileCalls calls;
  EXPECT_TRUE(HasJournal(folder.Fd(), "f" + SuffixText, calls));
}

// A half-done file deleted, and a new file in its place with its name, its
// length and, as inode reuse gives it, its inode: the old run's journal, by
// either naming, is never the new file's, which carries its own run's mark.
TEST(JournalNaming, AJournalOfAnotherRunWithTheSameInodeNameAndLengthIsNeverApplied) {
  for (const bool named_for_inode : {false, true}) {
    SCOPED_TRACE(named_for_inode ? "the orphan is named for the inode" : "the orphan is named for its run");
    TempFolder folder;
    folder.Write("disk.img", testing::PatternBytes(Length, 1));
    testing::InterruptRun(folder, "disk.img", Direction::Encrypt, Suffix, Key, 6);
    const std::string half_done = "disk.img" + SuffixText;
    ASSERT_EQ(JournalsIn(folder).size(), 1u);
    std::string orphan = JournalsIn(folder).front();

    ASSERT_EQ(unlink(folder.PathOf(half_done).c_str()), 0);
    const Bytes innocent = testing::PatternBytes(Length, 2);
    folder.Write(half_done, innocent);
    struct stat status {};
    ASSERT_EQ(stat(folder.PathOf(half_done).c_str(), &status), 0);
    // The orphan's header made to name the new file, as inode reuse does.
    Bytes bytes = folder.Read(orphan);
    std::optional<JournalRunHeader> header = DecodeRunHeader(std::span(bytes).first(JournalPageSize));
    ASSERT_TRUE(header);
    header->inode = status.st_ino;
    const JournalPage page = EncodeRunHeader(*header);
    std::copy(page.begin(), page.end(), bytes.begin());
    ASSERT_EQ(unlink(folder.PathOf(orphan).c_str()), 0);
    if (named_for_inode) orphan = JournalName(status.st_ino);
    folder.Write(orphan, bytes);
    // The new file is marked for a run of its own.
    RunId own = header->run_id;
    own[0] ^= 1;
    ASSERT_EQ(setxattr(folder.PathOf(half_done).c_str(), RunMarkAttributeName, own.data(), own.size(), 0), 0);

    FileCalls calls;
    EXPECT_FALSE(HasJournal(folder.Fd(), half_done, calls));
    std::optional<FileResult<OpenedFile>> opened = OpenFileInFolder(folder.Fd(), half_done);
    ASSERT_EQ(FailureOf(*opened).outcome, FileOutcome::Done);
    const FileReport resumed = ResumeFile(**opened, Key, ResumeMode::Finish, {});
    EXPECT_EQ(resumed.outcome, FileOutcome::NothingToResume) << resumed.error.Describe();
    // Not blocked either: it is looked at as any file would be.
    FileRun run(**opened, calls);
    const FileReport prepared = run.Prepare(Direction::Decrypt, Suffix, Key);
    EXPECT_NE(prepared.outcome, FileOutcome::Interrupted) << prepared.error.Describe();
    opened.reset();
    EXPECT_EQ(folder.Read(half_done), innocent) << "the old run's bytes were written over the new file";
    const JournalListing listed = LookAtJournal(folder.Fd(), orphan, calls);
    EXPECT_FALSE(listed.file) << *listed.file;
    EXPECT_EQ(folder.Read(orphan), bytes) << "the orphan is left for resume --forget";
  }
}

// The list names the live journal's file as it is named now, how far its
// run got, and an orphan as one.
TEST(JournalList, NamesEachJournalsFileOrCallsItAnOrphan) {
  TempFolder folder;
  folder.Write("live", testing::PatternBytes(Length, 1));
  folder.Write("gone", testing::PatternBytes(Length, 2));
  testing::InterruptRun(folder, "live", Direction::Encrypt, Suffix, Key, 6);
  testing::InterruptRun(folder, "gone", Direction::Encrypt, Suffix, Key, 6);
  const std::string live_journal = JournalName(*MarkOf(folder, "live" + SuffixText));
  ASSERT_EQ(rename(folder.PathOf("live" + SuffixText).c_str(), folder.PathOf("renamed").c_str()), 0);
  ASSERT_EQ(unlink(folder.PathOf("gone" + SuffixText).c_str()), 0);

  FileCalls calls;
  const Result<std::vector<JournalListing>> journals = ListJournals(folder.Fd(), calls);
  ASSERT_TRUE(journals);
  ASSERT_EQ(journals->size(), 2u);
  for (const JournalListing& journal : *journals) {
    ASSERT_TRUE(journal.header) << journal.name;
    EXPECT_EQ(journal.header->length, Length);
    EXPECT_EQ(journal.phase, JournalPhase::Forward);
    EXPECT_GT(journal.done, 0);
    EXPECT_LT(journal.done, Length);
    if (journal.name == live_journal) {
      EXPECT_EQ(journal.file, std::optional<std::string>("renamed"));
    } else {
      EXPECT_EQ(journal.header->old_name, "gone");
      EXPECT_FALSE(journal.file);
    }
  }
}

// Forgetting: never a journal whose file is there; an orphan's bytes are
// overwritten (seen here with its unlink failing), synced, then deleted.
TEST(ForgetJournal, RefusesALiveJournalAndOverwritesAnOrphanBeforeDeletingIt) {
  TempFolder folder;
  const Bytes plain = PlainText();
  folder.Write("f", plain);
  {
    FileResult<OpenedFile> opened = OpenFileInFolder(folder.Fd(), "f");
    ASSERT_EQ(TransformFile(*opened, Direction::Encrypt, Suffix, Key, {}).outcome, FileOutcome::Done);
  }
  testing::InterruptRun(folder, "f" + SuffixText, Direction::Decrypt, Suffix, Key, 6);
  const std::string journal = JournalsIn(folder).front();
  ASSERT_TRUE(HoldsALineOf(folder.Read(journal), plain)) << "the journal should hold plain text";

  FileCalls calls;
  const Bytes before = folder.Read(journal);
  const FileReport live = ForgetJournal(folder.Fd(), journal, calls);
  EXPECT_EQ(live.outcome, FileOutcome::Interrupted);
  EXPECT_EQ(live.name, "f" + SuffixText);
  EXPECT_EQ(folder.Read(journal), before);

  ASSERT_EQ(unlink(folder.PathOf("f" + SuffixText).c_str()), 0);
  testing::FaultyCalls failing_unlink;
  failing_unlink.fail_unlink = true;
  const FileReport kept = ForgetJournal(folder.Fd(), journal, failing_unlink);
  EXPECT_NE(kept.outcome, FileOutcome::Done);
  EXPECT_EQ(kept.condition, FileCondition::Overwritten);
  EXPECT_GE(failing_unlink.syncs, 1) << "synced before the unlink";
  const Bytes overwritten = folder.Read(journal);
  EXPECT_EQ(overwritten.size(), before.size());
  EXPECT_FALSE(HoldsALineOf(overwritten, plain));

  const FileReport forgotten = ForgetJournal(folder.Fd(), journal, calls);
  EXPECT_EQ(forgotten.outcome, FileOutcome::Done) << forgotten.error.Describe();
  EXPECT_EQ(folder.Names(), std::vector<std::string>{});
}

}  // namespace
}  // namespace quorvant
