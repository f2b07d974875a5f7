#include "crypto/key_check.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "crypto/cipher.h"

namespace quorvant {
namespace {

// The cheapest cost the check accepts keeps each derivation to a few
// milliseconds; the cost is stored in the value, so nothing else differs.
constexpr KeyCheckCost CheapCost{1, 8};
constexpr EncryptedSuffix Suffix{' ', 'a', 'B', '3', 'x', '(', 'Q', '~', '['};
constexpr EncryptedSuffix OtherSuffix{' ', 'a', 'B', '3', 'x', '(', 'Q', '}', '['};

std::vector<std::uint8_t> FromHex(std::string_view hex) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t at = 0; at + 1 < hex.size(); at += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(at, 2)), nullptr, 16)));
  }
  return bytes;
}

KeyCheckValue MakeCheap(std::string_view key, const EncryptedSuffix& suffix, std::int64_t length) {
  Result<KeyCheckValue> value = MakeKeyCheck(key, suffix, length, CheapCost);
  EXPECT_TRUE(value.ok());
  return value.ok() ? value.value() : KeyCheckValue{};
}

KeyCheckVerdict VerifyOk(std::string_view key, const EncryptedSuffix& suffix, std::int64_t length,
                         std::span<const std::uint8_t> value) {
  Result<KeyCheckVerdict> verdict = VerifyKeyCheck(key, suffix, length, value);
  EXPECT_TRUE(verdict.ok());
  return verdict.ok() ? verdict.value() : KeyCheckVerdict::Unreadable;
}

// Stored values must stay readable by every later copy of the program, so
// the layout and the derivation are pinned by answers computed with a second
// implementation (tests/data/key_check_kat.py: hashlib BLAKE2b, cryptography Argon2id).
// These are version 1 checks, which earlier copies wrote.
struct KnownAnswer {
  std::string_view key;
  EncryptedSuffix suffix;
  std::int64_t length;
  KeyCheckCost cost;
  std::uint8_t first_salt_byte;  // salt = first, first + 1, ... (0xff: all 0xff)
  std::string_view value_hex;
};

class KeyCheckKnownAnswer : public testing::TestWithParam<KnownAnswer> {};

TEST_P(KeyCheckKnownAnswer, MatchesTheSecondImplementation) {
  const KnownAnswer& answer = GetParam();
  std::array<std::uint8_t, 16> salt{};
  for (int index = 0; index < 16; ++index) {
    salt[index] =
        answer.first_salt_byte == 0xff ? 0xff : static_cast<std::uint8_t>(answer.first_salt_byte + index);
  }
  Result<KeyCheckVersion1Value> value =
      MakeVersion1KeyCheck(answer.key, answer.suffix, answer.length, answer.cost, salt);
  ASSERT_TRUE(value.ok());
  EXPECT_EQ(std::vector<std::uint8_t>(value->begin(), value->end()), FromHex(answer.value_hex));
  EXPECT_EQ(VerifyOk(answer.key, answer.suffix, answer.length, *value), KeyCheckVerdict::Match);
}

INSTANTIATE_TEST_SUITE_P(
    Values, KeyCheckKnownAnswer,
    testing::Values(
        KnownAnswer{
            "correct horse",
            Suffix,
            12345,
            {1, 8},
            0x00,
            "01010800000102030405060708090a0b0c0d0e0f206142337828517e5b3930000000000000acef595f5acf04e4a16c97"
            "2fc3de27ca"},
        // The shortest key, length 0, two passes and an odd memory size.
        KnownAnswer{
            "~",
            {' ', '!', '!', '!', '!', '!', '!', '!', '['},
            0,
            {2, 9},
            0xff,
            "01020900ffffffffffffffffffffffffffffffff20212121212121215b000000000000000036ad5faa4d7c743149cf1e"
            "8bb72bcf24"},
        // The longest key and a length above 2^32 (all eight length bytes are used).
        KnownAnswer{
            "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx",
            {' ', 'z', 'z', 'z', 'z', 'z', 'z', 'z', '['},
            (std::int64_t{1} << 40) + 7,
            {1, 8},
            100,
            "010108006465666768696a6b6c6d6e6f70717273207a7a7a7a7a7a7a5b0700000000010000d75c0e0601088e86d2a819"
            "df09d3aabe"}));

// Version 2, which this program writes, pinned the same way. The first two
// share the run salt and cost, and so one derivation.
struct KnownAnswerVersion2 {
  std::string_view key;
  EncryptedSuffix suffix;
  std::int64_t length;
  KeyCheckCost cost;
  std::uint8_t first_run_salt_byte;   // as above
  std::uint8_t first_file_salt_byte;  // as above
  std::string_view value_hex;
};

std::array<std::uint8_t, 16> CountingSalt(std::uint8_t first) {
  std::array<std::uint8_t, 16> salt{};
  for (int index = 0; index < 16; ++index)
    salt[index] = first == 0xff ? 0xff : static_cast<std::uint8_t>(first + index);
  return salt;
}

constexpr KnownAnswerVersion2 KnownAnswersVersion2[] = {
    {"correct horse",
     Suffix,
     12345,
     {1, 8},
     0x00,
     0x10,
     "02010800000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f206142337828517e5b3930000000000"
     "0"
     "009283a2224039b4e9699d0781844744a241a4e608eba9d63453c5060bc6cff411"},
    {"correct horse",
     {' ', '!', '!', '!', '!', '!', '!', '!', '['},
     0,
     {1, 8},
     0x00,
     0xff,
     "02010800000102030405060708090a0b0c0d0e0fffffffffffffffffffffffffffffffff20212121212121215b0000000000000"
     "0"
     "00b82f3e873c8d72516fc98ef24af74ea1795f2c41b10b62c55c4516a5ecc5ed12"},
    // The longest key, a length above 2^32, two passes and an odd memory size.
    {"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx",
     {' ', 'z', 'z', 'z', 'z', 'z', 'z', 'z', '['},
     (std::int64_t{1} << 40) + 7,
     {2, 9},
     0xff,
     100,
     "02020900ffffffffffffffffffffffffffffffff6465666768696a6b6c6d6e6f70717273207a7a7a7a7a7a7a5b070000000001"
     "00005379cd0e296aa636180a218ed9719d216e17c63a85e8d71b1bcee5e1187438e7"},
};

TEST(KeyCheckVersion2, MatchesTheSecondImplementation) {
  KeyDerivation horse("correct horse");
  for (const KnownAnswerVersion2& answer : KnownAnswersVersion2) {
    KeyDerivation other(answer.key);
    KeyDerivation& derivations = answer.key == "correct horse" ? horse : other;
    Result<KeyCheckValue> value = MakeKeyCheckWithSalts(derivations, CountingSalt(answer.first_run_salt_byte),
                                                        CountingSalt(answer.first_file_salt_byte),
                                                        answer.suffix, answer.length, answer.cost);
    ASSERT_TRUE(value.ok());
    EXPECT_EQ(std::vector<std::uint8_t>(value->begin(), value->end()), FromHex(answer.value_hex))
        << answer.key;
    EXPECT_EQ(VerifyOk(answer.key, answer.suffix, answer.length, *value), KeyCheckVerdict::Match);
  }
  EXPECT_EQ(horse.Derivations(), 1u);
}

// Checks earlier copies of the program left on files are judged as before.
TEST(KeyCheckVersion1, IsStillJudged) {
  Result<KeyCheckVersion1Value> made = MakeVersion1KeyCheck("old key", Suffix, 7, CheapCost, CountingSalt(3));
  ASSERT_TRUE(made.ok());
  const KeyCheckVersion1Value value = *made;
  EXPECT_EQ(VerifyOk("old key", Suffix, 7, value), KeyCheckVerdict::Match);
  EXPECT_EQ(VerifyOk("old kez", Suffix, 7, value), KeyCheckVerdict::Mismatch);
  EXPECT_EQ(VerifyOk("old key", OtherSuffix, 7, value), KeyCheckVerdict::Stale);
  EXPECT_EQ(VerifyOk("old key", Suffix, 8, value), KeyCheckVerdict::Stale);
  KeyCheckVersion1Value hostile = value;
  hostile[2] = 0xff;
  hostile[3] = 0xff;
  EXPECT_EQ(VerifyOk("old key", Suffix, 7, hostile), KeyCheckVerdict::Unreadable);

  // A run's checker judges them too, deriving for each as before.
  RunKeyChecker checker("old key", CheapCost);
  EXPECT_EQ(checker.Judge("old key", Suffix, 7, value).value(), KeyCheckVerdict::Match);
  EXPECT_EQ(checker.Judge("old kez", Suffix, 7, value).value(), KeyCheckVerdict::Mismatch);
  EXPECT_EQ(checker.Derivations(), 0u);
}

// Each field of a version 2 check changed: what the judge then says.
struct ChangedField {
  const char* name;
  std::size_t at;
  std::uint8_t to;
  KeyCheckVerdict verdict;
};

class KeyCheckVersion2Field : public testing::TestWithParam<ChangedField> {};

TEST_P(KeyCheckVersion2Field, ChangedGivesItsVerdict) {
  const ChangedField& field = GetParam();
  KeyCheckValue value = MakeCheap("key", Suffix, 7);
  // A salt or tag byte is random, and may hold `to` already: then it changes
  // to another value, so that the field is always changed.
  value[field.at] = value[field.at] != field.to ? field.to : static_cast<std::uint8_t>(field.to ^ 0x55);
  EXPECT_EQ(VerifyOk("key", Suffix, 7, value), field.verdict);
}

INSTANTIATE_TEST_SUITE_P(Fields, KeyCheckVersion2Field,
                         testing::Values(ChangedField{"Version", 0, 3, KeyCheckVerdict::Unreadable},
                                         ChangedField{"NoPasses", 1, 0, KeyCheckVerdict::Unreadable},
                                         ChangedField{"MorePasses", 1, 2, KeyCheckVerdict::Mismatch},
                                         ChangedField{"MoreMemory", 2, 9, KeyCheckVerdict::Mismatch},
                                         ChangedField{"HostileMemory", 3, 0x40, KeyCheckVerdict::Unreadable},
                                         ChangedField{"RunSalt", 4, 0xAA, KeyCheckVerdict::Mismatch},
                                         ChangedField{"RunSaltEnd", 19, 0xAA, KeyCheckVerdict::Mismatch},
                                         ChangedField{"FileSalt", 20, 0xAA, KeyCheckVerdict::Mismatch},
                                         ChangedField{"FileSaltEnd", 35, 0xAA, KeyCheckVerdict::Mismatch},
                                         ChangedField{"Suffix", 37, 'b', KeyCheckVerdict::Stale},
                                         ChangedField{"Length", 45, 8, KeyCheckVerdict::Stale},
                                         ChangedField{"LengthTop", 52, 1, KeyCheckVerdict::Stale},
                                         ChangedField{"Tag", 53, 0xAA, KeyCheckVerdict::Mismatch},
                                         ChangedField{"TagEnd", 84, 0xAA, KeyCheckVerdict::Mismatch}),
                         [](const testing::TestParamInfo<ChangedField>& info) { return info.param.name; });

TEST(KeyCheck, TellsTheRightKeyFromEveryOneCharacterSlip) {
  const std::string key = "hunter2";
  const KeyCheckValue value = MakeCheap(key, Suffix, 4096);
  EXPECT_EQ(VerifyOk(key, Suffix, 4096, value), KeyCheckVerdict::Match);
  // A changed, missing or extra character; a case slip; and two of the
  // cipher's near misses for this suffix ("Sunter2", "huntzr2": a character
  // moved by 21 codes gives ten of the twelve key words unchanged, which
  // decrypts most bytes right and so slips past a look at the result).
  for (const std::string wrong :
       {"hunter3", "hunter", "hunter22", "Hunter2", "Sunter2", "huntzr2", "hunter2 "}) {
    EXPECT_EQ(VerifyOk(wrong, Suffix, 4096, value), KeyCheckVerdict::Mismatch) << wrong;
  }
}

TEST(KeyCheck, DrawsAFreshSaltEachTime) {
  const KeyCheckValue first = MakeCheap("same key", Suffix, 10);
  const KeyCheckValue second = MakeCheap("same key", Suffix, 10);
  EXPECT_NE(first, second);
  EXPECT_EQ(VerifyOk("same key", Suffix, 10, second), KeyCheckVerdict::Match);
}

// A check left from another encryption of the file must not refuse the right
// key of this one: it is recognised as stale and ignored.
TEST(KeyCheck, ACheckMadeForAnotherSuffixOrLengthIsStale) {
  const KeyCheckValue value = MakeCheap("old key", Suffix, 100);
  EXPECT_EQ(VerifyOk("new key", OtherSuffix, 100, value), KeyCheckVerdict::Stale);
  EXPECT_EQ(VerifyOk("old key", OtherSuffix, 100, value), KeyCheckVerdict::Stale);
  EXPECT_EQ(VerifyOk("old key", Suffix, 101, value), KeyCheckVerdict::Stale);
}

TEST(KeyCheck, AnyChangedByteOfTheValueFailsOrIsRefused) {
  const KeyCheckValue value = MakeCheap("key", Suffix, 7);
  for (std::size_t index = 0; index < value.size(); ++index) {
    KeyCheckValue changed = value;
    changed[index] ^= 0x01;
    // Passes 1 -> 0 is outside the accepted cost; memory 8 -> 9 MiB is a
    // different derivation and so a mismatch.
    EXPECT_NE(VerifyOk("key", Suffix, 7, changed), KeyCheckVerdict::Match) << "byte " << index;
  }
}

// Values this program cannot read are refused from their clear fields,
// before any derivation: a hostile cost must never be run.
struct UnreadableValue {
  const char* name;
  std::size_t length;
  std::size_t at;  // byte to set, or SIZE_MAX
  std::uint8_t to;
  std::uint8_t to_next;  // for the two-byte memory field
};

class KeyCheckUnreadable : public testing::TestWithParam<UnreadableValue> {};

TEST_P(KeyCheckUnreadable, IsRefusedWithoutDeriving) {
  const UnreadableValue& c = GetParam();
  const KeyCheckValue made = MakeCheap("key", Suffix, 7);
  std::vector<std::uint8_t> value(made.begin(), made.end());
  value.resize(c.length, 0);
  if (c.at != SIZE_MAX) {
    value[c.at] = c.to;
    if (c.at == 2) value[3] = c.to_next;
  }
  EXPECT_EQ(VerifyOk("key", Suffix, 7, value), KeyCheckVerdict::Unreadable);
}

INSTANTIATE_TEST_SUITE_P(Values, KeyCheckUnreadable,
                         testing::Values(UnreadableValue{"Empty", 0, SIZE_MAX, 0, 0},
                                         UnreadableValue{"OneShort", KeyCheckLength - 1, SIZE_MAX, 0, 0},
                                         UnreadableValue{"OneLong", KeyCheckLength + 1, SIZE_MAX, 0, 0},
                                         UnreadableValue{"VersionZero", KeyCheckLength, 0, 0, 0},
                                         UnreadableValue{"LaterVersion", KeyCheckLength, 0, 3, 0},
                                         UnreadableValue{"FirstVersionsLength", KeyCheckVersion1Length,
                                                         SIZE_MAX, 0, 0},
                                         UnreadableValue{"FirstVersionsMark", KeyCheckLength, 0, 1, 0},
                                         UnreadableValue{"NoPasses", KeyCheckLength, 1, 0, 0},
                                         UnreadableValue{"TooManyPasses", KeyCheckLength, 1, 17, 0},
                                         UnreadableValue{"TooLittleMemory", KeyCheckLength, 2, 7, 0},
                                         UnreadableValue{"TooMuchMemory", KeyCheckLength, 2, 1, 1},
                                         UnreadableValue{"SixtyFourGiB", KeyCheckLength, 2, 0xff, 0xff}),
                         [](const testing::TestParamInfo<UnreadableValue>& info) { return info.param.name; });

// A run makes every check with one derivation, and a later run that judges
// them derives once too; a key text other than the run's is answered rightly.
class RunKeyCheckerTest : public testing::Test {
 protected:
  static EncryptedSuffix SuffixNumber(int number) {
    EncryptedSuffix suffix = Suffix;
    suffix[1] = static_cast<std::uint8_t>('a' + number);
    return suffix;
  }
  std::vector<KeyCheckValue> MakeRun(RunKeyChecker& checker, std::string_view key, int files) {
    std::vector<KeyCheckValue> values;
    for (int file = 0; file < files; ++file) {
      Result<KeyCheckValue> value = checker.Make(key, SuffixNumber(file), 100 + file);
      EXPECT_TRUE(value.ok());
      if (value.ok()) values.push_back(*value);
    }
    return values;
  }
  KeyCheckVerdict JudgeOk(RunKeyChecker& checker, std::string_view key, int file,
                          const KeyCheckValue& value) {
    Result<KeyCheckVerdict> verdict = checker.Judge(key, SuffixNumber(file), 100 + file, value);
    EXPECT_TRUE(verdict.ok());
    return verdict.ok() ? *verdict : KeyCheckVerdict::Unreadable;
  }
};

TEST_F(RunKeyCheckerTest, DerivesOnceForAWholeRunAndOnceToJudgeIt) {
  RunKeyChecker encrypting("run key", CheapCost);
  const std::vector<KeyCheckValue> values = MakeRun(encrypting, "run key", 12);
  ASSERT_EQ(values.size(), 12u);
  EXPECT_EQ(encrypting.Derivations(), 1u);
  EXPECT_NE(values[0], values[1]) << "each check has its own file salt";

  RunKeyChecker decrypting("run key", CheapCost);
  for (int file = 0; file < 12; ++file) {
    EXPECT_EQ(JudgeOk(decrypting, "run key", file, values[file]), KeyCheckVerdict::Match) << file;
    EXPECT_EQ(JudgeOk(encrypting, "run key", file, values[file]), KeyCheckVerdict::Match) << file;
    // Each check still stands alone, without any run's store.
    EXPECT_EQ(VerifyOk("run key", SuffixNumber(file), 100 + file, values[file]), KeyCheckVerdict::Match);
  }
  EXPECT_EQ(decrypting.Derivations(), 1u);
  EXPECT_EQ(encrypting.Derivations(), 1u);

  // Stale and unreadable checks are told without deriving.
  RunKeyChecker fresh("run key", CheapCost);
  EXPECT_EQ(JudgeOk(fresh, "run key", 1, values[0]), KeyCheckVerdict::Stale);
  KeyCheckValue hostile = values[0];
  hostile[3] = 0xff;
  EXPECT_EQ(JudgeOk(fresh, "run key", 0, hostile), KeyCheckVerdict::Unreadable);
  EXPECT_EQ(fresh.Derivations(), 0u);
}

TEST_F(RunKeyCheckerTest, ChecksOfSeveralRunsTakeOneDerivationEach) {
  RunKeyChecker first("run key", CheapCost);
  RunKeyChecker second("run key", CheapCost);
  const std::vector<KeyCheckValue> firsts = MakeRun(first, "run key", 3);
  const std::vector<KeyCheckValue> seconds = MakeRun(second, "run key", 3);
  RunKeyChecker judging("run key", CheapCost);
  for (int file = 0; file < 3; ++file) {
    EXPECT_EQ(JudgeOk(judging, "run key", file, firsts[file]), KeyCheckVerdict::Match);
    EXPECT_EQ(JudgeOk(judging, "run key", file, seconds[file]), KeyCheckVerdict::Match);
  }
  EXPECT_EQ(judging.Derivations(), 2u);
}

TEST_F(RunKeyCheckerTest, AnotherKeyTextIsAnsweredForItselfNotFromTheStore) {
  RunKeyChecker checker("run key", CheapCost);
  const std::vector<KeyCheckValue> values = MakeRun(checker, "run key", 2);
  // A wrong key (one the same length, one longer) against the run's checks.
  EXPECT_EQ(JudgeOk(checker, "run kez", 0, values[0]), KeyCheckVerdict::Mismatch);
  EXPECT_EQ(JudgeOk(checker, "run key!", 1, values[1]), KeyCheckVerdict::Mismatch);
  // A check made for another key is that key's, and not the run's.
  const std::vector<KeyCheckValue> others = MakeRun(checker, "other key", 1);
  ASSERT_EQ(others.size(), 1u);
  EXPECT_EQ(VerifyOk("other key", SuffixNumber(0), 100, others[0]), KeyCheckVerdict::Match);
  EXPECT_EQ(JudgeOk(checker, "other key", 0, others[0]), KeyCheckVerdict::Match);
  EXPECT_EQ(JudgeOk(checker, "run key", 0, others[0]), KeyCheckVerdict::Mismatch);
  EXPECT_EQ(JudgeOk(checker, "run key", 0, values[0]), KeyCheckVerdict::Match);
}

// The attribute on a real file, then each failure the seam can give.
class KeyCheckAttribute : public testing::Test {
 protected:
  void SetUp() override {
    char path[] = "/tmp/key_check_test.XXXXXX";
    descriptor_ = mkstemp(path);
    ASSERT_GE(descriptor_, 0);
    path_ = path;
  }
  void TearDown() override {
    close(descriptor_);
    unlink(path_.c_str());
  }
  int descriptor_ = -1;
  std::string path_;
  FileCalls real_;
};

TEST_F(KeyCheckAttribute, StoredCheckReadsBackAndIsRemoved) {
  const KeyCheckValue value = MakeCheap("key", Suffix, 0);
  Result<KeyCheckStore> stored = WriteKeyCheck(descriptor_, value, real_);
  ASSERT_TRUE(stored.ok());
  if (*stored == KeyCheckStore::NotSupported) GTEST_SKIP() << "no user attributes in /tmp here";
  auto read = ReadKeyCheck(descriptor_, real_);
  ASSERT_TRUE(read.ok());
  ASSERT_TRUE(read->has_value());
  EXPECT_EQ(VerifyOk("key", Suffix, 0, **read), KeyCheckVerdict::Match);

  ASSERT_TRUE(RemoveKeyCheck(descriptor_, real_).ok());
  read = ReadKeyCheck(descriptor_, real_);
  ASSERT_TRUE(read.ok());
  EXPECT_FALSE(read->has_value());
  EXPECT_TRUE(RemoveKeyCheck(descriptor_, real_).ok()) << "removing what is not there is not an error";
}

TEST_F(KeyCheckAttribute, AnOversizedAttributeIsUnreadableNotAnError) {
  const std::vector<std::uint8_t> big(1000, 0x01);
  if (fsetxattr(descriptor_, KeyCheckAttributeName, big.data(), big.size(), 0) != 0 && errno == ENOTSUP) {
    GTEST_SKIP() << "no user attributes in /tmp here";
  }
  ASSERT_EQ(fgetxattr(descriptor_, KeyCheckAttributeName, nullptr, 0), 1000);
  auto read = ReadKeyCheck(descriptor_, real_);
  ASSERT_TRUE(read.ok());
  ASSERT_TRUE(read->has_value());
  EXPECT_EQ(VerifyOk("key", Suffix, 0, **read), KeyCheckVerdict::Unreadable);
}

class FailingAttributeCalls : public FileCalls {
 public:
  explicit FailingAttributeCalls(int code) : code_(code) {}
  ssize_t GetAttribute(int, const char*, void*, std::size_t) override { return Fail(); }
  int SetAttribute(int, const char*, const void*, std::size_t) override { return Fail(); }
  int RemoveAttribute(int, const char*) override { return Fail(); }

 private:
  int Fail() {
    errno = code_;
    return -1;
  }
  int code_;
};

struct AttributeFailure {
  const char* name;
  int code;
  bool read_is_no_check;   // else an Error
  bool write_is_no_check;  // NotSupported, else an Error
};

class KeyCheckAttributeFailure : public testing::TestWithParam<AttributeFailure> {};

TEST_P(KeyCheckAttributeFailure, MeansNoCheckOnlyWhereAttributesAreMissing) {
  const AttributeFailure& failure = GetParam();
  FailingAttributeCalls calls(failure.code);
  auto read = ReadKeyCheck(3, calls);
  if (failure.read_is_no_check) {
    ASSERT_TRUE(read.ok());
    EXPECT_FALSE(read->has_value());
  } else {
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(read.error().code, failure.code);
  }
  Result<KeyCheckStore> written = WriteKeyCheck(3, KeyCheckValue{}, calls);
  if (failure.write_is_no_check) {
    ASSERT_TRUE(written.ok());
    EXPECT_EQ(*written, KeyCheckStore::NotSupported);
  } else {
    ASSERT_FALSE(written.ok());
    EXPECT_EQ(written.error().code, failure.code);
  }
}

INSTANTIATE_TEST_SUITE_P(Codes, KeyCheckAttributeFailure,
                         testing::Values(AttributeFailure{"NotSupported", ENOTSUP, true, true},
                                         AttributeFailure{"OperationNotSupported", EOPNOTSUPP, true, true},
                                         AttributeFailure{"NoSuchAttribute", ENODATA, true, false},
                                         AttributeFailure{"NoRoom", ENOSPC, false, false},
                                         AttributeFailure{"OverQuota", EDQUOT, false, false},
                                         AttributeFailure{"Denied", EACCES, false, false},
                                         AttributeFailure{"InputOutput", EIO, false, false}),
                         [](const testing::TestParamInfo<AttributeFailure>& info) {
                           return info.param.name;
                         });

}  // namespace
}  // namespace quorvant
