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
  Result<KeyCheckValue> value =
      MakeKeyCheckWithSalt(answer.key, answer.suffix, answer.length, answer.cost, salt);
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
                                         UnreadableValue{"LaterVersion", KeyCheckLength, 0, 2, 0},
                                         UnreadableValue{"NoPasses", KeyCheckLength, 1, 0, 0},
                                         UnreadableValue{"TooManyPasses", KeyCheckLength, 1, 17, 0},
                                         UnreadableValue{"TooLittleMemory", KeyCheckLength, 2, 7, 0},
                                         UnreadableValue{"TooMuchMemory", KeyCheckLength, 2, 1, 1},
                                         UnreadableValue{"SixtyFourGiB", KeyCheckLength, 2, 0xff, 0xff}),
                         [](const testing::TestParamInfo<UnreadableValue>& info) { return info.param.name; });

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
