#include "crypto/key_check.h"

#include <sodium.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "base/verify.h"
#include "base/wipe.h"
#include "crypto/cipher.h"
#include "crypto/undo_mark.h"

namespace quorvant {

namespace {

// Both versions: the cost at the same place.
constexpr std::size_t CostOffset = 1;

// Version 1.
constexpr std::size_t Version1SaltOffset = 4;
constexpr std::size_t Version1SuffixOffset = 20;
constexpr std::size_t Version1TagOffset = 37;
constexpr std::size_t Version1TagLength = KeyCheckVersion1Length - Version1TagOffset;
static_assert(Version1TagLength == 16);

// Version 2.
constexpr std::size_t RunSaltOffset = 4;
constexpr std::size_t FileSaltOffset = 20;
constexpr std::size_t SuffixOffset = 36;
constexpr std::size_t TagOffset = 53;
constexpr std::size_t TagLength = KeyCheckLength - TagOffset;
static_assert(TagLength == crypto_generichash_BYTES);
static_assert(crypto_pwhash_SALTBYTES == KeyCheckSaltLength && DerivationSaltLength == KeyCheckSaltLength);
static_assert(DerivedKeyLength == crypto_kdf_KEYBYTES);

// The tag's key is a subkey of the Argon2id output, so that the same
// derivation can serve other uses under other contexts without the tag ever
// revealing anything about them.
constexpr char TagContext[crypto_kdf_CONTEXTBYTES + 1] = "keycheck";
constexpr std::uint64_t TagSubkeyId = 1;

// Where each version keeps the suffix (the file length follows it), and how
// long its values are.
struct Layout {
  std::uint8_t version;
  std::size_t length;
  std::size_t suffix_offset;
};
constexpr Layout Layouts[] = {
    {KeyCheckVersion1, KeyCheckVersion1Length, Version1SuffixOffset},
    {KeyCheckVersion, KeyCheckLength, SuffixOffset},
};

// Larger than any value a version of this program writes; a bigger attribute
// is not ours.
constexpr std::size_t LargestReadableValue = 256;

bool CostIsAccepted(KeyCheckCost cost) {
  return cost.passes >= MinKeyCheckPasses && cost.passes <= MaxKeyCheckPasses &&
         cost.memory_mib >= MinKeyCheckMemoryMib && cost.memory_mib <= MaxKeyCheckMemoryMib;
}

Argon2idCost ToArgon2idCost(KeyCheckCost cost) {
  return Argon2idCost{cost.passes, std::uint32_t{cost.memory_mib} * 1024};
}

Status StartSodium() {
  // sodium_init is safe to call again and from several threads.
  if (sodium_init() < 0) return Error{0, "start the key check library"};
  return {};
}

// The fields both versions share: version, cost, then `suffix` and
// `file_length` at `suffix_offset`.
void WriteCommonFields(std::span<std::uint8_t> value, std::uint8_t version, KeyCheckCost cost,
                       std::size_t suffix_offset, std::span<const std::uint8_t, 9> suffix,
                       std::int64_t file_length) {
  value[0] = version;
  value[CostOffset] = cost.passes;
  value[CostOffset + 1] = static_cast<std::uint8_t>(cost.memory_mib & 0xFF);
  value[CostOffset + 2] = static_cast<std::uint8_t>(cost.memory_mib >> 8);
  std::memcpy(value.data() + suffix_offset, suffix.data(), suffix.size());
  const auto length = static_cast<std::uint64_t>(file_length);
  for (std::size_t byte = 0; byte < 8; ++byte)
    value[suffix_offset + suffix.size() + byte] = static_cast<std::uint8_t>(length >> (8 * byte));
}

KeyCheckCost ReadCost(std::span<const std::uint8_t> stored_value) {
  return KeyCheckCost{
      stored_value[CostOffset],
      static_cast<std::uint16_t>(stored_value[CostOffset + 1] | (stored_value[CostOffset + 2] << 8))};
}

// Unreadable or Stale from the clear fields alone; nothing when only the
// slow derivation can tell.
std::optional<KeyCheckVerdict> JudgeClearFields(std::span<const std::uint8_t, 9> suffix,
                                                std::int64_t file_length,
                                                std::span<const std::uint8_t> stored_value) {
  const Layout* layout = nullptr;
  for (const Layout& known : Layouts) {
    if (!stored_value.empty() && stored_value[0] == known.version && stored_value.size() == known.length) {
      layout = &known;
    }
  }
  if (layout == nullptr || !CostIsAccepted(ReadCost(stored_value))) return KeyCheckVerdict::Unreadable;
  std::array<std::uint8_t, KeyCheckLength> expected{};
  WriteCommonFields(expected, layout->version, ReadCost(stored_value), layout->suffix_offset, suffix,
                    file_length);
  if (std::memcmp(expected.data() + layout->suffix_offset, stored_value.data() + layout->suffix_offset,
                  suffix.size() + 8) != 0) {
    return KeyCheckVerdict::Stale;
  }
  return std::nullopt;
}

// Version 1: Argon2id over the key, salted with a hash of the whole head, so
// that the tag vouches for the random salt, the suffix, the length and the
// cost alike.
Status DeriveVersion1Tag(std::string_view key_text, std::span<const std::uint8_t, Version1TagOffset> head,
                         KeyCheckCost cost, std::span<std::uint8_t, Version1TagLength> tag) {
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

// Version 2: the keyed hash of the head under the derived key's subkey.
void ComputeTag(DerivedKey derived, std::span<const std::uint8_t, TagOffset> head,
                std::span<std::uint8_t, TagLength> tag) {
  std::array<std::uint8_t, crypto_generichash_KEYBYTES> subkey{};
  crypto_kdf_derive_from_key(subkey.data(), subkey.size(), TagSubkeyId, TagContext, derived.data());
  crypto_generichash(tag.data(), tag.size(), head.data(), head.size(), subkey.data(), subkey.size());
  Wipe(std::span(subkey));
}

// Whether the tag of `stored_value` (of its version's length, cost
// accepted) is the one `expected` derives; `expected` is wiped.
template <std::size_t Length>
bool SameTag(std::array<std::uint8_t, Length>& expected, std::span<const std::uint8_t> stored_value) {
  const bool same =
      sodium_memcmp(expected.data(), stored_value.data() + stored_value.size() - Length, Length) == 0;
  Wipe(std::span(expected));
  return same;
}

}  // namespace

Result<KeyCheckValue> MakeKeyCheckWithSalts(KeyDerivation& derivations, KeyCheckSalt run_salt,
                                            KeyCheckSalt file_salt, std::span<const std::uint8_t, 9> suffix,
                                            std::int64_t file_length, KeyCheckCost cost) {
  Verify(IsValidKeyText(derivations.KeyText()));
  Verify(file_length >= 0);
  Verify(CostIsAccepted(cost));
  if (Status started = StartSodium(); !started) return started.error();
  KeyCheckValue value{};
  WriteCommonFields(value, KeyCheckVersion, cost, SuffixOffset, suffix, file_length);
  std::memcpy(value.data() + RunSaltOffset, run_salt.data(), run_salt.size());
  std::memcpy(value.data() + FileSaltOffset, file_salt.data(), file_salt.size());
  const Result<DerivedKey> derived = derivations.Derive(run_salt, ToArgon2idCost(cost));
  if (!derived) return Error{derived.error().code, "derive the key check"};
  ComputeTag(*derived, std::span(value).first<TagOffset>(), std::span(value).subspan<TagOffset, TagLength>());
  return value;
}

Result<KeyCheckValue> MakeKeyCheck(KeyDerivation& derivations, KeyCheckSalt run_salt,
                                   std::span<const std::uint8_t, 9> suffix, std::int64_t file_length,
                                   KeyCheckCost cost) {
  if (Status started = StartSodium(); !started) return started.error();
  std::array<std::uint8_t, KeyCheckSaltLength> file_salt{};
  randombytes_buf(file_salt.data(), file_salt.size());
  return MakeKeyCheckWithSalts(derivations, run_salt, file_salt, suffix, file_length, cost);
}

Result<KeyCheckValue> MakeKeyCheck(std::string_view key_text, std::span<const std::uint8_t, 9> suffix,
                                   std::int64_t file_length, KeyCheckCost cost) {
  if (Status started = StartSodium(); !started) return started.error();
  std::array<std::uint8_t, KeyCheckSaltLength> run_salt{};
  randombytes_buf(run_salt.data(), run_salt.size());
  KeyDerivation derivations(key_text);
  return MakeKeyCheck(derivations, run_salt, suffix, file_length, cost);
}

Result<KeyCheckVersion1Value> MakeVersion1KeyCheck(std::string_view key_text,
                                                   std::span<const std::uint8_t, 9> suffix,
                                                   std::int64_t file_length, KeyCheckCost cost,
                                                   KeyCheckSalt salt) {
  Verify(IsValidKeyText(key_text));
  Verify(file_length >= 0);
  Verify(CostIsAccepted(cost));
  if (Status started = StartSodium(); !started) return started.error();
  KeyCheckVersion1Value value{};
  WriteCommonFields(value, KeyCheckVersion1, cost, Version1SuffixOffset, suffix, file_length);
  std::memcpy(value.data() + Version1SaltOffset, salt.data(), salt.size());
  auto tag = std::span(value).subspan<Version1TagOffset, Version1TagLength>();
  if (Status derived = DeriveVersion1Tag(key_text, std::span(value).first<Version1TagOffset>(), cost, tag);
      !derived) {
    return derived.error();
  }
  return value;
}

Result<KeyCheckVerdict> VerifyKeyCheck(KeyDerivation& derivations, std::span<const std::uint8_t, 9> suffix,
                                       std::int64_t file_length, std::span<const std::uint8_t> stored_value) {
  const std::string_view key_text = derivations.KeyText();
  Verify(IsValidKeyText(key_text));
  Verify(file_length >= 0);
  // Clear fields first: nothing here needs the slow derivation.
  if (std::optional<KeyCheckVerdict> clear = JudgeClearFields(suffix, file_length, stored_value))
    return *clear;
  if (Status started = StartSodium(); !started) return started.error();
  const KeyCheckCost cost = ReadCost(stored_value);

  if (stored_value[0] == KeyCheckVersion1) {
    std::array<std::uint8_t, Version1TagLength> tag{};
    if (Status derived = DeriveVersion1Tag(key_text, stored_value.first<Version1TagOffset>(), cost, tag);
        !derived) {
      return derived.error();
    }
    return SameTag(tag, stored_value) ? KeyCheckVerdict::Match : KeyCheckVerdict::Mismatch;
  }

  const Result<DerivedKey> derived =
      derivations.Derive(stored_value.subspan<RunSaltOffset, KeyCheckSaltLength>(), ToArgon2idCost(cost));
  if (!derived) return Error{derived.error().code, "derive the key check"};
  std::array<std::uint8_t, TagLength> tag{};
  ComputeTag(*derived, stored_value.first<TagOffset>(), tag);
  return SameTag(tag, stored_value) ? KeyCheckVerdict::Match : KeyCheckVerdict::Mismatch;
}

Result<KeyCheckVerdict> VerifyKeyCheck(std::string_view key_text, std::span<const std::uint8_t, 9> suffix,
                                       std::int64_t file_length, std::span<const std::uint8_t> stored_value) {
  Verify(IsValidKeyText(key_text));
  KeyDerivation derivations(key_text);
  return VerifyKeyCheck(derivations, suffix, file_length, stored_value);
}

Status DeriveCheckSubkey(KeyDerivation& derivations, std::span<const std::uint8_t> check, std::uint64_t id,
                         const char* context, std::span<std::uint8_t, DerivedKeyLength> subkey) {
  Verify(std::strlen(context) == crypto_kdf_CONTEXTBYTES);
  // The check's own tag key must never be handed out.
  Verify(id != TagSubkeyId || std::strcmp(context, TagContext) != 0);
  if (check.size() != KeyCheckLength || check[0] != KeyCheckVersion || !CostIsAccepted(ReadCost(check))) {
    return Error{EINVAL, "use the key check"};
  }
  if (Status started = StartSodium(); !started) return started.error();
  const Result<DerivedKey> derived =
      derivations.Derive(check.subspan<RunSaltOffset, KeyCheckSaltLength>(), ToArgon2idCost(ReadCost(check)));
  if (!derived) return Error{derived.error().code, "derive the key check"};
  crypto_kdf_derive_from_key(subkey.data(), subkey.size(), id, context, derived->data());
  return {};
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

Result<KeyCheckStore> WriteKeyCheck(int descriptor, std::span<const std::uint8_t> value, FileCalls& calls) {
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

KeyDerivation& KeyChecker::DerivationsOf(std::string_view key_text) {
  if (!derivations_ || !derivations_->HoldsKeyText(key_text)) derivations_ = std::make_unique<KeyDerivation>(key_text);
  return *derivations_;
}

Result<KeyCheckValue> KeyChecker::Make(std::string_view key_text, std::span<const std::uint8_t, 9> suffix,
                                       std::int64_t file_length) {
  if (Status started = StartSodium(); !started) return started.error();
  std::array<std::uint8_t, KeyCheckSaltLength> run_salt{};
  randombytes_buf(run_salt.data(), run_salt.size());
  return MakeKeyCheck(DerivationsOf(key_text), run_salt, suffix, file_length, cost_);
}

Result<KeyCheckVerdict> KeyChecker::Judge(std::string_view key_text, std::span<const std::uint8_t, 9> suffix,
                                          std::int64_t file_length, std::span<const std::uint8_t> stored_value) {
  Verify(IsValidKeyText(key_text));
  return VerifyKeyCheck(DerivationsOf(key_text), suffix, file_length, stored_value);
}

Result<UndoMarkKey> KeyChecker::MarkKey(std::string_view key_text, std::span<const std::uint8_t> check,
                                        std::uint64_t key_id) {
  return DeriveUndoMarkKey(DerivationsOf(key_text), check, key_id);
}

StrongSalt KeyChecker::NewStrongSalt() {
  Verify(sodium_init() >= 0);
  StrongSalt salt;
  randombytes_buf(salt.data(), salt.size());
  return salt;
}

RunKeyChecker::RunKeyChecker(std::string_view key_text, KeyCheckCost cost, StrongCost strong_cost)
    : KeyChecker(cost, strong_cost), derivations_(key_text) {}

Result<StrongMasterKey, StrongKeyFailure> RunKeyChecker::StrongMaster(std::string_view key_text,
                                                                      std::span<const std::uint8_t, 16> salt,
                                                                      StrongCost cost) {
  if (!derivations_.HoldsKeyText(key_text)) return KeyChecker::StrongMaster(key_text, salt, cost);
  // A hostile trailer's cost never reaches the derivation.
  if (!StrongCostIsAccepted(cost)) return StrongKeyFailure::CostRefused;
  const Result<DerivedKey> derived = derivations_.Derive(salt, Argon2idCost{cost.passes, cost.memory_kib});
  if (!derived) return StrongKeyFailure::OutOfMemory;
  return StrongMasterKey(*derived);
}

StrongSalt RunKeyChecker::NewStrongSalt() {
  if (!strong_salt_) strong_salt_ = KeyChecker::NewStrongSalt();
  return *strong_salt_;
}

Result<KeyCheckValue> RunKeyChecker::Make(std::string_view key_text, std::span<const std::uint8_t, 9> suffix,
                                          std::int64_t file_length) {
  if (!derivations_.HoldsKeyText(key_text)) return KeyChecker::Make(key_text, suffix, file_length);
  if (!run_salt_) {
    if (Status started = StartSodium(); !started) return started.error();
    run_salt_.emplace();
    randombytes_buf(run_salt_->data(), run_salt_->size());
  }
  return MakeKeyCheck(derivations_, *run_salt_, suffix, file_length, Cost());
}

Result<UndoMarkKey> RunKeyChecker::MarkKey(std::string_view key_text, std::span<const std::uint8_t> check,
                                           std::uint64_t key_id) {
  if (!derivations_.HoldsKeyText(key_text)) return KeyChecker::MarkKey(key_text, check, key_id);
  return DeriveUndoMarkKey(derivations_, check, key_id);
}

Result<KeyCheckVerdict> RunKeyChecker::Judge(std::string_view key_text,
                                             std::span<const std::uint8_t, 9> suffix,
                                             std::int64_t file_length,
                                             std::span<const std::uint8_t> stored_value) {
  if (!derivations_.HoldsKeyText(key_text))
    return KeyChecker::Judge(key_text, suffix, file_length, stored_value);
  return VerifyKeyCheck(derivations_, suffix, file_length, stored_value);
}

}  // namespace quorvant
