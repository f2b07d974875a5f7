#include "crypto/key_judge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <ostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "crypto/cipher.h"
#include "tests/support/format_samples.h"
#include "tests/support/sample_bytes.h"

namespace quorvant {
namespace {

using Bytes = std::vector<std::uint8_t>;
using judge_detail::FormatProof;
using testing::Document;
using testing::GzipFile;
using testing::HeadThenNoise;
using testing::Noise;
using testing::NumberTable;
using testing::PdfFile;
using testing::PngFile;
using testing::Prose;
using testing::ZipEntry;
using testing::ZipFile;

// A real JPEG from tests/data (made by ImageMagick; how, its comment says).
Bytes DataFile(const char* name) {
  std::ifstream input(std::string(QUORVANT_SOURCE_DIR "/tests/data/") + name, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(input), std::istreambuf_iterator<char>());
}

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
        StartCase{"GzipOfNoise", [] { return GzipFile(Noise(16384, 4)); }, Right},
        StartCase{"ZipOfNoise",
                  [] {
                    return ZipFile({{"noise.bin", Noise(16000, 5)}});
                  },
                  Right},
        StartCase{"Png", [] { return PngFile(120, 90, 6); }, Right},
        StartCase{"Jpeg", [] { return DataFile("judge_baseline.jpg"); }, Right},
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

// --- Formats that prove their own start ----------------------------------------

// The first block of a file, as the judge is given it.
Bytes FirstBlock(const Bytes& file) {
  return Bytes(file.begin(),
               file.begin() + static_cast<std::ptrdiff_t>(std::min(file.size(), MaxJudgedLength)));
}

// Keys that share the key set-up's rotation with the right key, and so
// decrypt most of every 84 bytes right: "right key" / "wrong key" under a
// suffix where their rotations meet (about one suffix in 21), and one
// character moved by 21 codes.
struct KeyPair {
  const char* right;
  const char* wrong;
  EncryptedSuffix suffix;
};

int SharedWords(std::string_view right, std::string_view wrong, const EncryptedSuffix& suffix) {
  const KeyWords right_words = BuildKeyWords(right, suffix), wrong_words = BuildKeyWords(wrong, suffix);
  int shared = 0;
  for (int index = 0; index < KeyWords::Count; ++index) {
    shared += right_words.Words()[index] == wrong_words.Words()[index] ? 1 : 0;
  }
  return shared;
}

// The first suffix of a fixed sequence under which the two keys share at
// least `words` key words.
EncryptedSuffix SuffixSharing(std::string_view right, std::string_view wrong, int words) {
  EncryptedSuffix suffix = Suffix;
  for (std::size_t pick = 0; pick < ValidNameChars.size() * ValidNameChars.size(); ++pick) {
    suffix[1] = static_cast<std::uint8_t>(ValidNameChars[pick % ValidNameChars.size()]);
    suffix[2] = static_cast<std::uint8_t>(ValidNameChars[pick / ValidNameChars.size()]);
    if (SharedWords(right, wrong, suffix) >= words) return suffix;
  }
  ADD_FAILURE() << right << " and " << wrong << " never share " << words << " key words";
  return suffix;
}

std::vector<KeyPair> SharedRotationPairs() {
  return {
      {"right key", "wrong key", SuffixSharing("right key", "wrong key", 8)},
      {"hunter2", "Sunter2", Suffix},  // ten of twelve words shared
      {"hunter2", "huntzr2", Suffix},  // the same
      {"backup 2024", "backup 2E24", SuffixSharing("backup 2024", "backup 2E24", 10)},
  };
}

Bytes FirstBlockDecryptedWith(const Bytes& file, const KeyPair& keys) {
  Bytes block = FirstBlock(file);
  for (const auto& [key, direction] :
       {std::pair{keys.right, Direction::Encrypt}, {keys.wrong, Direction::Decrypt}}) {
    KeyWords words = BuildKeyWords(key, keys.suffix);
    TransformBlock(block, static_cast<std::int32_t>(block.size()), direction, words);
  }
  return block;
}

struct FormatSample {
  const char* name;
  std::function<Bytes()> make;
  // Breaks the sample at a spot its format checks, inside the first block.
  std::function<void(Bytes&)> break_it;
  // A shared-rotation wrong key known to pass: it damages nothing checkable
  // before it makes a length run past the block, after which nothing more
  // can be checked.
  const char* passing_key = nullptr;
};
void PrintTo(const FormatSample& sample, std::ostream* out) { *out << sample.name; }

std::size_t Find(const Bytes& bytes, std::string_view what, std::size_t from = 0) {
  const auto found =
      std::search(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end(), what.begin(), what.end(),
                  [](std::uint8_t byte, char wanted) { return byte == static_cast<std::uint8_t>(wanted); });
  EXPECT_NE(found, bytes.end()) << "the sample has no " << what;
  return static_cast<std::size_t>(found - bytes.begin());
}

class FormatSamples : public ::testing::TestWithParam<FormatSample> {
 protected:
  static void SetUpTestSuite() { judge_ = new StartJudge(); }
  static void TearDownTestSuite() { delete judge_; }
  static StartJudge* judge_;
};
StartJudge* FormatSamples::judge_ = nullptr;

TEST_P(FormatSamples, TheRightKeyIsNeverQuestioned) {
  const Bytes start = FirstBlock(GetParam().make());
  EXPECT_EQ(judge_detail::ProveStart(start), FormatProof::Holds);
  const StartJudgement judgement = judge_->Judge(start);
  EXPECT_EQ(judgement.verdict, StartVerdict::LooksRight) << "reason " << static_cast<int>(judgement.reason);
}

// Whatever the length of the file, or wherever the block ends, a start cut
// in the middle of a stream, a chunk, a segment or an object is never
// taken for a broken one.
TEST_P(FormatSamples, AStartCutAnywhereNeverFailsItsFormat) {
  const Bytes start = FirstBlock(GetParam().make());
  for (std::size_t length = 1; length <= start.size(); length += length < 4096 ? 1 : 7) {
    ASSERT_NE(judge_detail::ProveStart(std::span(start).first(length)), FormatProof::Broken)
        << "cut at " << length;
  }
}

TEST_P(FormatSamples, KeysSharingTheRotationAreRefused) {
  const Bytes file = GetParam().make();
  for (const KeyPair& keys : SharedRotationPairs()) {
    SCOPED_TRACE(std::string(keys.right) + " / " + keys.wrong);
    const Bytes start = FirstBlockDecryptedWith(file, keys);
    ASSERT_NE(start, FirstBlock(file)) << "the wrong key decrypted the whole block right";
    const bool blind_spot =
        GetParam().passing_key != nullptr && keys.wrong == std::string_view(GetParam().passing_key);
    const StartJudgement judgement = judge_->Judge(start);
    EXPECT_EQ(judgement.verdict, blind_spot ? StartVerdict::LooksRight : StartVerdict::LooksLikeNoise)
        << "reason " << static_cast<int>(judgement.reason);
  }
}

TEST_P(FormatSamples, BrokenAtACheckableSpotIsRefused) {
  Bytes start = FirstBlock(GetParam().make());
  GetParam().break_it(start);
  EXPECT_EQ(judge_detail::ProveStart(start), FormatProof::Broken);
  const StartJudgement judgement = judge_->Judge(start);
  EXPECT_EQ(judgement.verdict, StartVerdict::LooksLikeNoise);
  EXPECT_EQ(judgement.reason, StartReason::BrokenFormat);
}

// A ZIP of one deflated text of some 35 KB, whose entry runs past the first
// block: the shape of an archive that shared-rotation keys used to pass.
Bytes Bundle() { return ZipFile({{"bundle.txt", Document(160000, 3)}}); }
Bytes SmallArchive() {
  return ZipFile({{"notes.txt", Document(3000, 1)},
                  {"empty/", {}, true},
                  {"table.bin", NumberTable(900, 37), true},
                  {"readme.txt", Document(1500, 2)}});
}
Bytes StreamedArchive() {
  return ZipFile({{"a.txt", Document(2500, 7), false, true}, {"b.txt", Document(2500, 8), false, true}});
}

void FlipByte(Bytes& bytes, std::size_t at) { bytes.at(at) ^= 0x24; }

INSTANTIATE_TEST_SUITE_P(
    Kinds, FormatSamples,
    ::testing::Values(
        // A byte of a stored entry's data: its CRC-32 no longer matches.
        FormatSample{"ZipOfSmallFiles", SmallArchive,
                     [](Bytes& zip) { FlipByte(zip, Find(zip, "table.bin") + 9 + 400); }},
        // A stored entry's packed size, now past the end: stored data is as
        // long packed as unpacked.
        FormatSample{"ZipStoredSize", SmallArchive,
                     [](Bytes& zip) { FlipByte(zip, Find(zip, "table.bin") - 30 + 21); }},
        // The CRC-32 in the data descriptor after a streamed entry.
        FormatSample{"ZipStreamed", StreamedArchive,
                     [](Bytes& zip) { FlipByte(zip, Find(zip, "PK\x07\x08") + 5); }},
        // The stored size of a deflated entry.
        // The first deflate block's type: 3 is no type.
        FormatSample{"ZipOfOneLargeFile", Bundle,
                     [](Bytes& zip) { zip.at(Find(zip, "bundle.txt") + 10) |= 0x06; }},
        // The trailer's CRC-32.
        FormatSample{"GzipWhole", [] { return GzipFile(Document(30000, 4)); },
                     [](Bytes& gzip) { FlipByte(gzip, gzip.size() - 6); }},
        // A reserved header flag.
        FormatSample{"GzipLarge", [] { return GzipFile(Document(300000, 5)); },
                     [](Bytes& gzip) { gzip[3] |= 0x80; }},
        // A byte of the image data, which its chunk's CRC-32 covers.
        // "huntzr2" damages only the low bytes of the text chunk's length.
        FormatSample{"PngWhole", [] { return PngFile(64, 48, 1); },
                     [](Bytes& png) { FlipByte(png, Find(png, "IDAT") + 20); }, "huntzr2"},
        // A byte of the first image data chunk, which ends inside the block.
        FormatSample{"PngWithoutText", [] { return PngFile(300, 200, 3, testing::PngText::None); },
                     [](Bytes& png) { FlipByte(png, Find(png, "IDAT") + 4000); }},
        // The picture's width, which the header chunk's CRC-32 covers.
        FormatSample{"PngLarge", [] { return PngFile(300, 200, 2); }, [](Bytes& png) { FlipByte(png, 18); },
                     "huntzr2"},
        // A quantisation table's length.
        FormatSample{"JpegBaseline", [] { return DataFile("judge_baseline.jpg"); },
                     [](Bytes& jpeg) { FlipByte(jpeg, Find(jpeg, "\xff\xdb") + 3); }},
        // A quantisation table's length, now past the end of the file: the
        // segment is read as far as it goes, and the next marker is no table.
        FormatSample{"JpegTableRunningPastTheEnd", [] { return DataFile("judge_baseline.jpg"); },
                     [](Bytes& jpeg) { FlipByte(jpeg, Find(jpeg, "\xff\xdb") + 2); }},
        // A second scan's Huffman table count.
        FormatSample{"JpegProgressive", [] { return DataFile("judge_progressive.jpg"); },
                     [](Bytes& jpeg) { FlipByte(jpeg, Find(jpeg, "\xff\xc4", 1000) + 6); }},
        // A control character in the first object's dictionary.
        FormatSample{"Pdf", [] { return PdfFile(6); },
                     [](Bytes& pdf) { pdf.at(Find(pdf, "/Size") - 1) = 0x05; }},
        // The compressed cross-reference stream.
        FormatSample{"PdfCrossReference", [] { return PdfFile(2); },
                     [](Bytes& pdf) { FlipByte(pdf, Find(pdf, "stream\n") + 7 + 3); }}),
    [](const ::testing::TestParamInfo<FormatSample>& info) { return info.param.name; });

TEST(StartJudge, WithoutTheMagicDatabaseFallsBackAndStillPassesKnownFormats) {
  StartJudge judge("/nonexistent/magic.mgc");
  EXPECT_FALSE(judge.HasMagic());
  EXPECT_EQ(judge.Judge(Prose(3000)).verdict, StartVerdict::LooksRight);
  EXPECT_EQ(judge.Judge(GzipFile(Noise(16384, 4))).verdict, StartVerdict::LooksRight);
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
