#include "crypto/strong_format.h"

#include <gtest/gtest.h>
#include <sodium.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "crypto/encrypted_name.h"
#include "tests/support/faulty_calls.h"
#include "tests/support/temp_folder.h"

namespace quorvant {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::PatternBytes;

// The floor keeps every derivation to a few milliseconds; the cost is stored
// in the trailer, so nothing else differs from the default.
constexpr StrongCost FloorCost = MinStrongCost;
constexpr char RightKey[] = "correct horse battery staple";
constexpr char WrongKey[] = "correct horse battery stapler";
constexpr std::uint64_t Chunk = StrongChunkLength;

template <std::size_t N>
std::array<std::uint8_t, N> Counting(std::uint8_t start) {
  std::array<std::uint8_t, N> bytes{};
  for (std::size_t index = 0; index < N; ++index) bytes[index] = static_cast<std::uint8_t>(start + index);
  return bytes;
}

StrongFreshParts InjectedParts() {
  StrongFreshParts parts;
  parts.salt = Counting<16>(0x10);
  parts.nonce_prefix = Counting<16>(0x40);
  parts.wrap_nonce = Counting<24>(0x80);
  const auto file_key = Counting<32>(0xC0);
  parts.file_key = StrongFileKey(file_key);
  return parts;
}

// A second, minimal writer of the format from libsodium calls and the
// documented offsets alone, to hold the library's bytes against.
namespace reference {

void Put(Bytes& bytes, std::size_t at, std::uint64_t value, int width) {
  for (int byte = 0; byte < width; ++byte) bytes[at + byte] = static_cast<std::uint8_t>(value >> (8 * byte));
}

Bytes Encrypt(std::string_view key_text, const StrongFreshParts& parts, StrongCost cost, const Bytes& plain) {
  std::uint8_t master[32], wrap_key[32], chunk_key[32], mac_key[32];
  const std::uint8_t* file_key = parts.file_key.Bytes().data();
  EXPECT_EQ(crypto_pwhash(master, 32, key_text.data(), key_text.size(), parts.salt.data(), cost.passes,
                          std::size_t{cost.memory_kib} * 1024, crypto_pwhash_ALG_ARGON2ID13),
            0);
  crypto_kdf_derive_from_key(wrap_key, 32, 1, "QvsWrapK", master);
  crypto_kdf_derive_from_key(chunk_key, 32, 1, "QvsChunk", file_key);
  crypto_kdf_derive_from_key(mac_key, 32, 1, "QvsTrMac", file_key);

  const std::uint64_t length = plain.size();
  const std::uint64_t count = length == 0 ? 1 : (length + 65535) / 65536;
  Bytes image(length + 16 * count + 184);
  std::copy(plain.begin(), plain.end(), image.begin());
  for (std::uint64_t index = 0; index < count; ++index) {
    std::uint8_t nonce[24];
    std::memcpy(nonce, parts.nonce_prefix.data(), 16);
    for (int byte = 0; byte < 7; ++byte) nonce[16 + byte] = static_cast<std::uint8_t>(index >> (8 * byte));
    nonce[23] = index + 1 == count ? 1 : 0;
    const std::uint64_t start = index * 65536;
    const std::uint64_t size = std::min<std::uint64_t>(65536, length - start);
    crypto_aead_xchacha20poly1305_ietf_encrypt_detached(
        image.data() + start, image.data() + length + 16 * index, nullptr, image.data() + start, size,
        nullptr, 0, nullptr, nonce, chunk_key);
  }

  Bytes trailer(184);
  const std::uint8_t magic[8] = {0x9E, 'Q', 'v', 's', 0x0D, 0x0A, 0x00, 0x1A};
  std::memcpy(trailer.data(), magic, 8);
  Put(trailer, 8, 1, 4);
  Put(trailer, 12, 65536, 4);
  Put(trailer, 16, length, 8);
  Put(trailer, 24, cost.passes, 4);
  Put(trailer, 28, cost.memory_kib, 4);
  std::memcpy(trailer.data() + 32, parts.salt.data(), 16);
  std::memcpy(trailer.data() + 48, parts.nonce_prefix.data(), 16);
  std::memcpy(trailer.data() + 64, parts.wrap_nonce.data(), 24);
  crypto_aead_xchacha20poly1305_ietf_encrypt(trailer.data() + 88, nullptr, file_key, 32, trailer.data(), 88,
                                             nullptr, parts.wrap_nonce.data(), wrap_key);
  crypto_generichash(trailer.data() + 136, 32, trailer.data(), 136, mac_key, 32);
  crypto_generichash(trailer.data() + 168, 16, trailer.data(), 168, nullptr, 0);
  std::copy(trailer.begin(), trailer.end(), image.end() - 184);
  return image;
}

}  // namespace reference

// Derivations remembered by key text and salt, and counted, so that a table
// of cases derives each key once and a test can see that none was tried.
struct RememberingDerive {
  int attempts = 0;
  std::map<std::string, StrongMasterKey> known;

  Result<StrongMasterKey, StrongKeyFailure> operator()(std::string_view key_text,
                                                       std::span<const std::uint8_t, 16> salt,
                                                       StrongCost cost) {
    ++attempts;
    std::string name(key_text);
    name.append(salt.begin(), salt.end());
    name += std::to_string(cost.passes) + "/" + std::to_string(cost.memory_kib);
    if (auto found = known.find(name); found != known.end()) return found->second;
    Result<StrongMasterKey, StrongKeyFailure> master_key = DeriveStrongMasterKey(key_text, salt, cost);
    if (master_key) known.emplace(name, *master_key);
    return master_key;
  }
};

RememberingDerive& SharedDerive() {
  static RememberingDerive derive;
  return derive;
}

StrongMasterKey MasterFor(std::string_view key_text, const StrongSalt& salt) {
  Result<StrongMasterKey, StrongKeyFailure> master_key = SharedDerive()(key_text, salt, FloorCost);
  EXPECT_TRUE(master_key.ok());
  return master_key.ok() ? *master_key : StrongMasterKey{};
}

TEST(StrongFormatTest, ImagesEqualTheMinimalWriterAtEveryChunkEdge) {
  const StrongFreshParts parts = InjectedParts();
  const StrongMasterKey master_key = MasterFor(RightKey, parts.salt);
  const std::uint64_t lengths[] = {0, 1, Chunk - 1, Chunk, Chunk + 1, 2 * Chunk, 3 * Chunk + 5};
  for (const std::uint64_t length : lengths) {
    SCOPED_TRACE("length " + std::to_string(length));
    const Bytes plain = PatternBytes(length, static_cast<std::uint32_t>(length) + 7);
    const Bytes image = EncryptStrongImage(master_key, parts, FloorCost, plain);
    ASSERT_EQ(image.size(), StrongEncryptedLength(length));
    EXPECT_TRUE(image == reference::Encrypt(RightKey, parts, FloorCost, plain));

    Result<StrongDecrypted, StrongKeyFailure> decrypted = DecryptStrongImage(master_key, image);
    ASSERT_TRUE(decrypted.ok());
    EXPECT_TRUE(decrypted->plaintext == plain);
    EXPECT_TRUE(decrypted->damaged_chunks.empty());
  }
}

// The test vector of docs/strong-format.md, section 12.
TEST(StrongFormatTest, TheDocumentedVectorHolds) {
  const StrongFreshParts parts = InjectedParts();
  const StrongMasterKey master_key = MasterFor(RightKey, parts.salt);
  const std::string_view expected =
      "815a90d2211dccf5d6054387be9466c53db8d699b69e5176730d0a001a010000"
      "000000010005000000000000000100000000200000101112131415161718191a"
      "1b1c1d1e1f404142434445464748494a4b4c4d4e4f808182838485868788898a"
      "8b8c8d8e8f90919293949596972cdf6f63737a509661d59b027a1a25ed36b363"
      "f95c4e10018b687e627f5e613c292956be016bdd442dfcebacc26f4e603f71fb"
      "c30b4a5dc41378dfaeb6507eff5f3786c0a59cbe44fcdd894808684fd01b6e75"
      "7fd751f87818f9da5c809f08f7";
  const Bytes image = EncryptStrongImage(master_key, parts, FloorCost, Bytes{'h', 'e', 'l', 'l', 'o'});
  std::string hex;
  for (const std::uint8_t byte : image) {
    constexpr char Digits[] = "0123456789abcdef";
    hex += Digits[byte >> 4];
    hex += Digits[byte & 15];
  }
  EXPECT_EQ(hex, expected);
}

TEST(StrongFormatTest, FreshPartsDifferBetweenFiles) {
  const StrongFreshParts first = DrawStrongFreshParts();
  const StrongFreshParts second = DrawStrongFreshParts();
  EXPECT_NE(first.salt, second.salt);
  EXPECT_NE(first.nonce_prefix, second.nonce_prefix);
  EXPECT_NE(first.wrap_nonce, second.wrap_nonce);
  EXPECT_FALSE(std::ranges::equal(first.file_key.Bytes(), second.file_key.Bytes()));
}

TEST(StrongFormatTest, GeometryOfChunksTagsAndTrailer) {
  struct Case {
    std::uint64_t length, chunks;
    StrongByteRange last_chunk;
    std::uint64_t last_tag, trailer, total;
  };
  const Case cases[] = {
      {0, 1, {0, 0}, 0, 16, 200},
      {1, 1, {0, 1}, 1, 17, 201},
      {Chunk, 1, {0, Chunk}, Chunk, Chunk + 16, Chunk + 200},
      {Chunk + 1, 2, {Chunk, 1}, Chunk + 17, Chunk + 33, Chunk + 217},
      {3 * Chunk + 5, 4, {3 * Chunk, 5}, 3 * Chunk + 53, 3 * Chunk + 69, 3 * Chunk + 253},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("length " + std::to_string(c.length));
    EXPECT_EQ(StrongChunkCount(c.length), c.chunks);
    EXPECT_EQ(StrongChunkRange(c.length, c.chunks - 1), c.last_chunk);
    EXPECT_EQ(StrongTagTableOffset(c.length), c.length);
    EXPECT_EQ(StrongTagOffset(c.length, c.chunks - 1), c.last_tag);
    EXPECT_EQ(StrongTrailerOffset(c.length), c.trailer);
    EXPECT_EQ(StrongEncryptedLength(c.length), c.total);
  }
  EXPECT_EQ(StrongChunksRange(3 * Chunk + 5, 1, 3), (StrongByteRange{Chunk, 2 * Chunk + 5}));
}

// --- What each kind of damage looks like -------------------------------

constexpr std::uint64_t TamperLength = 3 * Chunk + 5;  // four chunks, the last of 5 bytes
constexpr std::size_t TagTable = TamperLength;
constexpr std::size_t Trailer = TagTable + 4 * StrongTagLength;

struct Outcome {
  StrongEndKind kind = StrongEndKind::Sound;
  StrongDamage damage = StrongDamage::None;
  std::optional<StrongKeyFailure> key_failure;
  std::vector<StrongByteRange> damaged;
};

std::string Describe(const Outcome& outcome) {
  constexpr const char* Kinds[] = {"NoMagic", "Sound", "Damaged"};
  constexpr const char* Damages[] = {"",        " magic damaged", " checksum", " version",
                                     " limits", " geometry",      " appended", " trailer cut"};
  constexpr const char* KeyFailures[] = {"cost refused", "out of memory", "not sound", "wrong key",
                                         "trailer MAC"};
  std::string text =
      std::string(Kinds[static_cast<int>(outcome.kind)]) + Damages[static_cast<int>(outcome.damage)];
  if (outcome.key_failure) text += std::string(", ") + KeyFailures[static_cast<int>(*outcome.key_failure)];
  for (const StrongByteRange& range : outcome.damaged) {
    text += ", damaged " + std::to_string(range.offset) + "+" + std::to_string(range.length);
  }
  return text;
}

Outcome DamagedEnd(StrongDamage damage) { return {StrongEndKind::Damaged, damage, std::nullopt, {}}; }
Outcome KeyFails(StrongKeyFailure failure) { return {StrongEndKind::Sound, StrongDamage::None, failure, {}}; }
Outcome ChunksDamaged(std::vector<StrongByteRange> ranges) { return {StrongEndKind::Sound, {}, {}, ranges}; }
const Outcome NoMagic{StrongEndKind::NoMagic, StrongDamage::None, std::nullopt, {}};

void FlipBit(Bytes& image, std::size_t at) { image[at] ^= 0x04; }

// Changes a trailer field and fixes the checksum, as someone who means harm
// would: only the keyed checks can notice.
void Reseal(Bytes& image, std::size_t field, std::uint64_t value, int width) {
  StrongTrailerBytes trailer;
  std::copy(image.end() - StrongTrailerLength, image.end(), trailer.begin());
  for (int byte = 0; byte < width; ++byte)
    trailer[field + byte] = static_cast<std::uint8_t>(value >> (8 * byte));
  SealStrongChecksum(trailer);
  std::copy(trailer.begin(), trailer.end(), image.end() - StrongTrailerLength);
}

void SwapRanges(Bytes& image, std::size_t first, std::size_t second, std::size_t length) {
  std::swap_ranges(image.begin() + first, image.begin() + first + length, image.begin() + second);
}

void CopyChunk(Bytes& image, std::size_t from, std::size_t to) {
  std::copy_n(image.begin() + from * Chunk, Chunk, image.begin() + to * Chunk);
  std::copy_n(image.begin() + TagTable + from * 16, 16, image.begin() + TagTable + to * 16);
}

struct TamperCase {
  const char* name;
  std::function<void(Bytes&)> tamper;
  Outcome expected;
  const char* key_text = RightKey;
};

class StrongTamperTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    image_ = new Bytes(EncryptStrongImage(MasterFor(RightKey, InjectedParts().salt), InjectedParts(),
                                          FloorCost, PatternBytes(TamperLength, 3)));
  }
  static void TearDownTestSuite() { delete image_; }

  // The file's end, read from a real file; then the key, then every chunk.
  Outcome Judge(const Bytes& image, std::string_view key_text) {
    const UniqueFd file = folder_.WriteAndOpen("file", image);
    FileCalls calls;
    Result<StrongEnd> end = ReadStrongEnd(calls, file.Get(), static_cast<std::int64_t>(image.size()), "file",
                                          TrailerSearch::NearEnd);
    EXPECT_TRUE(end.ok());
    if (!end.ok()) return {};
    RememberingDerive& derive = SharedDerive();
    const int attempts_before = derive.attempts;
    Result<StrongChunkCipher, StrongKeyFailure> cipher = OpenStrongEnd(*end, key_text, std::ref(derive));
    if (end->kind != StrongEndKind::Sound) {
      // A trailer that is not sound never reaches the derivation.
      EXPECT_FALSE(cipher.ok());
      EXPECT_EQ(derive.attempts, attempts_before);
      return {end->kind, end->damage, std::nullopt, {}};
    }
    if (!cipher.ok()) return KeyFails(cipher.error());
    Result<std::vector<StrongByteRange>> damaged = VerifyStrongChunks(calls, file.Get(), *cipher, "file");
    EXPECT_TRUE(damaged.ok());
    return ChunksDamaged(damaged.ok() ? *damaged : std::vector<StrongByteRange>{});
  }

  static Bytes* image_;
  testing::TempFolder folder_;
};
Bytes* StrongTamperTest::image_ = nullptr;

TEST_F(StrongTamperTest, EveryDamageHasItsOwnResult) {
  using namespace strong_trailer;
  const auto cut_at = [](std::size_t length) { return [length](Bytes& image) { image.resize(length); }; };
  const auto flip_at = [](std::size_t at) { return [at](Bytes& image) { FlipBit(image, at); }; };
  const std::vector<TamperCase> cases = {
      {"untouched", [](Bytes&) {}, ChunksDamaged({})},
      {"wrong key", [](Bytes&) {}, KeyFails(StrongKeyFailure::WrongKey), WrongKey},
      // One bit of each trailer field.
      {"magic", flip_at(Trailer + MagicOffset), DamagedEnd(StrongDamage::MagicDamaged)},
      {"version", flip_at(Trailer + VersionOffset), DamagedEnd(StrongDamage::Checksum)},
      {"chunk length", flip_at(Trailer + ChunkLengthOffset + 2), DamagedEnd(StrongDamage::Checksum)},
      {"plain length", flip_at(Trailer + PlainLengthOffset), DamagedEnd(StrongDamage::Checksum)},
      {"passes", flip_at(Trailer + PassesOffset), DamagedEnd(StrongDamage::Checksum)},
      {"memory", flip_at(Trailer + MemoryOffset + 3), DamagedEnd(StrongDamage::Checksum)},
      {"salt", flip_at(Trailer + SaltOffset + 15), DamagedEnd(StrongDamage::Checksum)},
      {"nonce prefix", flip_at(Trailer + NoncePrefixOffset), DamagedEnd(StrongDamage::Checksum)},
      {"wrap nonce", flip_at(Trailer + WrapNonceOffset + 23), DamagedEnd(StrongDamage::Checksum)},
      {"wrapped key", flip_at(Trailer + WrappedKeyOffset + 40), DamagedEnd(StrongDamage::Checksum)},
      {"trailer MAC", flip_at(Trailer + MacOffset + 31), DamagedEnd(StrongDamage::Checksum)},
      {"checksum", flip_at(Trailer + ChecksumOffset + 15), DamagedEnd(StrongDamage::Checksum)},
      // Fields changed with the checksum made to fit.
      {"resealed version", [](Bytes& image) { Reseal(image, VersionOffset, 2, 4); },
       DamagedEnd(StrongDamage::Version)},
      {"resealed chunk length", [](Bytes& image) { Reseal(image, ChunkLengthOffset, 4096, 4); },
       DamagedEnd(StrongDamage::Version)},
      {"resealed huge passes", [](Bytes& image) { Reseal(image, PassesOffset, 1000, 4); },
       DamagedEnd(StrongDamage::Limits)},
      {"resealed huge memory", [](Bytes& image) { Reseal(image, MemoryOffset, 0xFFFF'FFFF, 4); },
       DamagedEnd(StrongDamage::Limits)},
      {"resealed memory below the floor", [](Bytes& image) { Reseal(image, MemoryOffset, 64, 4); },
       DamagedEnd(StrongDamage::Limits)},
      {"resealed plain length", [](Bytes& image) { Reseal(image, PlainLengthOffset, TamperLength - 1, 8); },
       DamagedEnd(StrongDamage::Geometry)},
      {"resealed salt", [](Bytes& image) { Reseal(image, SaltOffset, 0x55, 1); },
       KeyFails(StrongKeyFailure::WrongKey)},
      {"resealed nonce prefix", [](Bytes& image) { Reseal(image, NoncePrefixOffset, 0x55, 1); },
       KeyFails(StrongKeyFailure::WrongKey)},
      {"resealed MAC", [](Bytes& image) { Reseal(image, MacOffset, 0x55, 1); },
       KeyFails(StrongKeyFailure::TrailerMac)},
      // Tags and chunks.
      {"tag of chunk 2", flip_at(TagTable + 2 * 16 + 7), ChunksDamaged({{2 * Chunk, Chunk}})},
      {"chunk 0", flip_at(100), ChunksDamaged({{0, Chunk}})},
      {"chunk 1", flip_at(Chunk), ChunksDamaged({{Chunk, Chunk}})},
      {"chunk 2", flip_at(3 * Chunk - 1), ChunksDamaged({{2 * Chunk, Chunk}})},
      {"chunk 3", flip_at(TamperLength - 1), ChunksDamaged({{3 * Chunk, 5}})},
      {"chunks 0 and 2",
       [](Bytes& image) {
         FlipBit(image, 0);
         FlipBit(image, 2 * Chunk);
       },
       ChunksDamaged({{0, Chunk}, {2 * Chunk, Chunk}})},
      {"chunks 0 and 1 swapped with their tags",
       [](Bytes& image) {
         SwapRanges(image, 0, Chunk, Chunk);
         SwapRanges(image, TagTable, TagTable + 16, 16);
       },
       ChunksDamaged({{0, 2 * Chunk}})},
      {"chunk 0 copied over chunk 2 with its tag", [](Bytes& image) { CopyChunk(image, 0, 2); },
       ChunksDamaged({{2 * Chunk, Chunk}})},
      {"chunk 1 put in twice",
       [](Bytes& image) {
         const Bytes tag(image.begin() + TagTable + 16, image.begin() + TagTable + 32);
         image.insert(image.begin() + TagTable + 32, tag.begin(), tag.end());
         const Bytes chunk(image.begin() + Chunk, image.begin() + 2 * Chunk);
         image.insert(image.begin() + 2 * Chunk, chunk.begin(), chunk.end());
       },
       DamagedEnd(StrongDamage::Geometry)},
      {"chunk 1 dropped with its tag",
       [](Bytes& image) {
         image.erase(image.begin() + TagTable + 16, image.begin() + TagTable + 32);
         image.erase(image.begin() + Chunk, image.begin() + 2 * Chunk);
       },
       DamagedEnd(StrongDamage::Geometry)},
      // Bytes added at the end, and ends cut off.
      {"one byte appended", [](Bytes& image) { image.push_back(0); }, DamagedEnd(StrongDamage::Appended)},
      {"a page appended", [](Bytes& image) { image.resize(image.size() + 4096, 'x'); },
       DamagedEnd(StrongDamage::Appended)},
      {"more appended than the search reaches", [](Bytes& image) { image.resize(image.size() + 70000, 'x'); },
       NoMagic},
      {"cut after chunk 0", cut_at(Chunk), NoMagic},
      {"cut after chunk 1", cut_at(2 * Chunk), NoMagic},
      {"cut after chunk 2", cut_at(3 * Chunk), NoMagic},
      {"cut after chunk 3", cut_at(TagTable), NoMagic},
      {"cut after the tag table", cut_at(Trailer), NoMagic},
      {"cut inside the magic", cut_at(Trailer + 4), NoMagic},
      {"cut after the magic", cut_at(Trailer + MagicOffset + 8), DamagedEnd(StrongDamage::TrailerCut)},
      {"cut before the checksum", cut_at(Trailer + ChecksumOffset), DamagedEnd(StrongDamage::TrailerCut)},
      {"cut inside the checksum", cut_at(Trailer + StrongTrailerLength - 1),
       DamagedEnd(StrongDamage::TrailerCut)},
  };
  for (const TamperCase& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes image = *image_;
    c.tamper(image);
    EXPECT_EQ(Describe(Judge(image, c.key_text)), Describe(c.expected));
  }
}

TEST_F(StrongTamperTest, DamagedChunksKeepTheirBytesWhileTheRestDecrypts) {
  Bytes image = *image_;
  FlipBit(image, Chunk + 5);
  const Bytes damaged_chunk(image.begin() + Chunk, image.begin() + 2 * Chunk);
  Result<StrongDecrypted, StrongKeyFailure> decrypted =
      DecryptStrongImage(MasterFor(RightKey, InjectedParts().salt), image);
  ASSERT_TRUE(decrypted.ok());
  EXPECT_EQ(decrypted->damaged_chunks, std::vector<std::uint64_t>{1});
  const Bytes plain = PatternBytes(TamperLength, 3);
  EXPECT_TRUE(std::equal(plain.begin(), plain.begin() + Chunk, decrypted->plaintext.begin()));
  EXPECT_TRUE(std::equal(damaged_chunk.begin(), damaged_chunk.end(), decrypted->plaintext.begin() + Chunk));
  EXPECT_TRUE(std::equal(plain.begin() + 2 * Chunk, plain.end(), decrypted->plaintext.begin() + 2 * Chunk));
}

// --- Windows, in any order --------------------------------------------

TEST(StrongWindowTest, WindowsInAnyOrderAndRedoneGiveTheOneShotImage) {
  const StrongFreshParts parts = InjectedParts();
  const StrongMasterKey master_key = MasterFor(RightKey, parts.salt);
  constexpr std::uint64_t Length = 4 * Chunk + 7;
  const Bytes plain = PatternBytes(Length, 9);
  const Bytes expected = EncryptStrongImage(master_key, parts, FloorCost, plain);

  const StrongSealed sealed = SealStrongFile(master_key, parts, FloorCost, Length);
  Bytes image = plain;
  image.resize(StrongEncryptedLength(Length));
  std::copy(sealed.trailer.begin(), sealed.trailer.end(), image.end() - StrongTrailerLength);
  const auto window = [&](std::uint64_t first, std::uint64_t count) {
    const StrongByteRange range = StrongChunksRange(Length, first, count);
    return std::pair{std::span(image).subspan(range.offset, range.length),
                     std::span(image).subspan(StrongTagOffset(Length, first), count * StrongTagLength)};
  };
  const std::pair<std::uint64_t, std::uint64_t> order[] = {{3, 2}, {0, 1}, {1, 2}};
  for (const auto& [first, count] : order) {
    auto [data, tags] = window(first, count);
    sealed.cipher.EncryptChunks(first, data, tags);
  }
  EXPECT_TRUE(image == expected);

  // Redoing a window from the same plaintext writes the same bytes.
  {
    auto [data, tags] = window(1, 2);
    ASSERT_TRUE(sealed.cipher.DecryptChunks(1, data, tags).empty());
    sealed.cipher.EncryptChunks(1, data, tags);
  }
  EXPECT_TRUE(image == expected);

  // Undone by windows in another order, from the trailer alone.
  StrongTrailerBytes trailer;
  std::copy(image.end() - StrongTrailerLength, image.end(), trailer.begin());
  Result<StrongChunkCipher, StrongKeyFailure> opened = OpenStrongTrailer(master_key, trailer);
  ASSERT_TRUE(opened.ok());
  const std::pair<std::uint64_t, std::uint64_t> undo_order[] = {{2, 3}, {0, 2}};
  for (const auto& [first, count] : undo_order) {
    auto [data, tags] = window(first, count);
    EXPECT_TRUE(opened->DecryptChunks(first, data, tags).empty());
  }
  EXPECT_TRUE(std::equal(plain.begin(), plain.end(), image.begin()));
}

TEST(StrongWindowTest, AChunkIsBoundToItsIndexAndToBeingLast) {
  const StrongFreshParts parts = InjectedParts();
  const StrongChunkCipher two_chunks(parts.file_key, parts.nonce_prefix, 2 * Chunk);
  Bytes data = PatternBytes(2 * Chunk, 4);
  Bytes tags(2 * StrongTagLength);
  two_chunks.EncryptChunks(0, data, tags);
  const std::span<const std::uint8_t> first(data.data(), Chunk);
  const std::span<const std::uint8_t> first_tag(tags.data(), StrongTagLength);
  const std::span<const std::uint8_t> second(data.data() + Chunk, Chunk);
  const std::span<const std::uint8_t> second_tag(tags.data() + StrongTagLength, StrongTagLength);

  // The file cut to its first chunk, its length rewritten: chunk 0 was not the last.
  const StrongChunkCipher cut(parts.file_key, parts.nonce_prefix, Chunk);
  EXPECT_EQ(cut.CheckChunks(0, first, first_tag), std::vector<std::uint64_t>{0});
  // Chunk 1 at index 0 of a longer file, and the chunks in the right places.
  const StrongChunkCipher longer(parts.file_key, parts.nonce_prefix, 3 * Chunk);
  EXPECT_EQ(longer.CheckChunks(0, second, second_tag), std::vector<std::uint64_t>{0});
  EXPECT_TRUE(two_chunks.CheckChunks(1, second, second_tag).empty());
  EXPECT_TRUE(two_chunks.CheckChunks(0, first, first_tag).empty());
  // Another nonce prefix (another encryption of the same file) opens nothing.
  const StrongChunkCipher other(parts.file_key, Counting<16>(1), 2 * Chunk);
  EXPECT_EQ(other.CheckChunks(0, data, tags), (std::vector<std::uint64_t>{0, 1}));
}

// --- The verify pass -----------------------------------------------

TEST(StrongVerifyTest, ReadsLargePiecesAndMergesNeighbouringDamage) {
  const StrongFreshParts parts = InjectedParts();
  const StrongMasterKey master_key = MasterFor(RightKey, parts.salt);
  constexpr std::uint64_t Length = 66 * Chunk + 3;  // 67 chunks: two pieces
  Bytes image = EncryptStrongImage(master_key, parts, FloorCost, PatternBytes(Length, 5));
  for (const std::uint64_t chunk : {0, 64, 65}) FlipBit(image, chunk * Chunk + 1);
  testing::TempFolder folder;
  const UniqueFd file = folder.WriteAndOpen("big", image);
  const StrongChunkCipher cipher(parts.file_key, parts.nonce_prefix, Length);

  testing::FaultyCalls calls;
  Result<std::vector<StrongByteRange>> damaged = VerifyStrongChunks(calls, file.Get(), cipher, "big");
  ASSERT_TRUE(damaged.ok());
  EXPECT_EQ(*damaged, (std::vector<StrongByteRange>{{0, Chunk}, {64 * Chunk, 2 * Chunk}}));
  EXPECT_EQ(calls.reads, 4);  // data and tags of each 4 MiB piece

  testing::FaultyCalls failing;
  failing.fail_read = 3;
  Result<std::vector<StrongByteRange>> failed = VerifyStrongChunks(failing, file.Get(), cipher, "big");
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.error().code, EIO);
}

// --- Ends that are not ours, and costs that are refused ----------------

TEST(StrongEndTest, RandomEndsAreNeverTakenForStrong) {
  std::mt19937_64 random(20261210);
  StrongTrailerBytes tail;
  int taken = 0;
  for (int round = 0; round < 100'000; ++round) {
    for (auto& byte : tail) byte = static_cast<std::uint8_t>(random());
    const auto length = static_cast<std::int64_t>(StrongTrailerLength + random() % (std::uint64_t{1} << 40));
    if (ClassifyStrongEnd(tail, length).kind != StrongEndKind::NoMagic) ++taken;
  }
  EXPECT_EQ(taken, 0);
  // Even with the magic in place, random bytes are damage, never sound.
  int sound = 0;
  for (int round = 0; round < 1'000; ++round) {
    for (auto& byte : tail) byte = static_cast<std::uint8_t>(random());
    std::copy(StrongMagic.begin(), StrongMagic.end(), tail.begin());
    const StrongEnd end = ClassifyStrongEnd(tail, StrongTrailerLength + 1000);
    if (end.kind == StrongEndKind::Sound || end.damage != StrongDamage::Checksum) ++sound;
  }
  EXPECT_EQ(sound, 0);
  for (std::int64_t length = 0; length < static_cast<std::int64_t>(StrongTrailerLength); ++length) {
    EXPECT_EQ(ClassifyStrongEnd(std::span(tail).first(static_cast<std::size_t>(length)), length).kind,
              StrongEndKind::NoMagic);
  }
}

TEST(StrongEndTest, CostsOutsideTheLimitsAreRefusedBeforeAnyAllocation) {
  const StrongSalt salt = Counting<16>(0);
  // The ceiling would be hours of work or more memory than the machine has:
  // a result at once can only mean that nothing was tried.
  for (const StrongCost cost :
       {StrongCost{MaxStrongCost.passes + 1, MinStrongCost.memory_kib}, StrongCost{1, 0xFFFF'FFFF},
        StrongCost{0, MinStrongCost.memory_kib}, StrongCost{1, MinStrongCost.memory_kib - 1}}) {
    Result<StrongMasterKey, StrongKeyFailure> master_key = DeriveStrongMasterKey(RightKey, salt, cost);
    ASSERT_FALSE(master_key.ok());
    EXPECT_EQ(master_key.error(), StrongKeyFailure::CostRefused);
  }
  EXPECT_TRUE(StrongCostIsAccepted(DefaultStrongCost));
  EXPECT_TRUE(StrongCostIsAccepted(MaxStrongCost));
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
TEST(StrongEndTest, MemoryThatCannotBeHadIsToldApart) {
  // In a child whose address space cannot grow by the memory asked for.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const rlimit limit{256u << 20, 256u << 20};
    if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(2);
    Result<StrongMasterKey, StrongKeyFailure> master_key =
        DeriveStrongMasterKey(RightKey, Counting<16>(0), StrongCost{1, 512 * 1024});
    _exit(!master_key.ok() && master_key.error() == StrongKeyFailure::OutOfMemory ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}
#endif

// --- Names -----------------------------------------------------------

TEST(StrongNameTest, StrongNamesEndInAClosingBracket) {
  TestClock clock(12 * 3600 * 1000 + 4321);
  const EncryptedSuffix classic = MakeEncryptedSuffix(clock);
  clock.Set(12 * 3600 * 1000 + 4321);
  const EncryptedSuffix strong = MakeStrongSuffix(clock);
  EXPECT_TRUE(std::equal(classic.begin(), classic.end() - 1, strong.begin()));
  EXPECT_EQ(strong.back(), ']');

  struct Case {
    const char* name;
    bool strong_shape, classic_shape;
    std::optional<std::string> plain;
  };
  const Case cases[] = {
      {"report.txt a7#x(Q~]", true, false, "report.txt"},
      {"report.txt a7#x(Q~[", false, true, std::nullopt},
      {" a7#x(Q~]", true, false, std::nullopt},
      {".. a7#x(Q~]", true, false, std::nullopt},
      {"notes]", false, false, std::nullopt},
      {"reporta7#x(Q~]", false, false, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(HasStrongSuffixShape(c.name), c.strong_shape);
    EXPECT_EQ(HasEncryptedSuffixShape(c.name), c.classic_shape);
    EXPECT_EQ(StrongPlainName(c.name), c.plain);
    EXPECT_EQ(StrongSuffixOfName(c.name).has_value(), c.strong_shape);
  }
  const std::string name = EncryptedName("report.txt", strong);
  EXPECT_EQ(StrongSuffixOfName(name), strong);
  EXPECT_EQ(StrongPlainName(name), "report.txt");
}

}  // namespace
}  // namespace quorvant
