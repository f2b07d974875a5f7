#include "crypto/cipher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "base/clock.h"
#include "crypto/encrypted_name.h"

namespace quorvant {
namespace {

std::vector<std::uint8_t> Content(std::size_t length) {
  std::vector<std::uint8_t> data(length);
  for (std::size_t index = 0; index < length; ++index)
    data[index] = static_cast<std::uint8_t>(index * 31 + 7);
  return data;
}

EncryptedSuffix SuffixFromSalt(std::string_view salt) {
  EncryptedSuffix suffix;
  suffix[0] = ' ';
  std::copy(salt.begin(), salt.end(), suffix.begin() + 1);
  suffix[8] = '[';
  return suffix;
}

// The whole file in memory, block by block, as the file process does it.
std::vector<std::uint8_t> TransformWhole(std::vector<std::uint8_t> data, std::string_view key,
                                         const EncryptedSuffix& suffix, Direction direction) {
  KeyWords words = BuildKeyWords(key, suffix);
  const auto block_length = static_cast<std::int32_t>(std::min<std::size_t>(data.size(), MaxBlockLength));
  for (std::size_t start = 0; start < data.size(); start += static_cast<std::size_t>(block_length)) {
    const std::size_t size = std::min(data.size() - start, static_cast<std::size_t>(block_length));
    TransformBlock(std::span(data).subspan(start, size), block_length, direction, words);
  }
  return data;
}

std::vector<std::uint8_t> FromHex(const std::string& hex) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t index = 0; index + 1 < hex.size(); index += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(index, 2), nullptr, 16)));
  }
  return bytes;
}

struct KnownAnswer {
  std::string comment;
  std::map<std::string, std::string> fields;
};

std::vector<KnownAnswer> ReadKnownAnswers() {
  std::ifstream input(QUORVANT_SOURCE_DIR "/tests/data/cipher_vectors.txt");
  std::vector<KnownAnswer> cases;
  std::string line;
  std::string comment;
  while (std::getline(input, line)) {
    if (line.empty()) continue;
    if (line[0] == '#') {
      comment = line.substr(2);
      continue;
    }
    const std::size_t equals = line.find('=');
    if (line.compare(0, 4, "key=") == 0) cases.push_back(KnownAnswer{comment, {}});
    if (equals == std::string::npos || cases.empty()) continue;
    cases.back().fields[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return cases;
}

TEST(CipherTest, MatchesKnownAnswersWorkedOutIndependently) {
  const std::vector<KnownAnswer> cases = ReadKnownAnswers();
  ASSERT_GE(cases.size(), 8u) << "tests/data/cipher_vectors.txt missing or short";
  for (const KnownAnswer& known : cases) {
    SCOPED_TRACE(known.comment);
    const std::vector<std::uint8_t> key_bytes = FromHex(known.fields.at("key"));
    const std::string key(key_bytes.begin(), key_bytes.end());
    const std::vector<std::uint8_t> suffix_bytes = FromHex(known.fields.at("suffix"));
    ASSERT_EQ(suffix_bytes.size(), 9u);
    EncryptedSuffix suffix;
    std::copy(suffix_bytes.begin(), suffix_bytes.end(), suffix.begin());
    const std::size_t length = std::stoul(known.fields.at("length"));

    const KeyWords words = BuildKeyWords(key, suffix);
    std::istringstream expected_words(known.fields.at("words"));
    for (std::uint64_t word : words.Words()) {
      std::string hex;
      expected_words >> hex;
      EXPECT_EQ(word, std::stoull(hex, nullptr, 16));
    }

    const std::vector<std::uint8_t> expected = FromHex(known.fields.at("cipher"));
    const std::vector<std::uint8_t> encrypted =
        TransformWhole(Content(length), key, suffix, Direction::Encrypt);
    EXPECT_EQ(encrypted, expected);
    EXPECT_EQ(TransformWhole(expected, key, suffix, Direction::Decrypt), Content(length));
  }
}

struct RoundTripKey {
  std::string key;
  std::string salt;
};

const RoundTripKey RoundTripKeys[] = {
    {"a", "       "},
    {"correct horse battery staple", "Ab3~ x!"},
    {std::string(77, '~'), "{}~`_^]"},
    {"   ", "0000000"},
};

TEST(CipherTest, DecryptionRestoresEveryShortLength) {
  for (const RoundTripKey& round : RoundTripKeys) {
    const EncryptedSuffix suffix = SuffixFromSalt(round.salt);
    for (std::size_t length = 1; length <= 300; ++length) {
      const std::vector<std::uint8_t> plain = Content(length);
      const std::vector<std::uint8_t> encrypted =
          TransformWhole(plain, round.key, suffix, Direction::Encrypt);
      ASSERT_EQ(TransformWhole(encrypted, round.key, suffix, Direction::Decrypt), plain)
          << "key '" << round.key << "', length " << length;
      if (length >= 16) {
        ASSERT_NE(encrypted, plain) << "length " << length;
      }
    }
  }
}

TEST(CipherTest, DecryptionRestoresLengthsAroundTheBlockLength) {
  const std::size_t lengths[] = {16383, 16384, 16385, 32767, 32768, 32769, 3 * 1024 * 1024 + 11};
  for (const RoundTripKey& round : RoundTripKeys) {
    const EncryptedSuffix suffix = SuffixFromSalt(round.salt);
    for (std::size_t length : lengths) {
      const std::vector<std::uint8_t> plain = Content(length);
      const std::vector<std::uint8_t> encrypted =
          TransformWhole(plain, round.key, suffix, Direction::Encrypt);
      ASSERT_EQ(TransformWhole(encrypted, round.key, suffix, Direction::Decrypt), plain)
          << "key '" << round.key << "', length " << length;
    }
  }
}

TEST(CipherTest, SaltAndKeyChangeTheCiphertext) {
  const std::vector<std::uint8_t> plain = Content(1000);
  const auto first = TransformWhole(plain, "secret", SuffixFromSalt("Ab3~ x!"), Direction::Encrypt);
  EXPECT_EQ(first, TransformWhole(plain, "secret", SuffixFromSalt("Ab3~ x!"), Direction::Encrypt));
  EXPECT_NE(first, TransformWhole(plain, "secret", SuffixFromSalt("Ab3~ x#"), Direction::Encrypt));
  EXPECT_NE(first, TransformWhole(plain, "secreT", SuffixFromSalt("Ab3~ x!"), Direction::Encrypt));
  // A wrong key "decrypts" without complaint, into something else.
  EXPECT_NE(plain, TransformWhole(first, "secreT", SuffixFromSalt("Ab3~ x!"), Direction::Decrypt));
}

// With W[11] a multiple of L the block keeps its order: encrypting equals the
// bare keystream xor, which is what decrypting applies too.
TEST(CipherTest, ZeroRotationLeavesTheBlockInPlace) {
  std::array<std::uint64_t, 12> start{};
  for (int index = 0; index < 12; ++index) start[index] = 0x0102030405060708ull * (index + 1) % WordModulus;
  start[11] = 100 * 12345;  // a multiple of the block length 100
  std::vector<std::uint8_t> zeros(100, 0);
  KeyWords encrypt_words = KeyWords::FromWords(start);
  TransformBlock(zeros, 100, Direction::Encrypt, encrypt_words);
  std::vector<std::uint8_t> zeros_again(100, 0);
  KeyWords decrypt_words = KeyWords::FromWords(start);
  TransformBlock(zeros_again, 100, Direction::Decrypt, decrypt_words);
  EXPECT_EQ(zeros, zeros_again);
  // The first window is W[0] + W[11], least significant byte first.
  const std::uint64_t first_word = (start[0] + start[11]) % WordModulus;
  for (int lane = 0; lane < 7; ++lane)
    EXPECT_EQ(zeros[lane], static_cast<std::uint8_t>(first_word >> (8 * lane)));
}

TEST(CipherTest, WordsStayBelowTheModulusAndCarryAcrossBlocks) {
  KeyWords words = BuildKeyWords("k", SuffixFromSalt("~~~~~~~"));
  for (std::uint64_t word : words.Words()) EXPECT_LT(word, 1ull << 56);
  std::vector<std::uint8_t> block(MaxBlockLength, 0);
  const KeyWords before = words;
  TransformBlock(block, MaxBlockLength, Direction::Encrypt, words);
  EXPECT_NE(std::vector(before.Words().begin(), before.Words().end()),
            std::vector(words.Words().begin(), words.Words().end()));
  for (std::uint64_t word : words.Words()) EXPECT_LT(word, WordModulus);
  // A one-byte last block runs the same 2341 windows as a full one: the words
  // end where a full block would leave them.
  KeyWords short_block_words = words;
  KeyWords full_block_words = words;
  std::uint8_t single = 0;
  TransformBlock(std::span(&single, 1), MaxBlockLength, Direction::Encrypt, short_block_words);
  TransformBlock(block, MaxBlockLength, Direction::Encrypt, full_block_words);
  EXPECT_EQ(std::vector(short_block_words.Words().begin(), short_block_words.Words().end()),
            std::vector(full_block_words.Words().begin(), full_block_words.Words().end()));
}

// Skipping blocks leaves the words exactly where transforming them would,
// for every block length (the window count follows it) and any data.
TEST(CipherTest, SkippingBlocksLeavesTheWordsWhereTransformingThemWould) {
  for (const std::int32_t block_length : {1, 7, 8, 9, 15, 84, 85, 1000, 16383, MaxBlockLength}) {
    SCOPED_TRACE(block_length);
    KeyWords transformed = BuildKeyWords("skip key", SuffixFromSalt("Ab3~ x!"));
    KeyWords skipped = transformed;
    std::vector<std::uint8_t> block = Content(static_cast<std::size_t>(block_length));
    for (int count = 0; count < 5; ++count) {
      TransformBlock(block, block_length, count % 2 == 0 ? Direction::Encrypt : Direction::Decrypt,
                     transformed);
    }
    SkipBlocks(skipped, block_length, 2);
    SkipBlocks(skipped, block_length, 0);
    SkipBlocks(skipped, block_length, 3);
    EXPECT_EQ(std::vector(skipped.Words().begin(), skipped.Words().end()),
              std::vector(transformed.Words().begin(), transformed.Words().end()));
  }
}

TEST(CipherTest, KeyWordsWipe) {
  KeyWords words = BuildKeyWords("secret", SuffixFromSalt("Ab3~ x!"));
  EXPECT_FALSE(words.IsWiped());
  words.Wipe();
  EXPECT_TRUE(words.IsWiped());
}

TEST(CipherTest, SuffixFollowsTheTimeOfDay) {
  // 12:00:00.500 everywhere: position 2 is the fourteenth name character.
  TestClock noon(43'200'500);
  EXPECT_EQ(MakeEncryptedSuffix(noon)[1], '0');
  // 01:00:00.000: T / i has no fraction, p = -8, the eighth from the end.
  TestClock one_o_clock(3'600'000);
  const EncryptedSuffix suffix = MakeEncryptedSuffix(one_o_clock);
  EXPECT_EQ(suffix[7], 'v');
  EXPECT_EQ(suffix[0], ' ');
  EXPECT_EQ(suffix[8], '[');
  EXPECT_TRUE(HasEncryptedSuffixShape(std::string(suffix.begin(), suffix.end())));
}

TEST(CipherTest, SuffixKeepsItsSpaceWherePIsZero) {
  // p = 0 needs 86 frac(T / i) to round to 8. For i = 2 and T = 0.186 s:
  // T / 2 = 0.093, 86 x 0.093 = 7.998, rounds to 8.
  TestClock clock(186);
  EXPECT_EQ(MakeEncryptedSuffix(clock)[1], ' ');
  // T = 0.25 s, i = 2: 86 x 0.125 = 10.75 rounds to 11, p = 3, the third character "#".
  clock.Set(250);
  EXPECT_EQ(MakeEncryptedSuffix(clock)[1], '#');
}

TEST(CipherTest, SuffixRoundsExactHalvesToEven) {
  // 12:00:00.500, i = 2 gives 21.5, up to 22 (the example above). T = 6 s,
  // i = 8: frac = 0.75, 86 x 0.75 = 64.5, down to the even 64, p = 56.
  TestClock clock(6'000);
  EXPECT_EQ(MakeEncryptedSuffix(clock)[7], static_cast<std::uint8_t>(ValidNameChars[56 - 1]));
}

TEST(CipherTest, ValidNameCharsAndKeyRules) {
  EXPECT_EQ(ValidNameChars.front(), ' ');
  EXPECT_EQ(ValidNameChars[13], '0');
  EXPECT_EQ(ValidNameChars[ValidNameChars.size() - 8], 'v');
  EXPECT_TRUE(IsValidKeyText(" "));
  EXPECT_TRUE(IsValidKeyText(std::string(77, '~')));
  EXPECT_FALSE(IsValidKeyText(""));
  EXPECT_FALSE(IsValidKeyText(std::string(78, 'a')));
  EXPECT_FALSE(IsValidKeyText("tab\there"));
  EXPECT_FALSE(IsValidKeyText("caf\xc3\xa9"));
}

}  // namespace
}  // namespace quorvant
