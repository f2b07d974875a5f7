#pragma once

// The strong file format: authenticated encryption of a file whose data keeps
// its offsets, with the tag table and trailer after it (layout in
// crypto/strong_trailer.h, geometry and chunks in crypto/strong_chunks.h,
// every byte in docs/strong-format.md).
//
// Keys: the typed key text and a random salt give a master key (Argon2id);
// a subkey of it wraps a random file key (XChaCha20-Poly1305, the trailer's
// clear fields as associated data); the file key gives the chunk key and the
// trailer MAC key. The derivation is a plain function on its own so that a
// run can keep its results; everything after it takes the master key.
//
// What this does not hide: the plaintext's exact length (in the clear
// trailer), the file's name and its times. A wrong key and a trailer rewritten by
// an attacker who also fixed its checksum both show as WrongKey.

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "crypto/strong_chunks.h"
#include "crypto/strong_trailer.h"

namespace quorvant {

enum class StrongKeyFailure {
  CostRefused,  // the cost is outside MinStrongCost..MaxStrongCost: nothing was allocated
  OutOfMemory,  // Argon2id could not have its memory: a smaller cost may still go
  NotSound,     // the file's end is not a Sound trailer (StrongEnd says why)
  WrongKey,     // the wrapped file key does not open: a wrong key, for certain
  TrailerMac,   // the file key opened but the trailer's MAC fails: the trailer was altered
};

// Argon2id (crypto_pwhash, ALG_ARGON2ID13) of `key_text` (1..MaxKeyLength
// printable characters) with `salt` at `cost`: the 32-byte master key.
// Refuses a cost outside the limits before allocating anything.
Result<StrongMasterKey, StrongKeyFailure> DeriveStrongMasterKey(std::string_view key_text,
                                                                std::span<const std::uint8_t, 16> salt,
                                                                StrongCost cost);

// How a caller derives master keys: DeriveStrongMasterKey, or a cache of it.
using StrongDeriveFunction = std::function<Result<StrongMasterKey, StrongKeyFailure>(
    std::string_view key_text, std::span<const std::uint8_t, 16> salt, StrongCost cost)>;

// The random parts of one encryption. Tests give their own.
struct StrongFreshParts {
  StrongSalt salt{};
  StrongNoncePrefix nonce_prefix{};
  StrongWrapNonce wrap_nonce{};
  StrongFileKey file_key;
};
// Fresh parts from libsodium's random generator.
StrongFreshParts DrawStrongFreshParts();

// A new file's trailer and its chunk cipher. `master_key` must come from the
// key text with `parts.salt` at `cost`.
struct StrongSealed {
  StrongTrailerBytes trailer;
  StrongChunkCipher cipher;
};
StrongSealed SealStrongFile(const StrongMasterKey& master_key, const StrongFreshParts& parts, StrongCost cost,
                            std::uint64_t plain_length);

// Opens a Sound trailer with the master key (derived from the key text with
// the trailer's salt and cost): unwraps the file key (WrongKey when it does
// not open), then checks the trailer MAC (TrailerMac).
Result<StrongChunkCipher, StrongKeyFailure> OpenStrongTrailer(const StrongMasterKey& master_key,
                                                              const StrongTrailerBytes& trailer);

// The whole step from a classified end and the key text: refuses anything but
// a Sound end (NotSound) before deriving, then derives through `derive` and
// opens the trailer.
Result<StrongChunkCipher, StrongKeyFailure> OpenStrongEnd(const StrongEnd& end, std::string_view key_text,
                                                          const StrongDeriveFunction& derive);

// One-shot helpers over a whole file image in memory (data + tags + trailer).
std::vector<std::uint8_t> EncryptStrongImage(const StrongMasterKey& master_key, const StrongFreshParts& parts,
                                             StrongCost cost, std::span<const std::uint8_t> plaintext);

struct StrongDecrypted {
  std::vector<std::uint8_t> plaintext;        // damaged chunks keep their ciphertext
  std::vector<std::uint64_t> damaged_chunks;  // empty: every chunk is sound
};
// Fails with NotSound when the image's end is not a Sound trailer.
Result<StrongDecrypted, StrongKeyFailure> DecryptStrongImage(const StrongMasterKey& master_key,
                                                             std::span<const std::uint8_t> image);

}  // namespace quorvant
