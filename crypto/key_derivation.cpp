#include "crypto/key_derivation.h"

#include <sodium.h>

#include <algorithm>
#include <cerrno>

namespace quorvant {

namespace {

bool CostIsAccepted(Argon2idCost cost) {
  const std::uint64_t passes = cost.passes;
  const std::uint64_t memory = std::uint64_t{cost.memory_kib} * 1024;
  return passes >= crypto_pwhash_argon2id_OPSLIMIT_MIN && passes <= crypto_pwhash_argon2id_OPSLIMIT_MAX &&
         memory >= crypto_pwhash_argon2id_MEMLIMIT_MIN && memory <= crypto_pwhash_argon2id_MEMLIMIT_MAX;
}

// Locks `size` bytes where the system allows it; whether it did.
bool LockBestEffort(void* data, std::size_t size) { return size != 0 && sodium_mlock(data, size) == 0; }

// sodium_munlock wipes before it unlocks.
void WipeAndUnlock(void* data, std::size_t size, bool locked) {
  if (locked) {
    sodium_munlock(data, size);
  } else {
    sodium_memzero(data, size);
  }
}

}  // namespace

KeyDerivation::KeyDerivation(std::string_view key_text)
    : key_text_(new char[std::max<std::size_t>(key_text.size(), 1)]), key_length_(key_text.size()) {
  // sodium_init is safe to call again; a failure shows again in Derive.
  [[maybe_unused]] const int started = sodium_init();
  key_locked_ = LockBestEffort(key_text_.get(), key_length_);
  std::copy(key_text.begin(), key_text.end(), key_text_.get());
}

KeyDerivation::~KeyDerivation() {
  for (Entry& entry : entries_) WipeAndUnlock(entry.key.data(), entry.key.size(), entry.locked);
  WipeAndUnlock(key_text_.get(), key_length_, key_locked_);
}

Result<DerivedKey> KeyDerivation::Derive(std::span<const std::uint8_t, DerivationSaltLength> salt,
                                         Argon2idCost cost) {
  for (const Entry& entry : entries_) {
    if (entry.cost == cost && std::equal(salt.begin(), salt.end(), entry.salt.begin()))
      return DerivedKey(entry.key);
  }
  if (!CostIsAccepted(cost)) return Error{EINVAL, "derive a key at this cost"};
  if (sodium_init() < 0) return Error{0, "start the key derivation library"};

  Entry& entry = entries_.emplace_back();
  std::copy(salt.begin(), salt.end(), entry.salt.begin());
  entry.cost = cost;
  entry.locked = LockBestEffort(entry.key.data(), entry.key.size());
  const int failed = crypto_pwhash(entry.key.data(), entry.key.size(), key_text_.get(), key_length_,
                                   salt.data(), cost.passes, static_cast<std::size_t>(cost.memory_kib) << 10,
                                   crypto_pwhash_ALG_ARGON2ID13);
  // Within the accepted cost, the only failure is running out of memory.
  if (failed != 0) {
    WipeAndUnlock(entry.key.data(), entry.key.size(), entry.locked);
    entries_.pop_back();
    return Error{ENOMEM, "derive a key"};
  }
  ++derivations_;
  return DerivedKey(entry.key);
}

bool KeyDerivation::HoldsKeyText(std::string_view key_text) const {
  if (key_text.size() != key_length_) return false;
  return key_length_ == 0 || sodium_memcmp(key_text.data(), key_text_.get(), key_length_) == 0;
}

std::string_view KeyDerivation::KeyText() const { return std::string_view(key_text_.get(), key_length_); }

}  // namespace quorvant
