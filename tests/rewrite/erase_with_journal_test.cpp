// Erasing a file whose decryption was cut short: its journal holds plain
// text of the file, so it is erased too, and never without the file.

#include "rewrite/erase_with_journal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "rewrite/file_transform.h"
#include "rewrite/journal_format.h"
#include "tests/support/faulty_calls.h"
#include "tests/support/interrupted_run.h"
#include "tests/support/sample_key.h"
#include "tests/support/temp_folder.h"

namespace quorvant {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::FaultyCalls;
using testing::Key;
using testing::Suffix;
using testing::SuffixText;
using testing::TempFolder;

// Lines of text a reader would know again, over several windows.
Bytes PlainText() {
  std::string text;
  for (int line = 0; text.size() < 5 * MaxBlockLength + 100; ++line)
    text += "secret line " + std::to_string(line) + "\n";
  return Bytes(text.begin(), text.end());
}

bool Holds(const Bytes& haystack, const Bytes& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

std::string JournalOf(const TempFolder& folder) {
  for (const std::string& name : folder.Names()) {
    if (name.starts_with(JournalNamePrefix)) return name;
  }
  return "";
}

// `f` encrypted, then its decryption killed in its second window: the
// journal's slot holds a window of plain text.
struct HalfDecrypted {
  TempFolder folder;
  Bytes plain = PlainText();
  std::string name = "f" + SuffixText;

  HalfDecrypted() {
    folder.Write("f", plain);
    std::optional<FileResult<OpenedFile>> opened = OpenFileInFolder(folder.Fd(), "f");
    EXPECT_EQ(TransformFile(**opened, Direction::Encrypt, Suffix, Key, {}).outcome, FileOutcome::Done);
    opened.reset();
    testing::InterruptRun(folder, name, Direction::Decrypt, Suffix, Key, 6);
  }
  FileReport Erase(FileCalls& calls) {
    FileResult<OpenedFile> opened = OpenFileInFolder(folder.Fd(), name, calls);
    EXPECT_EQ(FailureOf(opened).outcome, FileOutcome::Done) << FailureOf(opened).error.Describe();
    return EraseFileAndJournal(*opened, {}, calls);
  }
};

TEST(EraseWithJournal, TheJournalGoesFirstAndTakesItsPlainTextWithIt) {
  HalfDecrypted run;
  const std::string journal = JournalOf(run.folder);
  ASSERT_FALSE(journal.empty());
  const Bytes first_line(run.plain.begin(), run.plain.begin() + 200);
  ASSERT_TRUE(Holds(run.folder.Read(journal), Bytes(run.plain.begin() + 2 * MaxBlockLength,
                                                    run.plain.begin() + 2 * MaxBlockLength + 200)))
      << "the journal should hold plain text of the second window";

  // The journal cannot be deleted: it is overwritten, and the file is kept whole.
  FaultyCalls failing_unlink;
  failing_unlink.fail_unlink = true;
  const Bytes before = run.folder.Read(run.name);
  const FileReport kept = run.Erase(failing_unlink);
  EXPECT_NE(kept.outcome, FileOutcome::Done);
  EXPECT_EQ(kept.condition, FileCondition::AsBefore);
  EXPECT_FALSE(kept.journal_erased);
  EXPECT_EQ(run.folder.Read(run.name), before);
  const Bytes overwritten = run.folder.Read(journal);
  for (std::size_t at = 0; at + 200 <= run.plain.size(); at += MaxBlockLength) {
    EXPECT_FALSE(Holds(overwritten, Bytes(run.plain.begin() + static_cast<std::ptrdiff_t>(at),
                                          run.plain.begin() + static_cast<std::ptrdiff_t>(at) + 200))) << at;
  }

  FileCalls calls;
  const FileReport erased = run.Erase(calls);
  EXPECT_EQ(erased.outcome, FileOutcome::Done) << erased.error.Describe();
  EXPECT_TRUE(erased.journal_erased);
  EXPECT_EQ(run.folder.Names(), std::vector<std::string>{});
}

// A file the erase refuses keeps its journal: it is the only way to finish
// or undo the run.
TEST(EraseWithJournal, AFileThatCannotBeDeletedKeepsItsJournal) {
  HalfDecrypted run;
  const std::vector<std::string> names = run.folder.Names();
  const Bytes journal = run.folder.Read(JournalOf(run.folder));
  FaultyCalls calls;
  calls.access_error = EACCES;
  const FileReport report = run.Erase(calls);
  EXPECT_EQ(report.outcome, FileOutcome::NotDeletable);
  EXPECT_EQ(report.condition, FileCondition::AsBefore);
  EXPECT_EQ(run.folder.Names(), names);
  EXPECT_EQ(run.folder.Read(JournalOf(run.folder)), journal);
}

// Without an interrupted run, it is the plain erase.
TEST(EraseWithJournal, AFileWithoutAJournalIsSimplyErased) {
  TempFolder folder;
  folder.Write("g", PlainText());
  FileResult<OpenedFile> opened = OpenFileInFolder(folder.Fd(), "g");
  FileCalls calls;
  const FileReport report = EraseFileAndJournal(*opened, {}, calls);
  EXPECT_EQ(report.outcome, FileOutcome::Done);
  EXPECT_FALSE(report.journal_erased);
  EXPECT_EQ(folder.Names(), std::vector<std::string>{});
}

}  // namespace
}  // namespace quorvant
