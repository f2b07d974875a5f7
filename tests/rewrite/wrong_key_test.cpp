// Wrong keys caught outside the file format, through the whole run on real
// files: the stored key check where the file system keeps one, and, where
// none is stored or it cannot be used, the judge of the decrypted start,
// which asks before going on. Nothing changes before the answer.

#include <gtest/gtest.h>
#include <sys/xattr.h>

#include <cerrno>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "crypto/encrypted_name.h"
#include "rewrite/file_transform.h"
#include "tests/support/faulty_calls.h"
#include "tests/support/format_samples.h"
#include "tests/support/remembering_key_checker.h"
#include "tests/support/sample_bytes.h"
#include "tests/support/temp_folder.h"

namespace quorvant {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::Document;
using testing::FaultyCalls;
using testing::GzipFile;
using testing::HeadThenNoise;
using testing::Noise;
using testing::NumberTable;
using testing::PdfFile;
using testing::PngFile;
using testing::Prose;
using testing::TempFolder;
using testing::ZipFile;

constexpr char Key[] = "hunter2";
const EncryptedSuffix Suffix = {' ', 'a', 'B', '3', 'x', '(', 'Q', '~', '['};
const std::string SuffixText(Suffix.begin(), Suffix.end());

testing::RememberingKeyChecker& Checker() {
  static testing::RememberingKeyChecker checker;
  return checker;
}

// A file system without user extended attributes: no check can be kept.
class NoAttributes : public FaultyCalls {
 public:
  ssize_t GetAttribute(int, const char*, void*, std::size_t) override { return NotSupported(); }
  int SetAttribute(int, const char*, const void*, std::size_t) override { return NotSupported(); }
  int RemoveAttribute(int, const char*) override { return NotSupported(); }

 private:
  static int NotSupported() {
    errno = ENOTSUP;
    return -1;
  }
};

Bytes Encrypted(Bytes data, std::string_view key) {
  KeyWords words = BuildKeyWords(key, Suffix);
  const auto block = static_cast<std::int32_t>(std::min<std::size_t>(data.size(), MaxBlockLength));
  for (std::size_t at = 0; at < data.size(); at += static_cast<std::size_t>(block)) {
    TransformBlock(std::span(data).subspan(at, std::min(data.size() - at, static_cast<std::size_t>(block))),
                   block, Direction::Encrypt, words);
  }
  return data;
}

struct Decryption {
  FileReport report;
  int questions = 0;
};

// Decrypts `name` with `key`; the question, when it comes, is answered
// `answer` (nothing: there is no one to ask).
Decryption Decrypt(const TempFolder& folder, const std::string& name, const char* key, FileCalls& calls,
                   std::optional<ProgressAnswer> answer = std::nullopt) {
  Decryption run;
  FileResult<OpenedFile> opened = OpenFileInFolder(folder.Fd(), name, calls);
  EXPECT_EQ(FailureOf(opened).outcome, FileOutcome::Done);
  if (FailureOf(opened).outcome != FileOutcome::Done) return run;
  TransformSettings settings;
  settings.key_checker = &Checker();
  // Asked between the two calls, as the window and the tool ask their user.
  FileRun file_run(*opened, calls, settings);
  run.report = file_run.Prepare(Direction::Decrypt, *SuffixOfName(name), key);
  if (run.report.outcome == FileOutcome::KeyLooksWrong && answer) {
    ++run.questions;
    if (*answer == ProgressAnswer::Continue) {
      run.report = file_run.Go({});
    } else {
      run.report.outcome = FileOutcome::Cancelled;
    }
  } else if (run.report.outcome == FileOutcome::Done) {
    run.report = file_run.Go({});
  }
  return run;  // the file closes here, before the test reads it
}

// A copy without its key check, "file" + the suffix, decrypted with the
// right key: never asked about, and plain again.
void ExpectTheRightKeyDecryptsUnasked(const std::string& name, const Bytes& plain) {
  TempFolder folder;
  folder.Write(name, Encrypted(plain, Key));
  NoAttributes calls;
  const Decryption right = Decrypt(folder, name, Key, calls, ProgressAnswer::Cancel);
  EXPECT_EQ(right.questions, 0);
  EXPECT_EQ(right.report.outcome, FileOutcome::Done) << right.report.error.Describe();
  EXPECT_EQ(folder.Read("file"), plain);
}

struct KindCase {
  const char* name;
  std::function<Bytes()> make;
};
void PrintTo(const KindCase& kind, std::ostream* out) { *out << kind.name; }

class WithoutAKeyCheck : public ::testing::TestWithParam<KindCase> {};

// A copy without its attributes, on a file system that keeps none: the
// right key decrypts without a question; a slip of one character, or
// another key, is refused (or asked about) before anything changes.
TEST_P(WithoutAKeyCheck, TheRightKeyIsNeverQuestionedAndWrongOnesChangeNothing) {
  const Bytes plain = GetParam().make();
  const std::string name = "file" + SuffixText;
  for (const char* wrong : {"hunter3", "Hunter2", "correct horse battery staple"}) {
    SCOPED_TRACE(wrong);
    TempFolder folder;
    folder.Write(name, Encrypted(plain, Key));
    NoAttributes calls;
    const Decryption refused = Decrypt(folder, name, wrong, calls);
    EXPECT_EQ(refused.report.outcome, FileOutcome::KeyLooksWrong) << refused.report.error.Describe();
    EXPECT_EQ(refused.report.condition, FileCondition::AsBefore);
    const Decryption stopped = Decrypt(folder, name, wrong, calls, ProgressAnswer::Cancel);
    EXPECT_EQ(stopped.questions, 1);
    EXPECT_EQ(stopped.report.outcome, FileOutcome::Cancelled);
    EXPECT_EQ(stopped.report.condition, FileCondition::AsBefore);
    EXPECT_EQ(folder.Names(), std::vector<std::string>{name});
    EXPECT_EQ(folder.Read(name), Encrypted(plain, Key));
  }
  ExpectTheRightKeyDecryptsUnasked(name, plain);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, WithoutAKeyCheck,
    ::testing::Values(KindCase{"Prose", [] { return Prose(40000); }},
                      KindCase{"ShortText", [] { return Prose(300); }},
                      KindCase{"Gzip", [] { return GzipFile(Document(90000, 1)); }},
                      KindCase{"Png", [] { return PngFile(200, 120, 1); }},
                      KindCase{"Zip",
                               [] {
                                 return ZipFile({{"a.txt", Document(3000, 2)}, {"b.txt", Document(900, 3)}});
                               }},
                      KindCase{"BinaryTable", [] { return NumberTable(50000, 977); }},
                      KindCase{"MostlyZeros", [] { return Bytes(17000, 0); }}),
    [](const ::testing::TestParamInfo<KindCase>& info) { return std::string(info.param.name); });

// Keys that share the key set-up's rotation with the right one ("Sunter2"
// and "huntzr2" keep ten of the twelve key words of "hunter2" under this
// suffix) decrypt most of every 84 bytes right, so the start still looks
// like its format. Where the format checks itself, the copy without a key
// check is refused all the same, and the right key goes through.
TEST(WrongKey, KeysSharingTheRotationAreRefusedOnFilesThatCheckThemselves) {
  const KindCase kinds[] = {
      {"an archive of one large text",
       [] {
         return ZipFile({{"bundle.txt", Document(160000, 3)}});
       }},
      {"an archive of small files",
       [] {
         return ZipFile({{"a.txt", Document(3000, 2)}, {"b.txt", Document(900, 3)}});
       }},
      {"a compressed text", [] { return GzipFile(Document(90000, 1)); }},
      {"a picture without text chunks", [] { return PngFile(200, 120, 1, testing::PngText::None); }},
      {"a PDF", [] { return PdfFile(4); }},
  };
  for (const KindCase& kind : kinds) {
    SCOPED_TRACE(kind.name);
    const Bytes plain = kind.make();
    const std::string name = "file" + SuffixText;
    for (const char* wrong : {"Sunter2", "huntzr2"}) {
      SCOPED_TRACE(wrong);
      TempFolder folder;
      folder.Write(name, Encrypted(plain, Key));
      NoAttributes calls;
      const Decryption refused = Decrypt(folder, name, wrong, calls);
      EXPECT_EQ(refused.report.outcome, FileOutcome::KeyLooksWrong) << refused.report.error.Describe();
      EXPECT_EQ(folder.Read(name), Encrypted(plain, Key));
    }
    ExpectTheRightKeyDecryptsUnasked(name, plain);
  }
}

// The cases the judge cannot see through, as a user meets them.
TEST(WrongKey, WhatTheJudgeAsksAboutAndWhatItLetsThrough) {
  struct Case {
    const char* what;
    Bytes content;  // as it is on the disk, under an encrypted-looking name
    const char* key;
    bool asked;
  };
  const Case cases[] = {
      // A plain file whose name merely looks encrypted: "decrypting" it gives noise.
      {"a plain text file with a suffix-like name", Prose(20000), Key, true},
      {"a plain PNG with a suffix-like name", HeadThenNoise("\x89PNG\r\n\x1a\n", 0, 20000), Key, true},
      // A file that really is noise: even the right key is asked about.
      {"random bytes under the right key", Encrypted(Noise(8000, 5), Key), Key, true},
      // Too short to tell anything: never asked, whatever the key.
      {"31 bytes, another key", Encrypted(Prose(31), Key), "another", false},
  };
  for (const Case& judged : cases) {
    SCOPED_TRACE(judged.what);
    TempFolder folder;
    const std::string name = "f" + SuffixText;
    folder.Write(name, judged.content);
    NoAttributes calls;
    const Decryption run = Decrypt(folder, name, judged.key, calls, ProgressAnswer::Continue);
    EXPECT_EQ(run.questions, judged.asked ? 1 : 0);
    EXPECT_EQ(run.report.outcome, FileOutcome::Done) << "going on decrypts it all the same";
  }
}

// A stored check settles the key without the judge: a wrong key is refused
// before anything changes, and the right key is never asked about, even on
// noise. A check made for another length is set aside, and the judge asks.
TEST(WrongKey, AStoredCheckDecidesAndAStaleOneFallsBackToTheJudge) {
  const Bytes noise = Noise(30000, 8);
  struct Case {
    const char* what;
    const char* check_key;      // the key the stored check was made with
    std::int64_t check_length;  // the length it was made for
    const char* key;
    FileOutcome expected;
  };
  const Case cases[] = {
      {"the right key on noise", Key, 30000, Key, FileOutcome::Done},
      {"a wrong key", Key, 30000, "Hunter2", FileOutcome::WrongKey},
      {"a check for another length", "old key", 29999, Key, FileOutcome::KeyLooksWrong},
  };
  for (const Case& checked : cases) {
    SCOPED_TRACE(checked.what);
    TempFolder folder;
    const std::string name = "f" + SuffixText;
    folder.Write(name, Encrypted(noise, Key));
    const Result<KeyCheckValue> check = Checker().Make(checked.check_key, Suffix, checked.check_length);
    ASSERT_TRUE(check.ok());
    ASSERT_EQ(setxattr(folder.PathOf(name).c_str(), KeyCheckAttributeName, check->data(), check->size(), 0),
              0);
    FileCalls calls;
    const Decryption run = Decrypt(folder, name, checked.key, calls);
    EXPECT_EQ(run.report.outcome, checked.expected) << run.report.error.Describe();
    if (checked.expected != FileOutcome::Done) {
      EXPECT_EQ(folder.Read(name), Encrypted(noise, Key));
    }
  }
}

// On a file system without attributes the encryption simply stores no
// check, and the run is the same byte for byte.
TEST(WrongKey, NoAttributesMeansNoCheckAndTheSameBytes) {
  TempFolder folder;
  const Bytes plain = Prose(25000);
  folder.Write("notes.txt", plain);
  NoAttributes calls;
  std::optional<FileResult<OpenedFile>> opened = OpenFileInFolder(folder.Fd(), "notes.txt", calls);
  ASSERT_EQ(FailureOf(*opened).outcome, FileOutcome::Done);
  TransformSettings settings;
  settings.key_checker = &Checker();
  const FileReport report = TransformFile(**opened, Direction::Encrypt, Suffix, Key, {}, calls, settings);
  ASSERT_EQ(report.outcome, FileOutcome::Done) << report.error.Describe();
  opened.reset();  // its lease would make the read below wait
  EXPECT_EQ(folder.Read("notes.txt" + SuffixText), Encrypted(plain, Key));
  EXPECT_LT(getxattr(folder.PathOf("notes.txt" + SuffixText).c_str(), KeyCheckAttributeName, nullptr, 0), 0);
}

// The caller may wipe the key text once Prepare has returned; a run that
// used the text after that would give other bytes.
TEST(WrongKey, TheKeyTextIsNotUsedAfterPrepare) {
  TempFolder folder;
  const Bytes plain = Prose(3 * MaxBlockLength + 5);
  folder.Write("a", plain);
  std::string key = Key;
  std::optional<FileResult<OpenedFile>> opened = OpenFileInFolder(folder.Fd(), "a");
  ASSERT_EQ(FailureOf(*opened).outcome, FileOutcome::Done);
  TransformSettings settings;
  settings.key_checker = &Checker();
  FileCalls calls;
  FileRun run(**opened, calls, settings);
  ASSERT_EQ(run.Prepare(Direction::Encrypt, Suffix, key).outcome, FileOutcome::Done);
  std::fill(key.begin(), key.end(), 'X');
  const FileReport report = run.Go({});
  ASSERT_EQ(report.outcome, FileOutcome::Done);
  opened.reset();
  EXPECT_EQ(folder.Read("a" + SuffixText), Encrypted(plain, Key));
}

}  // namespace
}  // namespace quorvant
