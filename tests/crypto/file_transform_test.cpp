#include "crypto/file_transform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "crypto/encrypted_name.h"
#include "tests/support/faulty_calls.h"
#include "tests/support/read_only_files.h"
#include "tests/support/temp_folder.h"

namespace quorvant {
namespace {

using testing::FaultyCalls;
using testing::PatternBytes;
using testing::TempFolder;

constexpr char Key[] = "correct horse";
const EncryptedSuffix Suffix = {' ', 'A', 'b', '3', '~', ' ', 'x', '!', '['};
const std::string SuffixText(Suffix.begin(), Suffix.end());
constexpr std::size_t FullChunk = BlocksPerChunk * MaxBlockLength;

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

struct TransformRunResult {
  FileReport report;
  std::vector<std::int64_t> progress_offsets;
  std::int64_t last_offset_seen = -2;
  bool words_wiped = false;
};

// Opens `name`, transforms it (the suffix comes from the name when
// decrypting) and closes it again, so that the test can then look at the file.
TransformRunResult Transform(const TempFolder& folder, const std::string& name, Direction direction,
                             FileCalls& calls, std::optional<std::int64_t> cancel_at_block = std::nullopt) {
  TransformRunResult run;
  OpenAttempt opened = OpenFileInFolder(folder.Fd(), name, calls);
  if (opened.outcome != FileOutcome::Done) {
    run.report.outcome = opened.outcome;
    run.report.name = name;
    return run;
  }
  const EncryptedSuffix suffix =
      direction == Direction::Encrypt ? Suffix : SuffixOfName(name).value_or(Suffix);
  KeyWords words = BuildKeyWords(Key, suffix);
  const auto progress = [&](std::int64_t offset, std::int64_t last_offset) {
    run.last_offset_seen = last_offset;
    run.progress_offsets.push_back(offset);
    const auto block = static_cast<std::int64_t>(run.progress_offsets.size()) - 1;
    return cancel_at_block && block == *cancel_at_block ? ProgressAnswer::Cancel : ProgressAnswer::Continue;
  };
  run.report = TransformFile(*opened.file, direction, suffix, words, progress, calls);
  run.words_wiped = words.IsWiped();
  return run;
}

TransformRunResult Transform(const TempFolder& folder, const std::string& name, Direction direction) {
  FileCalls calls;
  return Transform(folder, name, direction, calls);
}

class FileTransformRoundTrip : public ::testing::TestWithParam<std::size_t> {};

// Encrypting renames to NAME + suffix and gives the cipher's bytes, whatever
// the chunking; decrypting restores name and content.
TEST_P(FileTransformRoundTrip, EncryptsLikeTheBlockCipherAndDecryptsBack) {
  const std::size_t length = GetParam();
  TempFolder folder;
  const std::vector<std::uint8_t> plain = PatternBytes(length, static_cast<std::uint32_t>(length));
  folder.Write("report.txt", plain);

  const TransformRunResult encrypted = Transform(folder, "report.txt", Direction::Encrypt);
  ASSERT_EQ(encrypted.report.outcome, FileOutcome::Done) << encrypted.report.error.Describe();
  EXPECT_EQ(encrypted.report.condition, FileCondition::Transformed);
  EXPECT_EQ(encrypted.report.name, "report.txt" + SuffixText);
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"report.txt" + SuffixText});
  EXPECT_EQ(folder.Read("report.txt" + SuffixText), TransformInMemory(plain, Direction::Encrypt));
  EXPECT_TRUE(encrypted.words_wiped);

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

// A rename that cannot be done is refused before anything changes.
TEST(FileTransformTest, RefusesANewNameThatIsTakenTooLongOrMissing) {
  struct Case {
    const char* what;
    std::string name;
    std::string other_file;  // made beside it, or empty
    Direction direction;
    FileOutcome expected;
  };
  const Case cases[] = {
      {"encrypted name taken", "a.txt", "a.txt" + SuffixText, Direction::Encrypt, FileOutcome::NameInUse},
      {"plain name taken", "b.txt" + SuffixText, "b.txt", Direction::Decrypt, FileOutcome::NameInUse},
      {"name over 255 bytes", std::string(250, 'n'), "", Direction::Encrypt, FileOutcome::NameTooLong},
      {"no suffix to remove", "plain.txt", "", Direction::Decrypt, FileOutcome::NameInvalid},
      {"nothing would remain", SuffixText, "", Direction::Decrypt, FileOutcome::NameInvalid},
  };
  for (const Case& refused : cases) {
    SCOPED_TRACE(refused.what);
    TempFolder folder;
    const std::vector<std::uint8_t> content = PatternBytes(20000, 3);
    folder.Write(refused.name, content);
    if (!refused.other_file.empty()) folder.Write(refused.other_file, {1, 2, 3});
    const std::vector<std::string> names_before = folder.Names();

    const TransformRunResult run = Transform(folder, refused.name, refused.direction);
    EXPECT_EQ(run.report.outcome, refused.expected);
    EXPECT_EQ(run.report.condition, FileCondition::AsBefore);
    EXPECT_EQ(run.report.name, refused.name);
    EXPECT_TRUE(run.progress_offsets.empty());
    EXPECT_TRUE(run.words_wiped);
    EXPECT_EQ(folder.Names(), names_before);
    EXPECT_EQ(folder.Read(refused.name), content);
    if (!refused.other_file.empty()) {
      EXPECT_EQ(folder.Read(refused.other_file), (std::vector<std::uint8_t>{1, 2, 3}));
    }
  }
}

// A file of three chunks, cancelled or failing at various points, in both
// directions: afterwards it is byte for byte and by name what it was.
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
  EXPECT_TRUE(run.words_wiped);
  EXPECT_EQ(folder.Names(), std::vector<std::string>{name});
  EXPECT_TRUE(folder.Read(name) == before) << "content differs after the undo";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FileTransformUndo,
    ::testing::Values(
        UndoCase{"cancel at the first block", Direction::Encrypt, 0, 0, 0, 0, FileOutcome::Cancelled},
        UndoCase{"cancel in the second chunk", Direction::Encrypt, 100, 0, 0, 0, FileOutcome::Cancelled},
        UndoCase{"cancel at the last block", Direction::Encrypt, 128, 0, 0, 0, FileOutcome::Cancelled},
        UndoCase{"cancel while decrypting", Direction::Decrypt, 70, 0, 0, 0, FileOutcome::Cancelled},
        UndoCase{"read error in the third chunk", Direction::Encrypt, std::nullopt, 3, 0, 0,
                 FileOutcome::ReadError},
        UndoCase{"half-done write of the second chunk", Direction::Encrypt, std::nullopt, 0, 2, 0,
                 FileOutcome::WriteError},
        UndoCase{"half-done write of the first chunk", Direction::Decrypt, std::nullopt, 0, 1, 0,
                 FileOutcome::WriteError},
        UndoCase{"failed sync at the end", Direction::Encrypt, std::nullopt, 0, 0, 1, FileOutcome::SyncError},
        UndoCase{"failed sync at the end of a decryption", Direction::Decrypt, std::nullopt, 0, 0, 1,
                 FileOutcome::SyncError}),
    [](const ::testing::TestParamInfo<UndoCase>& info) {
      std::string name = info.param.what;
      for (char& character : name) {
        if (!std::isalnum(static_cast<unsigned char>(character))) character = '_';
      }
      return name;
    });

// The sync step comes once, after the last block's progress step and before
// the data is synced; a run that stops earlier never gives it.
TEST(FileTransformTest, SyncStartComesBetweenTheLastBlockAndTheSync) {
  struct Case {
    const char* what;
    int cancel_at_block;  // -1: never
    int fail_write;
    std::string expected;  // p: progress step, s: sync start, d: data sync
  };
  const Case cases[] = {
      {"a whole run", -1, 0, "pppsd"},
      {"a cancel at the last block", 2, 0, "ppp"},
      {"a failed write", -1, 1, "ppp"},
  };
  for (const Case& run : cases) {
    SCOPED_TRACE(run.what);
    TempFolder folder;
    folder.Write("f", PatternBytes(2 * MaxBlockLength + 10, 4));
    FaultyCalls calls;
    calls.fail_write = run.fail_write;
    std::string events;
    calls.before_sync_data = [&](int) { events += 'd'; };
    OpenAttempt opened = OpenFileInFolder(folder.Fd(), "f", calls);
    ASSERT_EQ(opened.outcome, FileOutcome::Done);
    KeyWords words = BuildKeyWords(Key, Suffix);
    const auto progress = [&](std::int64_t, std::int64_t) {
      events += 'p';
      const auto block = static_cast<int>(std::count(events.begin(), events.end(), 'p')) - 1;
      return block == run.cancel_at_block ? ProgressAnswer::Cancel : ProgressAnswer::Continue;
    };
    TransformFile(*opened.file, Direction::Encrypt, Suffix, words, progress, calls, [&] { events += 's'; });
    EXPECT_EQ(events, run.expected);
  }
}

// When even the undo cannot write, the file keeps its encrypted name, so the
// salt needed to recover the encrypted part is not lost.
TEST(FileTransformTest, FailedUndoKeepsTheEncryptedName) {
  TempFolder folder;
  folder.Write("notes.txt", PatternBytes(2 * FullChunk, 5));
  FaultyCalls calls;
  calls.fail_writes_from = 2;
  const TransformRunResult run = Transform(folder, "notes.txt", Direction::Encrypt, calls);
  EXPECT_EQ(run.report.outcome, FileOutcome::WriteError);
  EXPECT_EQ(run.report.condition, FileCondition::PartlyTransformed);
  EXPECT_EQ(run.report.name, "notes.txt" + SuffixText);
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"notes.txt" + SuffixText});
  EXPECT_TRUE(run.words_wiped);
}

// The plain name is checked before a decryption starts, but another program
// can take it while the data is being decrypted: the rename then fails and
// the decryption is undone.
TEST(FileTransformTest, NameTakenDuringADecryptionUndoesIt) {
  TempFolder folder;
  folder.Write("photo.jpg", PatternBytes(50000, 9));
  ASSERT_EQ(Transform(folder, "photo.jpg", Direction::Encrypt).report.outcome, FileOutcome::Done);
  const std::vector<std::uint8_t> encrypted = folder.Read("photo.jpg" + SuffixText);

  FaultyCalls calls;
  calls.before_rename = [&] { folder.Write("photo.jpg", {42}); };
  const TransformRunResult run = Transform(folder, "photo.jpg" + SuffixText, Direction::Decrypt, calls);
  EXPECT_EQ(run.report.outcome, FileOutcome::NameInUse);
  EXPECT_EQ(run.report.condition, FileCondition::AsBefore);
  EXPECT_EQ(folder.Read("photo.jpg" + SuffixText), encrypted);
  EXPECT_EQ(folder.Read("photo.jpg"), std::vector<std::uint8_t>{42});
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

// The checks made just before the run: gone, replaced, or wanted by another program.
// A file that can be read but not written is never transformed, and its key
// words are wiped all the same.
TEST(FileTransformTest, RefusesAReadOnlyFile) {
  TempFolder folder;
  folder.Write("frozen", PatternBytes(3000));
  const std::vector<std::uint8_t> before = folder.Read("frozen");
  testing::ForEachReadOnlyKind(folder, "frozen", [&](FileCalls& calls) {
    {
      OpenAttempt opened = OpenFileInFolder(folder.Fd(), "frozen", calls);
      ASSERT_EQ(opened.outcome, FileOutcome::Done) << opened.error.Describe();
      ASSERT_TRUE(opened.file->IsReadOnly());
      KeyWords words = BuildKeyWords("key", Suffix);
      const FileReport transformed =
          TransformFile(*opened.file, Direction::Encrypt, Suffix, words, {}, calls);
      EXPECT_EQ(transformed.outcome, FileOutcome::ReadOnly);
      EXPECT_TRUE(words.IsWiped());
    }
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"frozen"});
    EXPECT_EQ(folder.Read("frozen"), before);
  });
}

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
    std::optional<OpenAttempt> opened = OpenFileInFolder(folder.Fd(), "f");
    ASSERT_EQ(opened->outcome, FileOutcome::Done);
    ASSERT_EQ(opened->file->Lock(), FileLock::Lease);
    meddled.meddle();
    KeyWords words = BuildKeyWords(Key, Suffix);
    int progress_calls = 0;
    const FileReport report =
        TransformFile(*opened->file, Direction::Encrypt, Suffix, words, [&](std::int64_t, std::int64_t) {
          ++progress_calls;
          return ProgressAnswer::Continue;
        });
    EXPECT_EQ(report.outcome, meddled.expected) << report.error.Describe();
    EXPECT_EQ(progress_calls, 0);
    EXPECT_TRUE(words.IsWiped());
    opened.reset();
    EXPECT_FALSE(folder.Exists("f" + SuffixText));
  }
  EXPECT_EQ(folder.Read("moved"), content);
}

}  // namespace
}  // namespace quorvant
