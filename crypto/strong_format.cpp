#include "crypto/strong_format.h"

#include <algorithm>

#include "base/verify.h"
#include "crypto/cipher.h"

namespace quorvant {

namespace {

using namespace strong_trailer;

// crypto_kdf contexts and subkey ids: the wrap key from the master key, the
// trailer MAC key from the file key (the chunk key is in strong_chunks.cpp).
constexpr char WrapKeyContext[crypto_kdf_CONTEXTBYTES + 1] = "QvsWrapK";
constexpr std::uint64_t WrapKeyId = 1;
constexpr char MacKeyContext[crypto_kdf_CONTEXTBYTES + 1] = "QvsTrMac";
constexpr std::uint64_t MacKeyId = 1;

static_assert(crypto_pwhash_SALTBYTES == 16);
static_assert(crypto_aead_xchacha20poly1305_ietf_NPUBBYTES == std::tuple_size_v<StrongWrapNonce>);
static_assert(WrappedKeyLength == StrongFileKey::Length + crypto_aead_xchacha20poly1305_ietf_ABYTES);
static_assert(MacLength >= crypto_generichash_BYTES_MIN && MacLength <= crypto_generichash_BYTES_MAX);

using StrongWrapKey = StrongSecret<struct StrongWrapKeyTag>;
using StrongMacKey = StrongSecret<struct StrongMacKeyTag>;

StrongWrapKey DeriveWrapKey(const StrongMasterKey& master_key) {
  StrongWrapKey key;
  crypto_kdf_derive_from_key(key.MutableBytes().data(), StrongWrapKey::Length, WrapKeyId, WrapKeyContext,
                             master_key.Bytes().data());
  return key;
}

// The trailer MAC: BLAKE2b-256 keyed with the MAC subkey, over every byte
// before the MAC field.
std::array<std::uint8_t, MacLength> TrailerMac(const StrongFileKey& file_key,
                                               const StrongTrailerBytes& trailer) {
  StrongMacKey key;
  crypto_kdf_derive_from_key(key.MutableBytes().data(), StrongMacKey::Length, MacKeyId, MacKeyContext,
                             file_key.Bytes().data());
  std::array<std::uint8_t, MacLength> mac{};
  crypto_generichash(mac.data(), mac.size(), trailer.data(), MacOffset, key.Bytes().data(),
                     key.Bytes().size());
  return mac;
}

}  // namespace

Result<StrongMasterKey, StrongKeyFailure> DeriveStrongMasterKey(std::string_view key_text,
                                                                std::span<const std::uint8_t, 16> salt,
                                                                StrongCost cost) {
  Verify(IsValidKeyText(key_text));
  if (!StrongCostIsAccepted(cost)) return StrongKeyFailure::CostRefused;
  Verify(sodium_init() >= 0);
  StrongMasterKey master_key;
  auto bytes = master_key.MutableBytes();
  const int failed =
      crypto_pwhash(bytes.data(), bytes.size(), key_text.data(), key_text.size(), salt.data(), cost.passes,
                    static_cast<std::size_t>(cost.memory_kib) << 10, crypto_pwhash_ALG_ARGON2ID13);
  // Within the accepted limits the only failure is memory that cannot be had.
  if (failed != 0) return StrongKeyFailure::OutOfMemory;
  return master_key;
}

StrongFreshParts DrawStrongFreshParts() {
  Verify(sodium_init() >= 0);
  StrongFreshParts parts;
  randombytes_buf(parts.salt.data(), parts.salt.size());
  randombytes_buf(parts.nonce_prefix.data(), parts.nonce_prefix.size());
  randombytes_buf(parts.wrap_nonce.data(), parts.wrap_nonce.size());
  crypto_aead_xchacha20poly1305_ietf_keygen(parts.file_key.MutableBytes().data());
  return parts;
}

StrongSealed SealStrongFile(const StrongMasterKey& master_key, const StrongFreshParts& parts, StrongCost cost,
                            std::uint64_t plain_length) {
  Verify(StrongCostIsAccepted(cost) && plain_length <= MaxStrongPlainLength);
  Verify(sodium_init() >= 0);
  StrongTrailer fields;
  fields.plain_length = plain_length;
  fields.cost = cost;
  fields.salt = parts.salt;
  fields.nonce_prefix = parts.nonce_prefix;
  fields.wrap_nonce = parts.wrap_nonce;
  StrongTrailerBytes trailer{};
  EncodeStrongTrailerHead(fields, trailer);
  const StrongWrapKey wrap_key = DeriveWrapKey(master_key);
  crypto_aead_xchacha20poly1305_ietf_encrypt(
      trailer.data() + WrappedKeyOffset, nullptr, parts.file_key.Bytes().data(), StrongFileKey::Length,
      trailer.data(), WrappedKeyOffset, nullptr, parts.wrap_nonce.data(), wrap_key.Bytes().data());
  const auto mac = TrailerMac(parts.file_key, trailer);
  std::copy(mac.begin(), mac.end(), trailer.begin() + MacOffset);
  SealStrongChecksum(trailer);
  return {trailer, StrongChunkCipher(parts.file_key, parts.nonce_prefix, plain_length)};
}

Result<StrongChunkCipher, StrongKeyFailure> OpenStrongTrailer(const StrongMasterKey& master_key,
                                                              const StrongTrailerBytes& trailer) {
  Verify(sodium_init() >= 0);
  const StrongTrailer fields = DecodeStrongTrailer(trailer);
  const StrongWrapKey wrap_key = DeriveWrapKey(master_key);
  StrongFileKey file_key;
  unsigned long long opened_length = 0;
  if (crypto_aead_xchacha20poly1305_ietf_decrypt(file_key.MutableBytes().data(), &opened_length, nullptr,
                                                 trailer.data() + WrappedKeyOffset, WrappedKeyLength,
                                                 trailer.data(), WrappedKeyOffset, fields.wrap_nonce.data(),
                                                 wrap_key.Bytes().data()) != 0) {
    return StrongKeyFailure::WrongKey;
  }
  Verify(opened_length == StrongFileKey::Length);
  const auto mac = TrailerMac(file_key, trailer);
  if (crypto_verify_32(mac.data(), trailer.data() + MacOffset) != 0) return StrongKeyFailure::TrailerMac;
  return StrongChunkCipher(file_key, fields.nonce_prefix, fields.plain_length);
}

Result<StrongChunkCipher, StrongKeyFailure> OpenStrongEnd(const StrongEnd& end, std::string_view key_text,
                                                          const StrongDeriveFunction& derive) {
  // A damaged trailer's cost may be anything: it never reaches the derivation.
  if (end.kind != StrongEndKind::Sound) return StrongKeyFailure::NotSound;
  Result<StrongMasterKey, StrongKeyFailure> master_key = derive(key_text, end.trailer.salt, end.trailer.cost);
  if (!master_key) return master_key.error();
  return OpenStrongTrailer(*master_key, end.bytes);
}

std::vector<std::uint8_t> EncryptStrongImage(const StrongMasterKey& master_key, const StrongFreshParts& parts,
                                             StrongCost cost, std::span<const std::uint8_t> plaintext) {
  const StrongSealed sealed = SealStrongFile(master_key, parts, cost, plaintext.size());
  std::vector<std::uint8_t> image(StrongEncryptedLength(plaintext.size()));
  std::copy(plaintext.begin(), plaintext.end(), image.begin());
  const std::span<std::uint8_t> whole(image);
  const std::uint64_t chunk_count = sealed.cipher.ChunkCount();
  sealed.cipher.EncryptChunks(0, whole.first(plaintext.size()),
                              whole.subspan(plaintext.size(), chunk_count * StrongTagLength));
  std::copy(sealed.trailer.begin(), sealed.trailer.end(), image.end() - StrongTrailerLength);
  return image;
}

Result<StrongDecrypted, StrongKeyFailure> DecryptStrongImage(const StrongMasterKey& master_key,
                                                             std::span<const std::uint8_t> image) {
  const StrongEnd end = ClassifyStrongEnd(image, static_cast<std::int64_t>(image.size()));
  if (end.kind != StrongEndKind::Sound) return StrongKeyFailure::NotSound;
  Result<StrongChunkCipher, StrongKeyFailure> cipher = OpenStrongTrailer(master_key, end.bytes);
  if (!cipher) return cipher.error();
  const std::uint64_t plain_length = cipher->PlainLength();
  StrongDecrypted decrypted;
  decrypted.plaintext.assign(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(plain_length));
  decrypted.damaged_chunks = cipher->DecryptChunks(
      0, decrypted.plaintext, image.subspan(plain_length, cipher->ChunkCount() * StrongTagLength));
  return decrypted;
}

}  // namespace quorvant
