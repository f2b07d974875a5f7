// The strong format's runs on real files: what a decryption refuses before
// anything changes (a wrong key, a damaged chunk or tag, a damaged, cut or
// appended-to end), and the names that only look strong. The crash
// simulation covers the runs themselves, their undo and every crash.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "base/clock.h"
#include "crypto/encrypted_name.h"
#include "crypto/strong_format.h"
#include "rewrite/admission.h"
#include "rewrite/file_transform.h"
#include "tests/support/remembering_key_checker.h"
#include "tests/support/sample_bytes.h"
#include "tests/support/sample_key.h"
#include "tests/support/temp_folder.h"

namespace quorvant {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::Key;
using testing::StrongSuffix;
using testing::TempFolder;

const std::string Plain = "notes.bin";
const std::string Strong = Plain + std::string(StrongSuffix.begin(), StrongSuffix.end());
constexpr std::size_t Chunk = StrongChunkLength;

testing::RememberingKeyChecker& Checker() {
  static testing::RememberingKeyChecker checker;
  return checker;
}

TransformSettings Settings() {
  TransformSettings settings;
  settings.key_checker = &Checker();
  return settings;
}

FileReport Transform(const TempFolder& folder, const std::string& name, Direction direction,
                     const std::string& key, const TransformSettings& settings = Settings()) {
  FileResult<OpenedFile> opened = OpenFileInFolder(folder.Fd(), name);
  if (FailureOf(opened).outcome != FileOutcome::Done) {
    FileReport refused;
    refused.outcome = FailureOf(opened).outcome;
    return refused;
  }
  return TransformFile(*opened, direction, StrongSuffix, key, {}, settings);
}

// A strong file of three chunks and a bit, encrypted by the run itself.
Bytes EncryptedByTheRun(const TempFolder& folder, const Bytes& plain) {
  folder.Write(Plain, plain);
  const FileReport report = Transform(folder, Plain, Direction::Encrypt, Key);
  EXPECT_EQ(report.outcome, FileOutcome::Done) << report.error.Describe();
  EXPECT_EQ(folder.Names(), std::vector<std::string>{Strong});
  return folder.Read(Strong);
}

TEST(StrongRun, EncryptsInPlaceAndDecryptsBack) {
  for (const std::size_t length : {std::size_t{0}, std::size_t{1}, Chunk, 3 * Chunk + 5}) {
    TempFolder folder;
    const Bytes plain = testing::PatternBytes(length, 7);
    const Bytes encrypted = EncryptedByTheRun(folder, plain);
    EXPECT_EQ(encrypted.size(), StrongEncryptedLength(length)) << length;
    // What the run wrote is the format's, as an image in memory reads it.
    const StrongEnd end = ClassifyStrongEnd(encrypted, static_cast<std::int64_t>(encrypted.size()));
    ASSERT_EQ(end.kind, StrongEndKind::Sound) << length;
    const auto master = Checker().StrongMaster(Key, end.trailer.salt, end.trailer.cost);
    const auto image = DecryptStrongImage(*master, encrypted);
    ASSERT_TRUE(image.ok());
    EXPECT_EQ(image->plaintext, plain) << length;
    EXPECT_TRUE(image->damaged_chunks.empty()) << length;

    const FileReport decrypted = Transform(folder, Strong, Direction::Decrypt, Key);
    EXPECT_EQ(decrypted.outcome, FileOutcome::Done) << decrypted.error.Describe();
    EXPECT_EQ(folder.Names(), std::vector<std::string>{Plain});
    EXPECT_EQ(folder.Read(Plain), plain) << length;
  }
}

// Each refusal leaves every byte and the name as they were, and no journal.
TEST(StrongRun, ADecryptionRefusesBeforeAnythingChanges) {
  struct Case {
    const char* what;
    std::function<void(Bytes&)> harm;
    std::string key;
    FileOutcome expected;
    std::string detail;  // in the error's action
  };
  const std::size_t length = 3 * Chunk + 5;
  const std::size_t tags = length;
  const std::size_t trailer = StrongTrailerOffset(length);
  const std::vector<Case> cases = {
      {"a wrong key", [](Bytes&) {}, "not the key", FileOutcome::WrongKey, ""},
      {"a bit flipped in chunk 1", [](Bytes& b) { b[Chunk + 9] ^= 1; }, Key, FileOutcome::Damaged,
       "bytes 65536..131071 fail their check"},
      {"a bit flipped in the last chunk's tag", [&](Bytes& b) { b[tags + 3 * 16 + 2] ^= 0x80; }, Key,
       FileOutcome::Damaged, "bytes 196608..196612 fail their check"},
      {"chunks 0 and 1 swapped",
       [](Bytes& b) { std::swap_ranges(b.begin(), b.begin() + Chunk, b.begin() + Chunk); }, Key,
       FileOutcome::Damaged, "bytes 0..131071 fail their check"},
      {"the trailer's salt damaged", [&](Bytes& b) { b[trailer + strong_trailer::SaltOffset] ^= 4; }, Key,
       FileOutcome::DamagedOrCut, "its trailer is damaged"},
      {"bytes appended", [](Bytes& b) { b.insert(b.end(), 100, 0); }, Key, FileOutcome::DamagedOrCut,
       "bytes were appended after its trailer"},
      {"cut inside the trailer", [](Bytes& b) { b.resize(b.size() - 20); }, Key, FileOutcome::DamagedOrCut,
       "it ends inside its trailer"},
      {"the last chunk and its tag cut out",
       [&](Bytes& b) {
         b.erase(b.begin() + static_cast<std::ptrdiff_t>(tags + 3 * 16), b.begin() + static_cast<std::ptrdiff_t>(tags + 4 * 16));
         b.erase(b.begin() + 3 * Chunk, b.begin() + static_cast<std::ptrdiff_t>(length));
       },
       Key, FileOutcome::DamagedOrCut, "its length does not fit its trailer"},
  };
  const Bytes plain = testing::PatternBytes(length, 3);
  for (const Case& harmed : cases) {
    TempFolder folder;
    Bytes bytes = EncryptedByTheRun(folder, plain);
    harmed.harm(bytes);
    folder.Write(Strong, bytes);
    const FileReport report = Transform(folder, Strong, Direction::Decrypt, harmed.key);
    EXPECT_EQ(report.outcome, harmed.expected) << harmed.what << ": " << OutcomeText(report.outcome);
    EXPECT_EQ(report.condition, FileCondition::AsBefore) << harmed.what;
    EXPECT_NE(report.error.action.find(harmed.detail), std::string::npos)
        << harmed.what << ": " << report.error.action;
    EXPECT_EQ(folder.Names(), std::vector<std::string>{Strong}) << harmed.what;
    EXPECT_EQ(folder.Read(Strong), bytes) << harmed.what;
  }
}

// The check before a decryption asks the settings' check progress for each
// chunk; a cancel there leaves the file as it was, with no journal.
TEST(StrongRun, TheCheckBeforeADecryptionShowsProgressAndCanBeCancelled) {
  const std::size_t length = 3 * Chunk + 5;
  for (const bool cancel : {false, true}) {
    TempFolder folder;
    const Bytes encrypted = EncryptedByTheRun(folder, testing::PatternBytes(length, 4));
    std::vector<std::int64_t> asked;
    TransformSettings settings = Settings();
    settings.check_progress = [&](std::int64_t offset, std::int64_t last_offset) {
      EXPECT_EQ(last_offset, static_cast<std::int64_t>(length) - 1);
      asked.push_back(offset);
      return cancel && offset == 2 * Chunk ? ProgressAnswer::Cancel : ProgressAnswer::Continue;
    };
    const FileReport report = Transform(folder, Strong, Direction::Decrypt, Key, settings);
    if (cancel) {
      EXPECT_EQ(asked, (std::vector<std::int64_t>{0, Chunk, 2 * Chunk}));
      EXPECT_EQ(report.outcome, FileOutcome::Cancelled);
      EXPECT_EQ(report.condition, FileCondition::AsBefore);
      EXPECT_EQ(folder.Names(), std::vector<std::string>{Strong});
      EXPECT_EQ(folder.Read(Strong), encrypted);
    } else {
      EXPECT_EQ(asked, (std::vector<std::int64_t>{0, Chunk, 2 * Chunk, 3 * Chunk}));
      EXPECT_EQ(report.outcome, FileOutcome::Done) << report.error.Describe();
      EXPECT_EQ(folder.Names(), std::vector<std::string>{Plain});
    }
  }
}

// The "]" shape only proposes the format: the end decides.
TEST(StrongRun, TheEndDecidesWhatAStrongLookingNameIs) {
  TempFolder folder;
  TestClock clock;
  const Bytes encrypted = EncryptedByTheRun(folder, testing::PatternBytes(1000, 5));
  folder.Write("plain 1234567]", testing::PatternBytes(5000, 9));
  folder.Write("cut 1234567]", Bytes(encrypted.begin(), encrypted.end() - 7));
  struct Case {
    std::string name;
    FileOutcome outcome;
    Direction direction;
  };
  for (const Case& named : {Case{Strong, FileOutcome::Done, Direction::Decrypt},
                            Case{"plain 1234567]", FileOutcome::Done, Direction::Encrypt},
                            Case{"cut 1234567]", FileOutcome::DamagedOrCut, Direction::Encrypt}}) {
    FileResult<OpenedFile> opened = OpenFileInFolder(folder.Fd(), named.name);
    ASSERT_EQ(FailureOf(opened).outcome, FileOutcome::Done) << named.name;
    FileCalls calls;
    const FileResult<Admission> admitted = AdmitFile(*opened, FileIntent::ByName, clock, calls);
    EXPECT_EQ(admitted ? FileOutcome::Done : admitted.error().outcome, named.outcome) << named.name;
    if (admitted) {
      EXPECT_EQ(admitted->direction, named.direction) << named.name;
    }
  }
}

// Where the default derivation's memory cannot be had, a smaller one is
// used, recorded in the trailer, and said.
TEST(StrongRun, ADerivationShortOfMemoryFallsBackAndSaysSo) {
  class ShortOfMemory : public KeyChecker {
   public:
    ShortOfMemory() : KeyChecker(testing::CheapKeyCheckCost, DefaultStrongCost) {}
    Result<StrongMasterKey, StrongKeyFailure> StrongMaster(std::string_view key_text,
                                                           std::span<const std::uint8_t, 16> salt,
                                                           StrongCost cost) override {
      if (cost.memory_kib > FallbackStrongCost.memory_kib) return StrongKeyFailure::OutOfMemory;
      return KeyChecker::StrongMaster(key_text, salt, cost);
    }
  } checker;
  TempFolder folder;
  folder.Write(Plain, testing::PatternBytes(1000, 1));
  std::optional<FileResult<OpenedFile>> opened = OpenFileInFolder(folder.Fd(), Plain);
  ASSERT_EQ(FailureOf(*opened).outcome, FileOutcome::Done);
  TransformSettings settings;
  settings.key_checker = &checker;
  const FileReport report = TransformFile(**opened, Direction::Encrypt, StrongSuffix, Key, {}, settings);
  opened.reset();  // its lease would hold up the read below
  ASSERT_EQ(report.outcome, FileOutcome::Done) << report.error.Describe();
  EXPECT_EQ(report.note, "the key derivation could not have 256 MiB of memory and used 64 MiB");
  const Bytes sealed = folder.Read(Strong);
  const StrongEnd end = ClassifyStrongEnd(sealed, static_cast<std::int64_t>(sealed.size()));
  ASSERT_EQ(end.kind, StrongEndKind::Sound);
  EXPECT_EQ(end.trailer.cost, FallbackStrongCost);
}

}  // namespace
}  // namespace quorvant
