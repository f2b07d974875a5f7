#include "crypto/key_check.h"

#include <sodium.h>

#include <cerrno>
#include <cstring>

#include "base/verify.h"
#include "base/wipe.h"
#include "crypto/cipher.h"

namespace quorvant {

namespace {

constexpr std::size_t CostOffset = 1;
constexpr std::size_t SaltOffset = 4;
constexpr std::size_t SuffixOffset = 20;
constexpr std::size_t LengthOffset = 29;
constexpr std::size_t TagOffset = 37;
constexpr std::size_t TagLength = KeyCheckLength - TagOffset;
static_assert(TagLength == 16);
static_assert(crypto_pwhash_SALTBYTES == 16);

// Larger than any value a version of this program writes; a bigger attribute
// is not ours.
constexpr std::size_t LargestReadableValue = 256;

bool CostIsAccepted(KeyCheckCost cost) {
  return cost.passes >= MinKeyCheckPasses && cost.passes <= MaxKeyCheckPasses &&
         cost.memory_mib >= MinKeyCheckMemoryMib && cost.memory_mib <= MaxKeyCheckMemoryMib;
}

Status StartSodium() {
  // sodium_init is safe to call again and from several threads.
  if (sodium_init() < 0) return Error{0, "start the key check library"};
  return {};
}

// The clear head of a value: everything but the tag.
void WriteHead(KeyCheckValue& value, KeyCheckCost cost, std::span<const std::uint8_t, 16> salt,
               std::span<const std::uint8_t, 9> suffix, std::int64_t file_length) {
  value[0] = KeyCheckVersion;
  value[CostOffset] = cost.passes;
  value[CostOffset + 1] = static_cast<std::uint8_t>(cost.memory_mib & 0xFF);
  value[CostOffset + 2] = static_cast<std::uint8_t>(cost.memory_mib >> 8);
  std::memcpy(value.data() + SaltOffset, salt.data(), salt.size());
  std::memcpy(value.data() + SuffixOffset, suffix.data(), suffix.size());
  const auto length = static_cast<std::uint64_t>(file_length);
  for (int byte = 0; byte < 8; ++byte)
    value[LengthOffset + byte] = static_cast<std::uint8_t>(length >> (8 * byte));
}

// Argon2id over the key, salted with a hash of the whole head, so that the
// tag vouches for the random salt, the suffix, the length and the cost alike.
Status DeriveTag(std::string_view key_text, std::span<const std::uint8_t> head, KeyCheckCost cost,
                 std::span<std::uint8_t, TagLength> tag) {
  std::array<std::uint8_t, crypto_pwhash_SALTBYTES> argon_salt{};
  crypto_generichash(argon_salt.data(), argon_salt.size(), head.data(), head.size(), nullptr, 0);
  const int failed =
      crypto_pwhash(tag.data(), tag.size(), key_text.data(), key_text.size(), argon_salt.data(), cost.passes,
                    static_cast<std::size_t>(cost.memory_mib) << 20, crypto_pwhash_ALG_ARGON2ID13);
  // The only failure of crypto_pwhash within the accepted cost is running
  // out of memory.
  if (failed != 0) return Error{ENOMEM, "derive the key check"};
  return {};
}

}  // namespace

Result<KeyCheckValue> MakeKeyCheckWithSalt(std::string_view key_text, std::span<const std::uint8_t, 9> suffix,
                                           std::int64_t file_length, KeyCheckCost cost,
                                           std::span<const std::uint8_t, 16> salt) {
  Verify(IsValidKeyText(key_text));
  Verify(file_length >= 0);
  Verify(CostIsAccepted(cost));
  if (Status started = StartSodium(); !started) return started.error();
  KeyCheckValue value{};
  WriteHead(value, cost, salt, suffix, file_length);
  auto tag = std::span(value).subspan<TagOffset, TagLength>();
  if (Status derived = DeriveTag(key_text, std::span(value).first<TagOffset>(), cost, tag); !derived) {
    return derived.error();
  }
  return value;
}

Result<KeyCheckValue> MakeKeyCheck(std::string_view key_text, std::span<const std::uint8_t, 9> suffix,
                                   std::int64_t file_length, KeyCheckCost cost) {
  if (Status started = StartSodium(); !started) return started.error();
  std::array<std::uint8_t, 16> salt{};
  randombytes_buf(salt.data(), salt.size());
  return MakeKeyCheckWithSalt(key_text, suffix, file_length, cost, salt);
}

Result<KeyCheckVerdict> VerifyKeyCheck(std::string_view key_text, std::span<const std::uint8_t, 9> suffix,
                                       std::int64_t file_length, std::span<const std::uint8_t> stored_value) {
  Verify(IsValidKeyText(key_text));
  Verify(file_length >= 0);
  // Clear fields first: nothing here needs the slow derivation.
  if (stored_value.size() != KeyCheckLength || stored_value[0] != KeyCheckVersion) {
    return KeyCheckVerdict::Unreadable;
  }
  const KeyCheckCost cost{
      stored_value[CostOffset],
      static_cast<std::uint16_t>(stored_value[CostOffset + 1] | (stored_value[CostOffset + 2] << 8))};
  if (!CostIsAccepted(cost)) return KeyCheckVerdict::Unreadable;

  KeyCheckValue expected{};
  WriteHead(expected, cost, stored_value.subspan<SaltOffset, 16>(), suffix, file_length);
  if (std::memcmp(expected.data() + SuffixOffset, stored_value.data() + SuffixOffset,
                  TagOffset - SuffixOffset) != 0) {
    return KeyCheckVerdict::Stale;
  }

  if (Status started = StartSodium(); !started) return started.error();
  auto tag = std::span(expected).subspan<TagOffset, TagLength>();
  if (Status derived = DeriveTag(key_text, std::span(expected).first<TagOffset>(), cost, tag); !derived) {
    return derived.error();
  }
  const bool same = sodium_memcmp(tag.data(), stored_value.data() + TagOffset, TagLength) == 0;
  Wipe(tag);
  return same ? KeyCheckVerdict::Match : KeyCheckVerdict::Mismatch;
}

Result<std::optional<std::vector<std::uint8_t>>> ReadKeyCheck(int descriptor, FileCalls& calls) {
  std::vector<std::uint8_t> value(LargestReadableValue);
  const ssize_t size = calls.GetAttribute(descriptor, KeyCheckAttributeName, value.data(), value.size());
  if (size < 0) {
    if (errno == ENODATA || MeansNoUserAttributes(errno)) return std::optional<std::vector<std::uint8_t>>{};
    if (errno == ERANGE) return std::optional(std::vector<std::uint8_t>{});
    return Error::FromErrno("read the key check");
  }
  value.resize(static_cast<std::size_t>(size));
  return std::optional(std::move(value));
}

Result<KeyCheckStore> WriteKeyCheck(int descriptor, const KeyCheckValue& value, FileCalls& calls) {
  if (calls.SetAttribute(descriptor, KeyCheckAttributeName, value.data(), value.size()) == 0) {
    return KeyCheckStore::Stored;
  }
  if (MeansNoUserAttributes(errno)) return KeyCheckStore::NotSupported;
  return Error::FromErrno("store the key check");
}

Status RemoveKeyCheck(int descriptor, FileCalls& calls) {
  if (calls.RemoveAttribute(descriptor, KeyCheckAttributeName) == 0) return {};
  if (errno == ENODATA || MeansNoUserAttributes(errno)) return {};
  return Error::FromErrno("remove the key check");
}

}  // namespace quorvant
