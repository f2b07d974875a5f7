// The journaled file run on real files in temporary folders: what it gives,
// what it refuses, and what it leaves when a call fails, with the faults put
// in through the system-call seam. Crashes are simulated in
// crash_simulation_test.cpp.

#include "rewrite/file_transform.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "crypto/encrypted_name.h"
#include "rewrite/journal_format.h"
#include "tests/support/faulty_calls.h"
#include "tests/support/read_only_files.h"
#include "tests/support/remembering_key_checker.h"
#include "tests/support/sample_key.h"
#include "tests/support/temp_folder.h"

namespace quorvant {
namespace {

using testing::FaultyCalls;
using testing::Key;
using testing::PatternBytes;
using testing::Suffix;
using testing::SuffixText;
using testing::TempFolder;

constexpr std::size_t FullChunk = BlocksPerChunk * MaxBlockLength;

testing::RememberingKeyChecker& Checker() {
  static testing::RememberingKeyChecker checker;
  return checker;
}

// Windows of one chunk, so that files of a few chunks have several.
TransformSettings SmallWindows() {
  TransformSettings settings;
  settings.largest_window = static_cast<std::int64_t>(FullChunk);
  settings.key_checker = &Checker();
  return settings;
}

// The file in memory, block by block, straight through the cipher.
std::vector<std::uint8_t> TransformInMemory(std::vector<std::uint8_t> data, Direction direction) {
  KeyWords words = BuildKeyWords(Key, Suffix);
  const auto block_length = static_cast<std::int32_t>(std::min<std::size_t>(data.size(), MaxBlockLength));
  for (std::size_t start = 0; start < data.size(); start += static_cast<std::size_t>(block_length)) {
    const std::size_t size = std::min(data.size() - start, static_cast<std::size_t>(block_length));
    TransformBlock(std::span(data).subspan(start, size), block_length, direction, words);
  }
  return data;
}

bool HasKeyCheck(const TempFolder& folder, const std::string& name) {
  return getxattr(folder.PathOf(name).c_str(), KeyCheckAttributeName, nullptr, 0) > 0;
}

struct TransformRunResult {
  FileReport report;
  std::vector<std::int64_t> progress_offsets;
  std::int64_t last_offset_seen = -2;
};

// Opens `name`, transforms it (the suffix comes from the name when
// decrypting) and closes it again, so that the test can then look at the file.
TransformRunResult Transform(const TempFolder& folder, const std::string& name, Direction direction,
                             FileCalls& calls, std::optional<std::int64_t> cancel_at_block = std::nullopt,
                             const TransformSettings& settings = SmallWindows(), const char* key = Key) {
  TransformRunResult run;
  FileResult<OpenedFile> opened = OpenFileInFolder(folder.Fd(), name, calls);
  if (FailureOf(opened).outcome != FileOutcome::Done) {
    run.report.outcome = FailureOf(opened).outcome;
    run.report.name = name;
    return run;
  }
  const EncryptedSuffix suffix =
      direction == Direction::Encrypt ? Suffix : SuffixOfName(name).value_or(Suffix);
  const auto progress = [&](std::int64_t offset, std::int64_t last_offset) {
    run.last_offset_seen = last_offset;
    run.progress_offsets.push_back(offset);
    const auto block = static_cast<std::int64_t>(run.progress_offsets.size()) - 1;
    return cancel_at_block && block == *cancel_at_block ? ProgressAnswer::Cancel : ProgressAnswer::Continue;
  };
  run.report = TransformFile(*opened, direction, suffix, key, progress, calls, settings);
  return run;
}

TransformRunResult Transform(const TempFolder& folder, const std::string& name, Direction direction) {
  FileCalls calls;
  return Transform(folder, name, direction, calls);
}

FileReport Resume(const TempFolder& folder, const std::string& name, ResumeMode mode, const char* key = Key) {
  FileCalls calls;
  FileResult<OpenedFile> opened = OpenFileInFolder(folder.Fd(), name, calls);
  if (FailureOf(opened).outcome != FileOutcome::Done) {
    FileReport refused;
    refused.outcome = FailureOf(opened).outcome;
    return refused;
  }
  return ResumeFile(*opened, key, mode, {}, calls, SmallWindows());
}

class FileTransformRoundTrip : public ::testing::TestWithParam<std::size_t> {};

// Encrypting renames to NAME + suffix, gives the cipher's bytes whatever the
// windows and chunks, and stores the key check; decrypting restores name and
// content and drops the check. No journal stays behind.
TEST_P(FileTransformRoundTrip, EncryptsLikeTheBlockCipherAndDecryptsBack) {
  const std::size_t length = GetParam();
  TempFolder folder;
  const std::vector<std::uint8_t> plain = PatternBytes(length, static_cast<std::uint32_t>(length));
  folder.Write("report.txt", plain);

  const TransformRunResult encrypted = Transform(folder, "report.txt", Direction::Encrypt);
  ASSERT_EQ(encrypted.report.outcome, FileOutcome::Done) << encrypted.report.error.Describe();
  EXPECT_EQ(encrypted.report.condition, FileCondition::Transformed);
  EXPECT_EQ(encrypted.report.name, "report.txt" + SuffixText);
  EXPECT_TRUE(encrypted.report.journal.empty());
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"report.txt" + SuffixText});
  EXPECT_EQ(folder.Read("report.txt" + SuffixText), TransformInMemory(plain, Direction::Encrypt));
  EXPECT_TRUE(HasKeyCheck(folder, "report.txt" + SuffixText));

  // One progress call per block, at the block's offset, with the file's last offset.
  const auto block_length = static_cast<std::int64_t>(std::min<std::size_t>(length, MaxBlockLength));
  const std::size_t blocks = length == 0 ? 0 : (length + block_length - 1) / block_length;
  ASSERT_EQ(encrypted.progress_offsets.size(), blocks);
  for (std::size_t block = 0; block < blocks; ++block) {
    EXPECT_EQ(encrypted.progress_offsets[block], static_cast<std::int64_t>(block) * block_length);
  }
  if (blocks > 0) {
    EXPECT_EQ(encrypted.last_offset_seen, static_cast<std::int64_t>(length) - 1);
  }

  const TransformRunResult decrypted = Transform(folder, "report.txt" + SuffixText, Direction::Decrypt);
  ASSERT_EQ(decrypted.report.outcome, FileOutcome::Done) << decrypted.report.error.Describe();
  EXPECT_EQ(decrypted.report.name, "report.txt");
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"report.txt"});
  EXPECT_EQ(folder.Read("report.txt"), plain);
  EXPECT_FALSE(HasKeyCheck(folder, "report.txt"));
}

INSTANTIATE_TEST_SUITE_P(Lengths, FileTransformRoundTrip,
                         ::testing::Values(0, 1, 9, 16383, 16384, 16385, 32769, FullChunk - 1, FullChunk,
                                           FullChunk + 1, 2 * FullChunk + 16384 * 3 + 77));

// Short reads and writes from the system change nothing: the chunk loop
// still delivers exactly the block-by-block result.
TEST(FileTransformTest, ShortTransfersGiveTheSameBytes) {
  TempFolder folder;
  const std::vector<std::uint8_t> plain = PatternBytes(FullChunk + 40000, 7);
  folder.Write("data.bin", plain);
  FaultyCalls calls;
  calls.max_transfer = 4099;
  const TransformRunResult run = Transform(folder, "data.bin", Direction::Encrypt, calls);
  ASSERT_EQ(run.report.outcome, FileOutcome::Done) << run.report.error.Describe();
  EXPECT_EQ(folder.Read("data.bin" + SuffixText), TransformInMemory(plain, Direction::Encrypt));
}

// A file encrypted by an earlier copy of the program carries a version 1
// check: a decryption undone after it removed the check (its plain name was
// taken at the last moment) puts that same check back.
TEST(FileTransformTest, AnUndoneDecryptionPutsBackAnOlderCheck) {
  TempFolder folder;
  const std::vector<std::uint8_t> cipher = TransformInMemory(PatternBytes(3 * FullChunk, 4), Direction::Encrypt);
  const std::string name = "old.bin" + SuffixText;
  folder.Write(name, cipher);
  const std::array<std::uint8_t, KeyCheckSaltLength> salt{7};
  const Result<KeyCheckVersion1Value> check = MakeVersion1KeyCheck(
      Key, Suffix, static_cast<std::int64_t>(cipher.size()), KeyCheckCost{1, 8}, salt);
  ASSERT_TRUE(check.ok());
  ASSERT_EQ(setxattr(folder.PathOf(name).c_str(), KeyCheckAttributeName, check->data(), check->size(), 0), 0);

  FaultyCalls calls;
  calls.before_rename = [&] { folder.Write("old.bin", {1}); };
  const TransformRunResult run = Transform(folder, name, Direction::Decrypt, calls);
  EXPECT_EQ(run.report.outcome, FileOutcome::NameInUse) << run.report.error.Describe();
  EXPECT_EQ(run.report.condition, FileCondition::AsBefore);
  EXPECT_EQ(folder.Read(name), cipher);
  std::vector<std::uint8_t> stored(KeyCheckLength);
  const ssize_t size = getxattr(folder.PathOf(name).c_str(), KeyCheckAttributeName, stored.data(), stored.size());
  ASSERT_EQ(size, static_cast<ssize_t>(KeyCheckVersion1Length));
  stored.resize(static_cast<std::size_t>(size));
  EXPECT_TRUE(std::equal(stored.begin(), stored.end(), check->begin()));
}

// Where no journal can be made, the run is refused, saying why: a folder
// that cannot be written, or the draft's name taken by a folder.
TEST(FileTransformTest, NoJournalNoRunAndTheReasonIsNamed) {
  class ReadOnlyFolder final : public FileCalls {
   public:
    int CreateAt(int, const char*, int, mode_t) override {
      errno = EROFS;
      return -1;
    }
  };
  const std::vector<std::uint8_t> content = PatternBytes(20000, 6);
  {
    TempFolder folder;
    folder.Write("a.txt", content);
    ReadOnlyFolder calls;
    const TransformRunResult run = Transform(folder, "a.txt", Direction::Encrypt, calls);
    EXPECT_EQ(run.report.outcome, FileOutcome::FolderNotWritable);
    EXPECT_EQ(run.report.error.code, EROFS);
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"a.txt"});
  }
  {
    TempFolder folder;
    folder.Write("a.txt", content);
    struct stat status {};
    ASSERT_EQ(stat(folder.PathOf("a.txt").c_str(), &status), 0);
    const std::string draft = JournalName(status.st_ino) + std::string(JournalDraftSuffix);
    folder.MakeFolder(draft);
    FileCalls calls;
    const TransformRunResult run = Transform(folder, "a.txt", Direction::Encrypt, calls);
    EXPECT_EQ(run.report.outcome, FileOutcome::NotAJournal);
    EXPECT_NE(run.report.error.action.find(draft + " is a folder"), std::string::npos) << run.report.error.action;
    EXPECT_EQ(folder.Read("a.txt"), content);
  }
}

// What is refused before anything changes.
TEST(FileTransformTest, RefusesBeforeAnythingChanges) {
  struct Case {
    const char* what;
    std::string name;
    Direction direction;
    std::function<void(TempFolder&, const std::string&)> arrange;  // beside the file
    FileOutcome expected;
  };
  const auto other_file = [](std::string other) {
    return [other](TempFolder& folder, const std::string&) { folder.Write(other, {1, 2, 3}); };
  };
  const Case cases[] = {
      {"encrypted name taken", "a.txt", Direction::Encrypt, other_file("a.txt" + SuffixText),
       FileOutcome::NameInUse},
      {"plain name taken", "b.txt" + SuffixText, Direction::Decrypt, other_file("b.txt"),
       FileOutcome::NameInUse},
      {"name over 255 bytes", std::string(250, 'n'), Direction::Encrypt, {}, FileOutcome::NameTooLong},
      {"no suffix to remove", "plain.txt", Direction::Decrypt, {}, FileOutcome::NameInvalid},
      {"nothing would remain", SuffixText, Direction::Decrypt, {}, FileOutcome::NameInvalid},
      {"an interrupted run", "c.txt", Direction::Encrypt,
       [](TempFolder& folder, const std::string& name) {
         struct stat status {};
         ASSERT_EQ(stat(folder.PathOf(name).c_str(), &status), 0);
         folder.Write(JournalName(status.st_ino), {7});
       },
       FileOutcome::Interrupted},
      {"a key the check refuses", "d.txt" + SuffixText, Direction::Decrypt,
       [](TempFolder& folder, const std::string& name) {
         const Result<KeyCheckValue> check = Checker().Make("another key", Suffix, 20000);
         ASSERT_TRUE(check.ok());
         ASSERT_EQ(
             setxattr(folder.PathOf(name).c_str(), KeyCheckAttributeName, check->data(), check->size(), 0),
             0);
       },
       FileOutcome::WrongKey},
  };
  for (const Case& refused : cases) {
    SCOPED_TRACE(refused.what);
    TempFolder folder;
    const std::vector<std::uint8_t> content = PatternBytes(20000, 3);
    folder.Write(refused.name, content);
    if (refused.arrange) refused.arrange(folder, refused.name);
    const std::vector<std::string> names_before = folder.Names();

    FileCalls calls;
    const TransformRunResult run = Transform(folder, refused.name, refused.direction, calls);
    EXPECT_EQ(run.report.outcome, refused.expected) << run.report.error.Describe();
    EXPECT_EQ(run.report.condition, refused.expected == FileOutcome::Interrupted ? FileCondition::Interrupted
                                                                                 : FileCondition::AsBefore);
    EXPECT_EQ(run.report.name, refused.name);
    EXPECT_TRUE(run.progress_offsets.empty());
    EXPECT_EQ(folder.Names(), names_before);
    EXPECT_EQ(folder.Read(refused.name), content);
  }
}

// A file of two chunks and a bit (three windows), cancelled or failing at
// various points, in both directions: afterwards it is byte for byte and by
// name what it was, and no journal is left.
struct UndoCase {
  const char* what;
  Direction direction;
  std::optional<std::int64_t> cancel_at_block;
  int fail_read = 0;
  int fail_write = 0;
  int fail_sync_data = 0;
  FileOutcome expected;
};

void PrintTo(const UndoCase& undo, std::ostream* output) { *output << undo.what; }

class FileTransformUndo : public ::testing::TestWithParam<UndoCase> {};

TEST_P(FileTransformUndo, LeavesTheFileAsItWas) {
  const UndoCase& undo = GetParam();
  TempFolder folder;
  const std::vector<std::uint8_t> plain = PatternBytes(2 * FullChunk + 5000, 11);
  std::string name = "letter.odt";
  folder.Write(name, plain);
  if (undo.direction == Direction::Decrypt) {
    ASSERT_EQ(Transform(folder, name, Direction::Encrypt).report.outcome, FileOutcome::Done);
    name += SuffixText;
  }
  const std::vector<std::uint8_t> before = folder.Read(name);

  FaultyCalls calls;
  calls.fail_read = undo.fail_read;
  calls.fail_write = undo.fail_write;
  calls.fail_sync_data = undo.fail_sync_data;
  const TransformRunResult run = Transform(folder, name, undo.direction, calls, undo.cancel_at_block);
  EXPECT_EQ(run.report.outcome, undo.expected) << run.report.error.Describe();
  EXPECT_EQ(run.report.condition, FileCondition::AsBefore);
  EXPECT_EQ(run.report.name, name);
  EXPECT_EQ(folder.Names(), std::vector<std::string>{name});
  EXPECT_TRUE(folder.Read(name) == before) << "content differs after the undo";
  EXPECT_EQ(HasKeyCheck(folder, name), undo.direction == Direction::Decrypt);
}

// Each window reads the file (1 read), writes the image (1 write per chunk),
// syncs the journal, writes and syncs the record, then reads the image back
// (1 read), writes it in place and syncs the file. The run header is write 1
// and sync 1.
INSTANTIATE_TEST_SUITE_P(
    Cases, FileTransformUndo,
    ::testing::Values(
        UndoCase{"cancel at the first block", Direction::Encrypt, 0, 0, 0, 0, FileOutcome::Cancelled},
        UndoCase{"cancel in the second window", Direction::Encrypt, 100, 0, 0, 0, FileOutcome::Cancelled},
        UndoCase{"cancel at the last block", Direction::Encrypt, 128, 0, 0, 0, FileOutcome::Cancelled},
        UndoCase{"cancel while decrypting", Direction::Decrypt, 70, 0, 0, 0, FileOutcome::Cancelled},
        UndoCase{"read error in the second window", Direction::Encrypt, std::nullopt, 3, 0, 0,
                 FileOutcome::ReadError},
        UndoCase{"half-done image write", Direction::Encrypt, std::nullopt, 0, 5, 0, FileOutcome::WriteError},
        UndoCase{"half-done write in place", Direction::Encrypt, std::nullopt, 0, 7, 0,
                 FileOutcome::WriteError},
        UndoCase{"half-done write in place while decrypting", Direction::Decrypt, std::nullopt, 0, 4, 0,
                 FileOutcome::WriteError},
        UndoCase{"failed record sync", Direction::Encrypt, std::nullopt, 0, 0, 6, FileOutcome::SyncError},
        UndoCase{"failed file sync in the second window", Direction::Encrypt, std::nullopt, 0, 0, 7,
                 FileOutcome::SyncError},
        UndoCase{"failed journal sync at the start", Direction::Decrypt, std::nullopt, 0, 0, 1,
                 FileOutcome::SyncError}),
    [](const ::testing::TestParamInfo<UndoCase>& info) {
      std::string name = info.param.what;
      for (char& character : name) {
        if (!std::isalnum(static_cast<unsigned char>(character))) character = '_';
      }
      return name;
    });

// When even the undo cannot write, it stops with the journal kept and says
// how far the file is encrypted; a resume then finishes the run, or undoes

// The sync step comes once, after the last block's progress step, when only
// syncing is left; a run that stops earlier never gives it.
TEST(FileTransformTest, SyncStartComesAfterTheLastBlock) {
  struct Case {
    const char* what;
    int cancel_at_block;  // -1: never
    int fail_write;
    bool expect_sync_start;
  };
  const Case cases[] = {
      {"a whole run", -1, 0, true},
      {"a cancel at the last block", 2, 0, false},
      {"a failed write", -1, 1, false},
  };
  for (const Case& run : cases) {
    SCOPED_TRACE(run.what);
    TempFolder folder;
    folder.Write("f", PatternBytes(2 * MaxBlockLength + 10, 4));
    FaultyCalls calls;
    calls.fail_write = run.fail_write;
    std::string events;  // p: progress step, s: sync start, d: a data sync
    calls.before_sync_data = [&](int) { events += 'd'; };
    FileResult<OpenedFile> opened = OpenFileInFolder(folder.Fd(), "f", calls);
    ASSERT_EQ(FailureOf(opened).outcome, FileOutcome::Done);
    const auto progress = [&](std::int64_t, std::int64_t) {
      events += 'p';
      const auto block = static_cast<int>(std::count(events.begin(), events.end(), 'p')) - 1;
      return block == run.cancel_at_block ? ProgressAnswer::Cancel : ProgressAnswer::Continue;
    };
    TransformSettings settings = SmallWindows();
    settings.sync_start = [&] { events += 's'; };
    TransformFile(*opened, Direction::Encrypt, Suffix, Key, progress, calls, settings);
    const std::size_t sync_start = events.find('s');
    if (!run.expect_sync_start) {
      EXPECT_EQ(sync_start, std::string::npos) << events;
      continue;
    }
    ASSERT_NE(sync_start, std::string::npos) << events;
    EXPECT_EQ(events.find('s', sync_start + 1), std::string::npos) << "once: " << events;
    EXPECT_EQ(std::count(events.begin(), events.begin() + static_cast<std::ptrdiff_t>(sync_start), 'p'), 3)
        << "after every block: " << events;
    EXPECT_EQ(events.find('p', sync_start), std::string::npos) << "only syncing after it: " << events;
    EXPECT_NE(events.find('d', sync_start), std::string::npos) << "the syncs follow: " << events;
  }
}

// it, exactly.
TEST(FileTransformTest, AnUndoThatCannotWriteKeepsTheJournalForAResume) {
  for (const ResumeMode mode : {ResumeMode::Finish, ResumeMode::Undo}) {
    SCOPED_TRACE(mode == ResumeMode::Finish ? "resume" : "resume --undo");
    TempFolder folder;
    const std::vector<std::uint8_t> plain = PatternBytes(2 * FullChunk + 999, 5);
    folder.Write("notes.txt", plain);
    FaultyCalls calls;
    calls.fail_writes_from = 5;  // the second window's image, and every write after it
    const TransformRunResult run = Transform(folder, "notes.txt", Direction::Encrypt, calls);
    EXPECT_EQ(run.report.outcome, FileOutcome::WriteError);
    ASSERT_EQ(run.report.condition, FileCondition::Interrupted);
    EXPECT_EQ(run.report.name, "notes.txt" + SuffixText);
    EXPECT_EQ(run.report.done, static_cast<std::int64_t>(FullChunk));
    EXPECT_EQ(run.report.length, static_cast<std::int64_t>(plain.size()));
    ASSERT_TRUE(folder.Exists(run.report.journal));
    std::vector<std::uint8_t> expected = plain;
    const std::vector<std::uint8_t> encrypted = TransformInMemory(plain, Direction::Encrypt);
    std::copy(encrypted.begin(), encrypted.begin() + FullChunk, expected.begin());
    EXPECT_EQ(folder.Read("notes.txt" + SuffixText), expected) << "one window encrypted, the rest plain";

    const FileReport resumed = Resume(folder, "notes.txt" + SuffixText, mode);
    EXPECT_EQ(resumed.outcome, FileOutcome::Done) << resumed.error.Describe();
    if (mode == ResumeMode::Finish) {
      EXPECT_EQ(resumed.condition, FileCondition::Transformed);
      EXPECT_EQ(folder.Names(), std::vector<std::string>{"notes.txt" + SuffixText});
      EXPECT_EQ(folder.Read("notes.txt" + SuffixText), encrypted);
    } else {
      EXPECT_EQ(resumed.condition, FileCondition::AsBefore);
      EXPECT_EQ(folder.Names(), std::vector<std::string>{"notes.txt"});
      EXPECT_EQ(folder.Read("notes.txt"), plain);
    }
  }
}

// Copy-on-write file systems need room for every overwrite in place, which
// no reservation beforehand guarantees: the disk fills up half-way through
// the second window, and the undo cannot write either. The report says which
// bytes were being written (never "the first N are done" alone), and a
// resume, once there is room, finishes the run.
TEST(FileTransformTest, RunningOutOfSpaceInPlaceSaysWhichBytesWereBeingWritten) {
  TempFolder folder;
  const std::vector<std::uint8_t> plain = PatternBytes(2 * FullChunk + 999, 6);
  folder.Write("notes.txt", plain);
  FaultyCalls calls;
  calls.write_fault = [&](int descriptor, off_t offset) {
    struct stat status {};
    const bool the_file = fstat(descriptor, &status) == 0 && status.st_size == static_cast<off_t>(plain.size());
    return the_file && offset >= static_cast<off_t>(FullChunk) ? ENOSPC : 0;
  };
  const TransformRunResult run = Transform(folder, "notes.txt", Direction::Encrypt, calls);
  EXPECT_EQ(run.report.outcome, FileOutcome::NoSpace);
  ASSERT_EQ(run.report.condition, FileCondition::Interrupted);
  EXPECT_EQ(run.report.done, static_cast<std::int64_t>(FullChunk));
  EXPECT_EQ(run.report.torn_from, static_cast<std::int64_t>(FullChunk));
  EXPECT_EQ(run.report.torn_length, static_cast<std::int64_t>(FullChunk));
  const std::vector<std::uint8_t> after = folder.Read("notes.txt" + SuffixText);
  EXPECT_NE(std::vector<std::uint8_t>(after.begin() + FullChunk, after.begin() + 2 * FullChunk),
            std::vector<std::uint8_t>(plain.begin() + FullChunk, plain.begin() + 2 * FullChunk))
      << "the model should have left the second window part written";

  const FileReport resumed = Resume(folder, "notes.txt" + SuffixText, ResumeMode::Finish);
  EXPECT_EQ(resumed.outcome, FileOutcome::Done) << resumed.error.Describe();
  EXPECT_EQ(folder.Read("notes.txt" + SuffixText), TransformInMemory(plain, Direction::Encrypt));
}

// Renames that another program makes fail half-way through a run.
class RenameMeddler : public FileCalls {
 public:
  std::function<void(const char* to)> before_rename;
  int RenameAt(int folder, const char* from, const char* to, unsigned flags) override {
    if (before_rename) before_rename(to);
    return FileCalls::RenameAt(folder, from, to, flags);
  }
};

// The plain name is checked before a decryption starts, but another program
// can take it while the data is being decrypted: the decryption is undone.
TEST(FileTransformTest, NameTakenDuringADecryptionUndoesIt) {
  TempFolder folder;
  folder.Write("photo.jpg", PatternBytes(50000, 9));
  ASSERT_EQ(Transform(folder, "photo.jpg", Direction::Encrypt).report.outcome, FileOutcome::Done);
  const std::vector<std::uint8_t> encrypted = folder.Read("photo.jpg" + SuffixText);

  RenameMeddler calls;
  calls.before_rename = [&](const char* to) {
    if (std::string(to) == "photo.jpg") folder.Write("photo.jpg", {42});
  };
  const TransformRunResult run = Transform(folder, "photo.jpg" + SuffixText, Direction::Decrypt, calls);
  EXPECT_EQ(run.report.outcome, FileOutcome::NameInUse);
  EXPECT_EQ(run.report.condition, FileCondition::AsBefore);
  EXPECT_EQ(folder.Read("photo.jpg" + SuffixText), encrypted);
  EXPECT_TRUE(HasKeyCheck(folder, "photo.jpg" + SuffixText));
  EXPECT_EQ(folder.Read("photo.jpg"), std::vector<std::uint8_t>{42});
  EXPECT_EQ(folder.Names().size(), 2u) << "no journal left";
}

// A cancelled encryption whose old name was taken meanwhile is never called
// unchanged: its bytes are plain again under the encrypted name, and the
// journal stays until a resume --undo can give it its name back.
TEST(FileTransformTest, AnUndoneEncryptionWhoseNameIsTakenSaysSoAndKeepsTheJournal) {
  TempFolder folder;
  const std::vector<std::uint8_t> plain = PatternBytes(3 * FullChunk, 2);
  folder.Write("plan.txt", plain);
  RenameMeddler calls;
  calls.before_rename = [&](const char* to) {
    if (std::string(to) == "plan.txt") folder.Write("plan.txt", {1});
  };
  const TransformRunResult run = Transform(folder, "plan.txt", Direction::Encrypt, calls, 150);
  EXPECT_EQ(run.report.outcome, FileOutcome::Cancelled);
  EXPECT_EQ(run.report.condition, FileCondition::RestoredNameTaken);
  EXPECT_EQ(run.report.name, "plan.txt" + SuffixText);
  EXPECT_EQ(folder.Read("plan.txt" + SuffixText), plain);
  ASSERT_TRUE(folder.Exists(run.report.journal));

  // While the name is taken, a resume --undo can only say so again.
  EXPECT_EQ(Resume(folder, "plan.txt" + SuffixText, ResumeMode::Undo).condition,
            FileCondition::RestoredNameTaken);
  folder.Remove("plan.txt");
  const FileReport undone = Resume(folder, "plan.txt" + SuffixText, ResumeMode::Undo);
  EXPECT_EQ(undone.outcome, FileOutcome::Done);
  EXPECT_EQ(undone.condition, FileCondition::AsBefore);
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"plan.txt"});
  EXPECT_EQ(folder.Read("plan.txt"), plain);
  EXPECT_FALSE(HasKeyCheck(folder, "plan.txt"));
}

// Where renameat2 cannot refuse a taken name, link + unlink does it.
TEST(FileTransformTest, RenameFallsBackToLinkAndUnlink) {
  class NoRenameCalls : public FileCalls {
   public:
    int RenameAt(int, const char*, const char*, unsigned) override {
      errno = EINVAL;
      return -1;
    }
  } calls;
  TempFolder folder;
  folder.Write("one", {1});
  folder.Write("two", {2});
  EXPECT_EQ(RenameWithoutReplacing(calls, folder.Fd(), "one", "two"), -1);
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(folder.Read("two"), std::vector<std::uint8_t>{2});
  EXPECT_EQ(RenameWithoutReplacing(calls, folder.Fd(), "one", "three"), 0);
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"three", "two"}));

  const std::vector<std::uint8_t> plain = PatternBytes(30000, 4);
  folder.Write("doc", plain);
  TransformRunResult run = Transform(folder, "doc", Direction::Encrypt, calls);
  ASSERT_EQ(run.report.outcome, FileOutcome::Done);
  run = Transform(folder, "doc" + SuffixText, Direction::Decrypt, calls);
  ASSERT_EQ(run.report.outcome, FileOutcome::Done);
  EXPECT_EQ(folder.Read("doc"), plain);
}

// A file that can be read but not written is never transformed.
TEST(FileTransformTest, RefusesAReadOnlyFile) {
  testing::ForEachReadOnlyFile([](OpenedFile& file, FileCalls& calls, const std::vector<std::uint8_t>&) {
    EXPECT_EQ(TransformFile(file, Direction::Encrypt, Suffix, Key, {}, calls, SmallWindows()).outcome,
              FileOutcome::ReadOnly);
  });
}

// The checks made just before the run: gone, replaced, or wanted by another program.
TEST(FileTransformTest, RefusesAFileThatChangedHandsAfterItWasOpened) {
  TempFolder folder;
  const std::vector<std::uint8_t> content = PatternBytes(1000, 2);
  struct Case {
    const char* what;
    std::function<void()> meddle;
    FileOutcome expected;
  };
  const Case cases[] = {
      {"deleted", [&] { ::unlinkat(folder.Fd(), "f", 0); }, FileOutcome::Vanished},
      {"replaced by another file",
       [&] {
         ::renameat(folder.Fd(), "f", folder.Fd(), "moved");
         folder.Write("f", {7});
       },
       FileOutcome::Vanished},
      {"another program asked to open it",
       [&] {
         // A non-blocking open fails while we hold the lease, and starts breaking it.
         EXPECT_EQ(::openat(folder.Fd(), "f", O_RDONLY | O_NONBLOCK | O_CLOEXEC), -1);
         EXPECT_EQ(errno, EWOULDBLOCK);
       },
       FileOutcome::AlreadyOpen},
  };
  for (const Case& meddled : cases) {
    SCOPED_TRACE(meddled.what);
    folder.Write("f", content);
    std::optional<FileResult<OpenedFile>> opened = OpenFileInFolder(folder.Fd(), "f");
    ASSERT_EQ(FailureOf(*opened).outcome, FileOutcome::Done);
    ASSERT_EQ((*opened)->Lock(), FileLock::Lease);
    meddled.meddle();
    int progress_calls = 0;
    FileCalls calls;
    const FileReport report = TransformFile(
        **opened, Direction::Encrypt, Suffix, Key,
        [&](std::int64_t, std::int64_t) {
          ++progress_calls;
          return ProgressAnswer::Continue;
        },
        calls, SmallWindows());
    EXPECT_EQ(report.outcome, meddled.expected) << report.error.Describe();
    EXPECT_EQ(progress_calls, 0);
    opened.reset();
    EXPECT_FALSE(folder.Exists("f" + SuffixText));
  }
  EXPECT_EQ(folder.Read("moved"), content);
}

// Real calls, except that the n-th call that changes anything fails with
// EIO; the calls that change nothing always work.
class NthChangeFails : public FileCalls {
 public:
  int fail_at = 0;  // 0: none
  int changes = 0;

  int CreateAt(int folder, const char* name, int flags, mode_t mode) override {
    return Failing() ? -1 : FileCalls::CreateAt(folder, name, flags, mode);
  }
  ssize_t WriteAt(int descriptor, const void* data, std::size_t size, off_t offset) override {
    return Failing() ? -1 : FileCalls::WriteAt(descriptor, data, size, offset);
  }
  int SyncData(int descriptor) override { return Failing() ? -1 : FileCalls::SyncData(descriptor); }
  int Sync(int descriptor) override { return Failing() ? -1 : FileCalls::Sync(descriptor); }
  int RenameAt(int folder, const char* from, const char* to, unsigned flags) override {
    return Failing() ? -1 : FileCalls::RenameAt(folder, from, to, flags);
  }
  int UnlinkAt(int folder, const char* name) override {
    return Failing() ? -1 : FileCalls::UnlinkAt(folder, name);
  }
  int SetAttribute(int descriptor, const char* name, const void* value, std::size_t size) override {
    return Failing() ? -1 : FileCalls::SetAttribute(descriptor, name, value, size);
  }
  int RemoveAttribute(int descriptor, const char* name) override {
    return Failing() ? -1 : FileCalls::RemoveAttribute(descriptor, name);
  }
  int Allocate(int descriptor, int mode, off_t offset, off_t length) override {
    return Failing() ? -1 : FileCalls::Allocate(descriptor, mode, offset, length);
  }

 private:
  bool Failing() {
    if (++changes != fail_at) return false;
    errno = EIO;
    return true;
  }
};

class EachCallFailing : public ::testing::TestWithParam<Direction> {};

// Whichever call fails, the run ends as before, done, or with a journal that
// a resume turns into one of the two, byte for byte; nothing else is left in
// the folder.
TEST_P(EachCallFailing, EndsAsBeforeOrDoneOrResumable) {
  const Direction direction = GetParam();
  const std::vector<std::uint8_t> plain = PatternBytes(2 * FullChunk + 12345, 8);
  const std::vector<std::uint8_t> cipher = TransformInMemory(plain, Direction::Encrypt);
  const std::string from = direction == Direction::Encrypt ? "file" : "file" + SuffixText;
  const std::string to = direction == Direction::Encrypt ? "file" + SuffixText : "file";
  const std::vector<std::uint8_t>& before = direction == Direction::Encrypt ? plain : cipher;
  const std::vector<std::uint8_t>& after = direction == Direction::Encrypt ? cipher : plain;

  // The folder as the run finds it: the file, with its key check when it is encrypted.
  const auto arrange = [&](TempFolder& folder) {
    folder.Write(from, before);
    if (direction == Direction::Decrypt) {
      const Result<KeyCheckValue> check =
          Checker().Make(Key, Suffix, static_cast<std::int64_t>(before.size()));
      ASSERT_EQ(setxattr(folder.PathOf(from).c_str(), KeyCheckAttributeName, check->data(), check->size(), 0),
                0);
    }
  };
  // The changes of a run that nothing stops.
  int changes = 0;
  {
    TempFolder clean;
    arrange(clean);
    NthChangeFails counting;
    ASSERT_EQ(Transform(clean, from, direction, counting).report.outcome, FileOutcome::Done);
    changes = counting.changes;
  }
  for (int fail_at = 1; fail_at <= changes; ++fail_at) {
    SCOPED_TRACE("change " + std::to_string(fail_at) + " fails");
    TempFolder folder;
    arrange(folder);
    NthChangeFails calls;
    calls.fail_at = fail_at;
    const TransformRunResult run = Transform(folder, from, direction, calls);
    FileReport last = run.report;
    if (last.condition == FileCondition::Interrupted || last.condition == FileCondition::RestoredNameTaken ||
        !last.journal.empty()) {
      last = Resume(folder, last.name, ResumeMode::Finish);
      EXPECT_EQ(last.outcome, FileOutcome::Done) << last.error.Describe();
    }
    if (last.condition == FileCondition::Transformed) {
      EXPECT_EQ(folder.Names(), std::vector<std::string>{to});
      EXPECT_EQ(folder.Read(to), after);
    } else {
      EXPECT_EQ(last.condition, FileCondition::AsBefore);
      EXPECT_EQ(folder.Names(), std::vector<std::string>{from});
      EXPECT_EQ(folder.Read(from), before);
    }
  }
  EXPECT_GT(changes, 10);
}

INSTANTIATE_TEST_SUITE_P(Directions, EachCallFailing,
                         ::testing::Values(Direction::Encrypt, Direction::Decrypt),
                         [](const ::testing::TestParamInfo<Direction>& info) {
                           return info.param == Direction::Encrypt ? "Encrypt" : "Decrypt";
                         });

// A decryption leaves no plain window in the journal's space once it is
// removed: the slot is zeroed first. An encryption's slot holds ciphertext
// only and is left as it is.
TEST(FileTransformTest, ADecryptionZerosTheJournalBeforeRemovingIt) {
  class LookAtJournal : public FileCalls {
   public:
    std::vector<std::uint8_t> slot;
    int UnlinkAt(int folder, const char* name) override {
      if (std::string_view(name).starts_with(JournalNamePrefix)) {
        const int journal = ::openat(folder, name, O_RDONLY | O_CLOEXEC);
        struct stat status {};
        if (journal >= 0 && fstat(journal, &status) == 0) {
          slot.resize(static_cast<std::size_t>(status.st_size - JournalImageOffset));
          if (pread(journal, slot.data(), slot.size(), JournalImageOffset) !=
              static_cast<ssize_t>(slot.size())) {
            slot.clear();
          }
        }
        if (journal >= 0) ::close(journal);
      }
      return FileCalls::UnlinkAt(folder, name);
    }
  };
  TempFolder folder;
  const std::vector<std::uint8_t> plain = PatternBytes(FullChunk + 3000, 12);
  folder.Write("diary", plain);
  LookAtJournal encrypting;
  ASSERT_EQ(Transform(folder, "diary", Direction::Encrypt, encrypting).report.outcome, FileOutcome::Done);
  ASSERT_FALSE(encrypting.slot.empty());
  EXPECT_NE(std::count(encrypting.slot.begin(), encrypting.slot.end(), 0),
            static_cast<long>(encrypting.slot.size()));

  LookAtJournal decrypting;
  ASSERT_EQ(Transform(folder, "diary" + SuffixText, Direction::Decrypt, decrypting).report.outcome,
            FileOutcome::Done);
  ASSERT_GE(decrypting.slot.size(), 3000u);
  EXPECT_EQ(std::count(decrypting.slot.begin(), decrypting.slot.end(), 0),
            static_cast<long>(decrypting.slot.size()));
  EXPECT_EQ(folder.Read("diary"), plain);
}

// A resume changes nothing unless it has a sound journal of this file and the run's key.
TEST(FileTransformTest, ResumeRefusesWithoutASoundJournalOrTheRightKey) {
  TempFolder folder;
  const std::vector<std::uint8_t> plain = PatternBytes(3 * FullChunk, 6);
  folder.Write("todo", plain);
  EXPECT_EQ(Resume(folder, "todo", ResumeMode::Finish).outcome, FileOutcome::NothingToResume);

  // An interrupted encryption: the undo could not write.
  FaultyCalls calls;
  calls.fail_writes_from = 5;
  const TransformRunResult run = Transform(folder, "todo", Direction::Encrypt, calls);
  ASSERT_EQ(run.report.condition, FileCondition::Interrupted);
  const std::string name = run.report.name;
  const std::string journal = run.report.journal;
  const std::vector<std::uint8_t> content = folder.Read(name);
  const std::vector<std::uint8_t> journal_bytes = folder.Read(journal);

  const FileReport wrong = Resume(folder, name, ResumeMode::Finish, "correct horsE");
  EXPECT_EQ(wrong.outcome, FileOutcome::WrongKey);
  EXPECT_EQ(wrong.condition, FileCondition::Interrupted);
  EXPECT_EQ(folder.Read(name), content);
  EXPECT_EQ(folder.Read(journal), journal_bytes);

  // Any byte of the run header changed: the journal is not trusted.
  for (const std::size_t at : {0u, 40u, 100u}) {
    std::vector<std::uint8_t> damaged = journal_bytes;
    damaged[at] ^= 1;
    folder.Write(journal, damaged);
    EXPECT_EQ(Resume(folder, name, ResumeMode::Finish).outcome, FileOutcome::JournalDamaged) << at;
    EXPECT_EQ(folder.Read(name), content);
  }
  folder.Write(journal, journal_bytes);
  // The file renamed by hand: the journal is not its own.
  folder.Rename(name, "renamed");
  EXPECT_EQ(Resume(folder, "renamed", ResumeMode::Finish).outcome, FileOutcome::JournalDamaged);
  folder.Rename("renamed", name);

  const FileReport resumed = Resume(folder, name, ResumeMode::Finish);
  EXPECT_EQ(resumed.outcome, FileOutcome::Done);
  EXPECT_EQ(folder.Read(name), TransformInMemory(plain, Direction::Encrypt));
  EXPECT_EQ(folder.Names(), std::vector<std::string>{name});
}

// A slot whose image fails its checksum is either taken for the next window
// (so the window is whole in place) or damaged: the file tells which. A
// window that is not whole is never taken for done: the resume changes
// nothing, keeps the journal and says which bytes are in doubt.
TEST(FileTransformTest, ADamagedImageIsNeverTakenForAWholeWindow) {
  TempFolder folder;
  const std::vector<std::uint8_t> plain = PatternBytes(3 * FullChunk, 8);
  folder.Write("todo", plain);
  // Torn while its second window was written in place (the journal's header
  // is the first write, then a window is its image, its record and the
  // file), the undo unable to write.
  FaultyCalls calls;
  calls.fail_write = 7;
  calls.fail_writes_from = 8;
  const TransformRunResult run = Transform(folder, "todo", Direction::Encrypt, calls);
  ASSERT_EQ(run.report.condition, FileCondition::Interrupted);
  const std::string name = run.report.name;
  const std::vector<std::uint8_t> content = folder.Read(name);
  const std::vector<std::uint8_t> journal_bytes = folder.Read(run.report.journal);

  struct Damage {
    const char* what;
    std::function<void(std::vector<std::uint8_t>&)> apply;
  };
  const Damage damages[] = {
      {"a flipped bit", [](std::vector<std::uint8_t>& journal) { journal[JournalImageOffset + 100] ^= 4; }},
      {"cut short", [](std::vector<std::uint8_t>& journal) { journal.resize(JournalImageOffset + 100); }},
  };
  for (const Damage& damage : damages) {
    for (const ResumeMode mode : {ResumeMode::Finish, ResumeMode::Undo}) {
      SCOPED_TRACE(damage.what);
      std::vector<std::uint8_t> damaged = journal_bytes;
      damage.apply(damaged);
      folder.Write(run.report.journal, damaged);
      const FileReport refused = Resume(folder, name, mode);
      EXPECT_EQ(refused.outcome, FileOutcome::JournalDamaged);
      EXPECT_EQ(refused.condition, FileCondition::Interrupted);
      EXPECT_EQ(refused.journal, run.report.journal);
      EXPECT_EQ(refused.done, static_cast<std::int64_t>(FullChunk)) << "the first window is done";
      EXPECT_EQ(refused.in_doubt, static_cast<std::int64_t>(FullChunk)) << "the second is in doubt";
      EXPECT_EQ(folder.Read(name), content) << "nothing changed";
      EXPECT_EQ(folder.Read(run.report.journal), damaged);
    }
  }

  folder.Write(run.report.journal, journal_bytes);
  const FileReport resumed = Resume(folder, name, ResumeMode::Finish);
  EXPECT_EQ(resumed.outcome, FileOutcome::Done);
  EXPECT_EQ(folder.Read(name), TransformInMemory(plain, Direction::Encrypt));
}

// Every call through the seam, as a line: which call, where, how much, and
// for a write a digest of its bytes. Random bytes are fixed, so that two runs
// write the same journal.
class RecordingCalls : public FaultyCalls {
 public:
  std::vector<std::string> calls;
  bool off_the_callers_thread = false;

  ssize_t ReadAt(int descriptor, void* data, std::size_t size, off_t offset) override {
    Log("pread " + std::to_string(offset) + " " + std::to_string(size));
    return FaultyCalls::ReadAt(descriptor, data, size, offset);
  }
  ssize_t WriteAt(int descriptor, const void* data, std::size_t size, off_t offset) override {
    ImageHash digest;
    digest.Add(std::span(static_cast<const std::uint8_t*>(data), size));
    const JournalHash bytes = digest.Finish();
    Log("pwrite " + std::to_string(offset) + " " + std::to_string(size) + " " +
        std::to_string(bytes[0] | bytes[1] << 8 | bytes[2] << 16));
    return FaultyCalls::WriteAt(descriptor, data, size, offset);
  }
  int SyncData(int descriptor) override {
    Log("fdatasync");
    return FaultyCalls::SyncData(descriptor);
  }
  int Sync(int descriptor) override {
    Log("fsync");
    return FaultyCalls::Sync(descriptor);
  }
  int StartWriteback(int descriptor, off_t offset, off_t length) override {
    Log("writeback " + std::to_string(offset) + " " + std::to_string(length));
    return FaultyCalls::StartWriteback(descriptor, offset, length);
  }
  int RenameAt(int folder, const char* from, const char* to, unsigned flags) override {
    Log(std::string("rename ") + from + " " + to);
    return FaultyCalls::RenameAt(folder, from, to, flags);
  }
  int UnlinkAt(int folder, const char* name) override {
    Log(std::string("unlink ") + name);
    return FaultyCalls::UnlinkAt(folder, name);
  }
  ssize_t Random(void* data, std::size_t size) override {
    Log("random");
    std::memset(data, 0x5a, size);
    return static_cast<ssize_t>(size);
  }

 private:
  void Log(std::string call) {
    if (std::this_thread::get_id() != caller_) off_the_callers_thread = true;
    calls.push_back(std::move(call));
  }
  const std::thread::id caller_ = std::this_thread::get_id();
};

struct PlacementCase {
  const char* what;
  Direction direction;
  FileOutcome expected;
  std::optional<std::int64_t> cancel_at_block;
  int fail_read = 0;
  int fail_write = 0;
  int fail_sync_data = 0;
  // Reads made ahead, beside the cipher, that a failed write made needless.
  std::size_t reads_in_vain = 0;
};

// Brings the folder back to one file, "ledger", holding `plain` with no key
// check (encrypted, for a decryption), under the inode it had: the journal's
// name and header carry the inode, and two runs are to write the same
// journal. Returns the file's name.
std::string ReadyLedger(const TempFolder& folder, const std::vector<std::uint8_t>& plain,
                        Direction direction) {
  const std::vector<std::string> names = folder.Names();
  if (names.size() == 1 && names[0] != "ledger") {
    EXPECT_EQ(renameat(folder.Fd(), names[0].c_str(), folder.Fd(), "ledger"), 0) << std::strerror(errno);
  }
  EXPECT_LE(names.size(), 1u);
  removexattr(folder.PathOf("ledger").c_str(), KeyCheckAttributeName);
  folder.Write("ledger", plain);
  if (direction == Direction::Encrypt) return "ledger";
  EXPECT_EQ(Transform(folder, "ledger", Direction::Encrypt).report.outcome, FileOutcome::Done);
  return "ledger" + SuffixText;
}

// The calls of a log that read, and those that do not, each in their order.
std::pair<std::vector<std::string>, std::vector<std::string>> ReadsAndTheRest(
    const std::vector<std::string>& calls) {
  std::pair<std::vector<std::string>, std::vector<std::string>> split;
  for (const std::string& call : calls)
    (call.starts_with("pread") ? split.first : split.second).push_back(call);
  return split;
}

// Whether `more` is `fewer` with `extra` calls put in between.
bool WithExtraCalls(const std::vector<std::string>& fewer, const std::vector<std::string>& more,
                    std::size_t extra) {
  if (more.size() != fewer.size() + extra) return false;
  std::size_t matched = 0;
  for (const std::string& call : more) {
    if (matched < fewer.size() && fewer[matched] == call) ++matched;
  }
  return matched == fewer.size();
}

// The cipher on a thread of its own changes nothing but the speed: the same
// writes, syncs and renames through the seam in the same order with the same
// bytes, the same reads in the same order (made earlier, while the cipher
// works, and so one more when a write fails), the same progress steps and
// the same report as with the cipher on the caller's thread, whether the run
// is done, cancelled or fails; and every call comes from the caller's thread. Windows of three
// chunks of four blocks, so that each window has chunks to read ahead.
TEST(FileTransformTest, TheCiphersOwnThreadChangesNothingButTheSpeed) {
  const PlacementCase cases[] = {
      {"encrypt", Direction::Encrypt, FileOutcome::Done, std::nullopt},
      {"decrypt", Direction::Decrypt, FileOutcome::Done, std::nullopt},
      {"cancel in the second window", Direction::Encrypt, FileOutcome::Cancelled, 17},
      {"cancel at the last block", Direction::Decrypt, FileOutcome::Cancelled, 40},
      {"read error in a window's second chunk", Direction::Encrypt, FileOutcome::ReadError, std::nullopt, 2},
      {"write error in a window's second chunk", Direction::Encrypt, FileOutcome::WriteError, std::nullopt, 0,
       3, 0, 1},
      {"write error in a window's last chunk", Direction::Encrypt, FileOutcome::WriteError, std::nullopt, 0,
       4},
      {"write error in place", Direction::Decrypt, FileOutcome::WriteError, std::nullopt, 0, 7},
      {"failed sync of the first window in place", Direction::Encrypt, FileOutcome::SyncError, std::nullopt,
       0, 0, 4},
  };
  TransformSettings settings = SmallWindows();
  settings.blocks_per_chunk = 4;
  settings.largest_window = 12 * MaxBlockLength;
  const std::vector<std::uint8_t> plain = PatternBytes(40 * MaxBlockLength + 777, 21);
  for (const PlacementCase& run : cases) {
    SCOPED_TRACE(run.what);
    struct Seen {
      std::vector<std::string> calls;
      std::vector<std::int64_t> progress;
      FileReport report;
      std::vector<std::string> names;
      std::vector<std::uint8_t> content;
    };
    std::vector<Seen> seen;
    TempFolder folder;
    for (const CipherThread placement : {CipherThread::Caller, CipherThread::Own}) {
      const std::string name = ReadyLedger(folder, plain, run.direction);
      RecordingCalls calls;
      calls.fail_read = run.fail_read;
      calls.fail_write = run.fail_write;
      calls.fail_sync_data = run.fail_sync_data;
      settings.cipher_thread = placement;
      const TransformRunResult result =
          Transform(folder, name, run.direction, calls, run.cancel_at_block, settings);
      EXPECT_FALSE(calls.off_the_callers_thread);
      seen.push_back({calls.calls, result.progress_offsets, result.report, folder.Names(),
                      folder.Read(result.report.name)});
    }
    EXPECT_EQ(seen[0].report.outcome, run.expected) << seen[0].report.error.Describe();
    const auto [reads, the_rest] = ReadsAndTheRest(seen[0].calls);
    const auto [threads_reads, threads_rest] = ReadsAndTheRest(seen[1].calls);
    EXPECT_EQ(the_rest, threads_rest);
    EXPECT_TRUE(WithExtraCalls(reads, threads_reads, run.reads_in_vain))
        << ::testing::PrintToString(reads) << "\n"
        << ::testing::PrintToString(threads_reads);
    EXPECT_EQ(seen[0].progress, seen[1].progress);
    EXPECT_EQ(seen[0].report.outcome, seen[1].report.outcome);
    EXPECT_EQ(seen[0].report.condition, seen[1].report.condition);
    EXPECT_EQ(seen[0].report.done, seen[1].report.done);
    EXPECT_EQ(seen[0].names, seen[1].names);
    EXPECT_TRUE(seen[0].content == seen[1].content) << "the files differ";
  }
}

}  // namespace
}  // namespace quorvant
