// A classic decryption leaves a mark on its file, so that encrypting it again
// with the same key gives back the former file exactly; on real files, with
// the real key check and checksum. What the mark decides: restore, ask
// first, or an ordinary encryption that drops it.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <optional>
#include <string>
#include <vector>

#include "base/clock.h"
#include "crypto/encrypted_name.h"
#include "crypto/key_check.h"
#include "crypto/undo_mark.h"
#include "rewrite/admission.h"
#include "rewrite/file_transform.h"
#include "tests/support/remembering_key_checker.h"
#include "tests/support/sample_bytes.h"
#include "tests/support/temp_folder.h"

namespace quorvant {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::TempFolder;

constexpr char Key[] = "right key";
constexpr char OtherKey[] = "wrong key";
const std::string Plain = "bundle.txt";

testing::RememberingKeyChecker& Checker() {
  static testing::RememberingKeyChecker checker;
  return checker;
}

struct Asked {
  CipherFormat format = CipherFormat::Classic;
  bool strong_asked = false;
  // The answer to a question, when one comes; nothing: refused.
  bool go_on = false;
};

// One run as the tool and the window make it: admitted, prepared, asked, gone.
FileReport RunOn(const TempFolder& folder, const std::string& name, FileIntent intent, const char* key,
                 Asked asked = {}) {
  FileCalls calls;
  RealClock clock;
  FileResult<OpenedFile> opened = OpenFileInFolder(folder.Fd(), name, calls);
  EXPECT_TRUE(opened) << name;
  if (!opened) return {};
  FileResult<Admission> admitted = AdmitFile(*opened, intent, clock, calls, asked.format);
  if (!admitted) {
    FileReport refused;
    refused.outcome = admitted.error().outcome;
    refused.error = admitted.error().error;
    return refused;
  }
  admitted->strong_asked = asked.strong_asked;
  TransformSettings settings;
  settings.key_checker = &Checker();
  FileRun run(*opened, calls, settings);
  const FileReport prepared = run.Prepare(*admitted, key);
  const bool question = prepared.outcome == FileOutcome::OtherKeyThanDecryption ||
                        prepared.outcome == FileOutcome::KeyLooksWrong;
  if (prepared.outcome == FileOutcome::Done || (question && asked.go_on)) return run.Go({});
  return prepared;
}

std::optional<Bytes> Attribute(const TempFolder& folder, const std::string& name, const char* attribute) {
  Bytes value(512);
  const ssize_t size = getxattr(folder.PathOf(name).c_str(), attribute, value.data(), value.size());
  if (size < 0) return std::nullopt;
  value.resize(static_cast<std::size_t>(size));
  return value;
}

// Gives the file a modification time no write of the test can share.
void Touch(const TempFolder& folder, const std::string& name) {
  const struct timespec times[2] = {{0, UTIME_OMIT}, {1'000'000'000, 0}};
  ASSERT_EQ(utimensat(folder.Fd(), name.c_str(), times, 0), 0);
}

std::string OnlyName(const TempFolder& folder) {
  const std::vector<std::string> names = folder.Names();
  EXPECT_EQ(names.size(), 1u);
  return names.empty() ? "" : names.front();
}

// A classic file encrypted with Key, then decrypted by a run: what the file
// was before the decryption.
struct Former {
  std::string name;
  Bytes bytes;
  Bytes check;
};
Former EncryptThenDecrypt(const TempFolder& folder, const Bytes& plain) {
  folder.Write(Plain, plain);
  EXPECT_EQ(RunOn(folder, Plain, FileIntent::Encrypt, Key).outcome, FileOutcome::Done);
  Former former{OnlyName(folder), {}, {}};
  former.bytes = folder.Read(former.name);
  former.check = Attribute(folder, former.name, KeyCheckAttributeName).value_or(Bytes{});
  const FileReport decrypted = RunOn(folder, former.name, FileIntent::Decrypt, Key);
  EXPECT_EQ(decrypted.outcome, FileOutcome::Done) << decrypted.error.Describe();
  EXPECT_TRUE(decrypted.undo_marked);
  EXPECT_FALSE(decrypted.key_unchecked);
  EXPECT_EQ(folder.Read(Plain), plain);
  return former;
}

void ExpectFormerBack(const TempFolder& folder, const Former& former) {
  EXPECT_EQ(folder.Names(), std::vector<std::string>{former.name});
  EXPECT_EQ(folder.Read(former.name), former.bytes);
  EXPECT_EQ(Attribute(folder, former.name, KeyCheckAttributeName), former.check);
  EXPECT_FALSE(Attribute(folder, former.name, UndoMarkAttributeName));
}

// The tool's plain `encrypt` (the strong format by default, not asked for by
// name), the window's Enter and `resume --undo` all give the former file
// back, byte for byte, under its name, with its key check.
TEST(UndoDecryption, EncryptingWithTheSameKeyGivesTheFormerFileBack) {
  const Bytes plain = testing::Prose(200'000);
  struct Way {
    const char* name;
    FileIntent intent;
    Asked asked;
  };
  for (const Way& way : {Way{"encrypt", FileIntent::Encrypt, {CipherFormat::Strong}},
                         Way{"window", FileIntent::ByName, {}},
                         Way{"resume --undo", FileIntent::UndoDecryption, {}}}) {
    SCOPED_TRACE(way.name);
    TempFolder folder;
    const Former former = EncryptThenDecrypt(folder, plain);
    const FileReport restored = RunOn(folder, Plain, way.intent, Key, way.asked);
    EXPECT_EQ(restored.outcome, FileOutcome::Done) << restored.error.Describe();
    EXPECT_TRUE(restored.restored);
    ExpectFormerBack(folder, former);
  }
}

// Each row: what happens to the decrypted file, the key and the way, and
// what the run does. "kept": the file and its mark as the decryption left them.
TEST(UndoDecryption, TheMarkDecidesOnlyForTheRightKeyAndTheContentAsDecrypted) {
  enum class Change { None, SameLengthByte, TimeOnly };
  enum class Expect { Restored, Ordinary, AskedFirst, Refused };
  struct Case {
    const char* name;
    Change change;
    const char* key;
    FileIntent intent;
    Asked asked;
    Expect expect;
    FileOutcome outcome;
  };
  const Case cases[] = {
      {"same key, a byte changed", Change::SameLengthByte, Key, FileIntent::Encrypt, {}, Expect::Ordinary,
       FileOutcome::Done},
      {"same key, only touched", Change::TimeOnly, Key, FileIntent::Encrypt, {}, Expect::Restored, FileOutcome::Done},
      {"other key, untouched", Change::None, OtherKey, FileIntent::Encrypt, {}, Expect::AskedFirst,
       FileOutcome::OtherKeyThanDecryption},
      {"other key, untouched, answered", Change::None, OtherKey, FileIntent::Encrypt,
       {CipherFormat::Classic, false, true}, Expect::Ordinary, FileOutcome::Done},
      {"other key, touched", Change::TimeOnly, OtherKey, FileIntent::Encrypt, {}, Expect::Ordinary,
       FileOutcome::Done},
      {"strong asked by name", Change::None, Key, FileIntent::Encrypt, {CipherFormat::Strong, true},
       Expect::Ordinary, FileOutcome::Done},
      {"undo, other key", Change::None, OtherKey, FileIntent::UndoDecryption, {}, Expect::Refused,
       FileOutcome::WrongKey},
      {"undo, a byte changed", Change::SameLengthByte, Key, FileIntent::UndoDecryption, {}, Expect::Refused,
       FileOutcome::NothingToResume},
  };
  const Bytes plain = testing::Prose(70'000);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    const Former former = EncryptThenDecrypt(folder, plain);
    Bytes now = plain;
    if (c.change == Change::SameLengthByte) {
      now[now.size() / 2] ^= 1;
      folder.Write(Plain, now);
    }
    if (c.change != Change::None) Touch(folder, Plain);
    const std::optional<Bytes> mark = Attribute(folder, Plain, UndoMarkAttributeName);
    ASSERT_TRUE(mark);

    const FileReport report = RunOn(folder, Plain, c.intent, c.key, c.asked);
    EXPECT_EQ(report.outcome, c.outcome) << report.error.Describe();
    EXPECT_EQ(report.restored, c.expect == Expect::Restored);
    switch (c.expect) {
      case Expect::Restored: ExpectFormerBack(folder, former); break;
      case Expect::Ordinary: {
        const std::string name = OnlyName(folder);
        EXPECT_NE(folder.Read(name), former.bytes);
        EXPECT_EQ(name.back(), c.asked.strong_asked ? ']' : '[');
        EXPECT_FALSE(Attribute(folder, name, UndoMarkAttributeName));
        break;
      }
      case Expect::AskedFirst:
      case Expect::Refused:
        EXPECT_EQ(report.condition, FileCondition::AsBefore);
        EXPECT_EQ(folder.Names(), std::vector<std::string>{Plain});
        EXPECT_EQ(folder.Read(Plain), now);
        EXPECT_EQ(Attribute(folder, Plain, UndoMarkAttributeName), mark);
        break;
    }
  }
}

// A copy without its key check decrypts with only its start judged; the
// mark still lets the same key take it back (the file then carries a check).
TEST(UndoDecryption, ADecryptionWithoutAKeyCheckCanBeTakenBack) {
  TempFolder folder;
  folder.Write(Plain, testing::Prose(100'000));
  ASSERT_EQ(RunOn(folder, Plain, FileIntent::Encrypt, Key).outcome, FileOutcome::Done);
  const std::string encrypted = OnlyName(folder);
  ASSERT_EQ(removexattr(folder.PathOf(encrypted).c_str(), KeyCheckAttributeName), 0);
  const Bytes bytes = folder.Read(encrypted);

  const FileReport decrypted = RunOn(folder, encrypted, FileIntent::Decrypt, Key);
  EXPECT_EQ(decrypted.outcome, FileOutcome::Done) << decrypted.error.Describe();
  EXPECT_TRUE(decrypted.key_unchecked);
  EXPECT_TRUE(decrypted.undo_marked);
  const FileReport undone = RunOn(folder, Plain, FileIntent::UndoDecryption, Key);
  EXPECT_EQ(undone.outcome, FileOutcome::Done) << undone.error.Describe();
  EXPECT_EQ(folder.Names(), std::vector<std::string>{encrypted});
  EXPECT_EQ(folder.Read(encrypted), bytes);
}

// A copy with its attributes and times (cp -a) carries the mark: encrypting
// it with the same key gives the copy the former encryption too, under its
// own name. Nothing else is touched.
TEST(UndoDecryption, AMarkCopiedAlongIsHarmless) {
  TempFolder folder;
  const Former former = EncryptThenDecrypt(folder, testing::Prose(5'000));
  const std::string copy = "copy.txt";
  folder.Write(copy, folder.Read(Plain));
  const Bytes mark = Attribute(folder, Plain, UndoMarkAttributeName).value_or(Bytes{});
  ASSERT_EQ(setxattr(folder.PathOf(copy).c_str(), UndoMarkAttributeName, mark.data(), mark.size(), 0), 0);
  struct stat status {};
  ASSERT_EQ(fstatat(folder.Fd(), Plain.c_str(), &status, 0), 0);
  const struct timespec times[2] = {status.st_atim, status.st_mtim};
  ASSERT_EQ(utimensat(folder.Fd(), copy.c_str(), times, 0), 0);

  const FileReport report = RunOn(folder, copy, FileIntent::Encrypt, Key);
  EXPECT_EQ(report.outcome, FileOutcome::Done) << report.error.Describe();
  EXPECT_TRUE(report.restored);
  const std::string copy_encrypted = copy + former.name.substr(Plain.size());
  EXPECT_EQ(folder.Read(copy_encrypted), former.bytes);
  EXPECT_TRUE(folder.Exists(Plain));
}

TEST(UndoDecryption, WithoutAMarkThereIsNothingToTakeBack) {
  TempFolder folder;
  folder.Write(Plain, testing::Prose(1'000));
  EXPECT_EQ(RunOn(folder, Plain, FileIntent::UndoDecryption, Key).outcome, FileOutcome::NothingToResume);
  EXPECT_EQ(folder.Names(), std::vector<std::string>{Plain});
}

}  // namespace
}  // namespace quorvant
