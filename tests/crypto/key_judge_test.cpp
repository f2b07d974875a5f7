#include "crypto/key_judge.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "crypto/cipher.h"
#include "tests/support/sample_bytes.h"

namespace quorvant {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::HeadThenNoise;
using testing::Noise;
using testing::NumberTable;
using testing::Prose;

Bytes Utf16Prose(std::size_t length) {
  const Bytes ascii = Prose(length / 2);
  Bytes wide = {0xff, 0xfe};
  for (std::uint8_t byte : ascii) wide.insert(wide.end(), {byte, 0});
  wide.resize(length);
  return wide;
}

Bytes EveryByteInTurn(std::size_t length) {
  Bytes bytes(length);
  for (std::size_t index = 0; index < length; ++index) bytes[index] = static_cast<std::uint8_t>(index);
  return bytes;
}

Bytes ZerosThenNoise(std::size_t zeros, std::size_t length) {
  Bytes bytes = Noise(length, 5);
  std::fill(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(zeros), 0);
  return bytes;
}

constexpr EncryptedSuffix Suffix{' ', 'a', 'B', '3', 'x', '(', 'Q', '~', '['};

Bytes Transformed(Bytes data, std::string_view key, Direction direction) {
  KeyWords words = BuildKeyWords(key, Suffix);
  TransformBlock(data, static_cast<std::int32_t>(data.size()), direction, words);
  return data;
}

Bytes DecryptedWith(const Bytes& plain, std::string_view right_key, std::string_view used_key) {
  return Transformed(Transformed(plain, right_key, Direction::Encrypt), used_key, Direction::Decrypt);
}

struct StartCase {
  const char* name;
  std::function<Bytes()> make;
  StartVerdict expected;
};

void PrintTo(const StartCase& start_case, std::ostream* out) { *out << start_case.name; }

class StartJudgeTable : public ::testing::TestWithParam<StartCase> {
 protected:
  static void SetUpTestSuite() { judge_ = new StartJudge(); }
  static void TearDownTestSuite() { delete judge_; }
  static StartJudge* judge_;
};
StartJudge* StartJudgeTable::judge_ = nullptr;

TEST_P(StartJudgeTable, GivesTheExpectedVerdict) {
  ASSERT_TRUE(judge_->HasMagic()) << "the magic database is missing on this machine";
  const Bytes start = GetParam().make();
  const StartJudgement judgement = judge_->Judge(start);
  EXPECT_EQ(judgement.verdict, GetParam().expected)
      << "reason " << static_cast<int>(judgement.reason) << ", byte score " << judgement.byte_score
      << ", step score " << judgement.step_score << ", magic " << judgement.magic_type;
}

constexpr auto Right = StartVerdict::LooksRight;
constexpr auto Noisy = StartVerdict::LooksLikeNoise;

INSTANTIATE_TEST_SUITE_P(
    Kinds, StartJudgeTable,
    ::testing::Values(
        // Right keys on ordinary files: never questioned.
        StartCase{"Prose", [] { return Prose(16384); }, Right},
        StartCase{"ShortProse", [] { return Prose(40); }, Right},
        StartCase{"Utf16Text", [] { return Utf16Prose(6000); }, Right},
        StartCase{"GzipBody", [] { return HeadThenNoise("\x1f\x8b\x08\x00", 0, 16384); }, Right},
        StartCase{"ZipBody", [] { return HeadThenNoise("PK\x03\x04\x14\x00", 0, 16384); }, Right},
        StartCase{"PngBody", [] { return HeadThenNoise("\x89PNG\r\n\x1a\n", 0, 16384); }, Right},
        StartCase{"JpegBody", [] { return HeadThenNoise("\xff\xd8\xff\xe0", 0, 3000); }, Right},
        StartCase{"Mp4Body", [] { return HeadThenNoise("ftypisom", 4, 16384); }, Right},
        StartCase{"XzBody",
                  [] {
                    return HeadThenNoise(std::string_view("\xfd"
                                                          "7zXZ\x00",
                                                          6),
                                         0, 16384);
                  },
                  Right},
        StartCase{"TarBody", [] { return HeadThenNoise("ustar", 257, 16384); }, Right},
        // gpg -c: packet 3, version 4, AES-256, iterated and salted S2K, SHA-256.
        StartCase{"GpgPassphraseBody", [] { return HeadThenNoise("\x8c\x0d\x04\x09\x03\x08", 0, 16384); },
                  Right},
        // .lzma: properties 0x5d, 8 MiB dictionary, unknown size.
        StartCase{"LzmaBody",
                  [] {
                    return HeadThenNoise(
                        std::string_view("\x5d\x00\x00\x80\x00\xff\xff\xff\xff\xff\xff\xff\xff", 13), 0,
                        16384);
                  },
                  Right},
        StartCase{"BinaryTable", [] { return NumberTable(16384, 37); }, Right},
        StartCase{"TooEvenToBeRandom", [] { return EveryByteInTurn(16384); }, Right},
        StartCase{"AllZeros", [] { return Bytes(16384, 0); }, Right},
        StartCase{"ZerosThenNoise", [] { return ZerosThenNoise(2048, 16384); }, Right},
        StartCase{"TinyNoiseIsNotJudged", [] { return Noise(MinJudgedLength - 1, 3); }, Right},
        // Noise: questioned.
        StartCase{"Noise", [] { return Noise(16384, 1); }, Noisy},
        StartCase{"ShortNoise", [] { return Noise(MinJudgedLength, 2); }, Noisy},
        StartCase{"WrongKeyOnProse", [] { return DecryptedWith(Prose(16384), "hunter2", "hunter3"); }, Noisy},
        StartCase{"WrongKeyOnPng",
                  [] { return DecryptedWith(HeadThenNoise("\x89PNG\r\n\x1a\n", 0, 9000), "a", "b"); }, Noisy},
        StartCase{"WrongKeyOnZeros", [] { return DecryptedWith(Bytes(16384, 0), "hunter2", "Hunter2"); },
                  Noisy},
        StartCase{"WrongKeyOnShortText", [] { return DecryptedWith(Prose(40), "hunter2", "hunter3"); },
                  Noisy},
        // Wrong keys that share key words with "hunter2" for this suffix, and so
        // decrypt most bytes right: "Sunter2" and "huntzr2" (one character
        // moved by 21 codes) keep ten of the twelve words, the unrelated
        // "letmein10027" keeps nine.
        StartCase{"SlipKeepingTenWordsOnProse",
                  [] { return DecryptedWith(Prose(16384), "hunter2", "Sunter2"); }, Noisy},
        StartCase{"SlipKeepingTenWordsOnTable",
                  [] { return DecryptedWith(NumberTable(4000, 37), "hunter2", "huntzr2"); }, Noisy},
        StartCase{"OtherKeyKeepingNineWordsOnProse",
                  [] { return DecryptedWith(Prose(16384), "hunter2", "letmein10027"); }, Noisy},
        StartCase{"PlainFileTakenForEncrypted",
                  [] { return Transformed(Prose(16384), "hunter2", Direction::Decrypt); }, Noisy}),
    [](const ::testing::TestParamInfo<StartCase>& info) { return info.param.name; });

TEST(StartJudge, WithoutTheMagicDatabaseFallsBackAndStillPassesKnownFormats) {
  StartJudge judge("/nonexistent/magic.mgc");
  EXPECT_FALSE(judge.HasMagic());
  EXPECT_EQ(judge.Judge(Prose(3000)).verdict, StartVerdict::LooksRight);
  EXPECT_EQ(judge.Judge(HeadThenNoise("\x1f\x8b\x08\x00", 0, 16384)).verdict, StartVerdict::LooksRight);
  EXPECT_EQ(judge.Judge(Noise(16384, 1)).verdict, StartVerdict::LooksLikeNoise);
  EXPECT_EQ(judge.Judge(Noise(64, 1)).verdict, StartVerdict::LooksLikeNoise);
}

TEST(StartJudge, JudgesOnlyTheFirstBlock) {
  StartJudge judge;
  Bytes start = Noise(16384, 1);
  const Bytes prose = Prose(100000);
  start.insert(start.end(), prose.begin(), prose.end());
  EXPECT_EQ(judge.Judge(start).verdict, StartVerdict::LooksLikeNoise);
}

// libmagic names about one random start in twenty after a byte or two (a PGP
// packet tag, a DOS jump). Its word alone must not pass noise.
TEST(StartJudge, AWeakLibmagicMatchDoesNotPassNoise) {
  StartJudge judge;
  ASSERT_TRUE(judge.HasMagic());
  int weak_matches = 0;
  for (std::uint64_t seed = 0; seed < 1000 && weak_matches < 3; ++seed) {
    const StartJudgement judgement = judge.Judge(Noise(16384, seed));
    // Most weak matches share "application/octet-stream" with plain "data";
    // the DOS jump has a type of its own.
    if (judgement.magic_type != "application/x-dosexec") continue;
    ++weak_matches;
    EXPECT_EQ(judgement.verdict, StartVerdict::LooksLikeNoise) << "seed " << seed;
  }
  EXPECT_EQ(weak_matches, 3) << "too few seeds drew a weak match; the test no longer shows anything";
}

}  // namespace
}  // namespace quorvant
