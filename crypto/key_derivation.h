#pragma once

// The slow Argon2id derivations of one key text, each worked out once and
// kept for as long as this object lives: a command that encrypts or
// decrypts many files with one key pays Argon2id once per distinct salt and
// cost, not once per file.
//
// The key text and every derived key live in memory of this object's own,
// locked into RAM where the system allows (sodium_mlock, best effort: a
// failure leaves them unlocked) and wiped when the object ends. It does not
// protect against a core dump taken while it lives, nor against swapping
// where the lock was refused. One thread at a time.
//
// libsodium maps and unmaps Argon2id's memory afresh for every derivation;
// its documented interface takes no memory from the caller, so that cost is
// paid once per derivation, which is here once per distinct salt and cost.

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string_view>

#include "base/result.h"

namespace quorvant {

// The cost of one Argon2id derivation (libsodium crypto_pwhash, one lane).
struct Argon2idCost {
  std::uint32_t passes;      // opslimit
  std::uint32_t memory_kib;  // memlimit in KiB

  friend bool operator==(const Argon2idCost&, const Argon2idCost&) = default;
};

inline constexpr std::size_t DerivationSaltLength = 16;
inline constexpr std::size_t DerivedKeyLength = 32;
using DerivedKey = std::span<const std::uint8_t, DerivedKeyLength>;

class KeyDerivation {
 public:
  // Copies `key_text` (any bytes, any length) into memory of its own.
  explicit KeyDerivation(std::string_view key_text);
  ~KeyDerivation();
  KeyDerivation(const KeyDerivation&) = delete;
  KeyDerivation& operator=(const KeyDerivation&) = delete;

  // Argon2id(key text, salt) at `cost`, 32 bytes: worked out on the first
  // call for this salt and cost, then given back from memory. The bytes stay
  // where they are until this object ends. Error EINVAL for a cost outside
  // what libsodium accepts (callers refuse a stored hostile cost before it
  // gets here), ENOMEM when the memory cannot be had.
  Result<DerivedKey> Derive(std::span<const std::uint8_t, DerivationSaltLength> salt, Argon2idCost cost);

  // Whether `key_text` is the text this object derives from. The bytes are
  // compared in constant time; a different length answers at once.
  bool HoldsKeyText(std::string_view key_text) const;
  std::string_view KeyText() const;

  // How many times Argon2id itself ran: what the cache saved is visible
  // without timing anything.
  std::size_t Derivations() const { return derivations_; }

 private:
  struct Entry {
    std::array<std::uint8_t, DerivationSaltLength> salt;
    Argon2idCost cost;
    std::array<std::uint8_t, DerivedKeyLength> key;
    bool locked;
  };

  std::unique_ptr<char[]> key_text_;
  std::size_t key_length_;
  bool key_locked_;
  // A deque never moves its elements as it grows, so no stray copy of a
  // derived key is left behind in freed memory, and a DerivedKey stays valid.
  std::deque<Entry> entries_;
  std::size_t derivations_ = 0;
};

}  // namespace quorvant
