#pragma once

// A slow key check kept beside an encrypted file, outside the file format: in
// a user extended attribute of the file, and in a run's journal. It tells a
// right key from a wrong one before any byte changes.
//
// The check is Argon2id (libsodium crypto_pwhash) over the key text, with a
// salt that binds a fresh random salt, the file's name suffix and its length.
// It is deliberately memory-hard and about as slow as a user can bear once
// per run, so that guessing keys against the check costs far more than
// guessing them against the cipher itself (a guess there costs one key set-up
// and one block). It does not protect the file against an attacker: the
// attribute is not secret and anyone who can write the file can replace it.
// It only stops the owner's own mistyped key.
//
// Value layout (KeyCheckLength bytes, all integers little-endian):
//   0      version (KeyCheckVersion)
//   1      Argon2id passes (opslimit)
//   2..3   Argon2id memory in MiB
//   4..19  random salt
//   20..28 the nine-byte name suffix the check was made for
//   29..36 the file length the check was made for
//   37..52 tag: Argon2id(key text, BLAKE2b-128(bytes 0..36))
// The suffix and length are kept in clear so that a check left over from an
// earlier encryption of the same file (copied along, or left by a copy of the
// program that did not remove it) is told apart as Stale instead of refusing
// the right key as a Mismatch.

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "files/file_calls.h"

namespace quorvant {

inline constexpr std::uint8_t KeyCheckVersion = 1;
inline constexpr std::size_t KeyCheckLength = 53;
using KeyCheckValue = std::array<std::uint8_t, KeyCheckLength>;

// The attribute that holds a file's check. Only regular files in the user
// namespace; a file system without user attributes simply has no check.
inline constexpr const char* KeyCheckAttributeName = "user.quorvant.keycheck";

// The cost of one derivation. Both are stored in every value, so they can be
// raised later without a new version; a value whose figures fall outside the
// accepted range is Unreadable (a hostile value must not make us allocate
// gigabytes or spin for minutes).
struct KeyCheckCost {
  std::uint8_t passes;       // Argon2id opslimit
  std::uint16_t memory_mib;  // Argon2id memlimit in MiB
};
// About 90 ms for one derivation on the 2-core reference machine when it is
// not busy: about 40 ms of hashing, the rest spent mapping and zeroing the
// 32 MiB, which libsodium maps afresh (and unmaps) for every derivation.
inline constexpr KeyCheckCost DefaultKeyCheckCost{3, 32};
inline constexpr std::uint8_t MinKeyCheckPasses = 1;
inline constexpr std::uint8_t MaxKeyCheckPasses = 16;
inline constexpr std::uint16_t MinKeyCheckMemoryMib = 8;
inline constexpr std::uint16_t MaxKeyCheckMemoryMib = 256;

enum class KeyCheckVerdict {
  Match,       // the key is the one the check was made with
  Mismatch,    // a wrong key: refuse before anything changes
  Stale,       // a sound check, but made for another suffix or file length: ignore it
  Unreadable,  // not a check this program can read (version, size, cost): ignore it
};

// A check for `key_text` (1..MaxKeyLength bytes) on a file whose encrypted
// name ends with `suffix` and whose length is `file_length`. Draws a fresh
// random salt. Fails only when the memory cannot be had (Error ENOMEM) or the
// library cannot start.
Result<KeyCheckValue> MakeKeyCheck(std::string_view key_text, std::span<const std::uint8_t, 9> suffix,
                                   std::int64_t file_length, KeyCheckCost cost = DefaultKeyCheckCost);

// The same with the salt given: for known-answer tests.
Result<KeyCheckValue> MakeKeyCheckWithSalt(std::string_view key_text, std::span<const std::uint8_t, 9> suffix,
                                           std::int64_t file_length, KeyCheckCost cost,
                                           std::span<const std::uint8_t, 16> salt);

// Judges `key_text` against a stored value of any length. Stale and
// Unreadable are decided from the clear fields alone, without the slow
// derivation. The tags are compared in constant time, and the derived tag is
// wiped.
Result<KeyCheckVerdict> VerifyKeyCheck(std::string_view key_text, std::span<const std::uint8_t, 9> suffix,
                                       std::int64_t file_length, std::span<const std::uint8_t> stored_value);

// The stored check of an open file. Nothing when the file has none or its
// file system keeps no user attributes (ENODATA, ENOTSUP). A value longer
// than any version writes comes back empty, which VerifyKeyCheck calls
// Unreadable. Any other failure (EIO, EACCES, ...) is an Error.
Result<std::optional<std::vector<std::uint8_t>>> ReadKeyCheck(int descriptor, FileCalls& calls);

enum class KeyCheckStore { Stored, NotSupported };

// Stores (or replaces) the check. NotSupported when the file system keeps no
// user attributes: the file then simply has no check. Other failures (ENOSPC,
// EDQUOT, E2BIG, EPERM, EIO) are Errors; the caller may go on without a check,
// as any earlier check left on the file is then Stale for the new suffix.
Result<KeyCheckStore> WriteKeyCheck(int descriptor, const KeyCheckValue& value, FileCalls& calls);

// Removes the check after a decryption. Succeeds when there is none or the
// file system keeps no user attributes.
Status RemoveKeyCheck(int descriptor, FileCalls& calls);

// How a file run makes and judges its key check: Argon2id at `cost`. The
// journal's crash tests run the same file thousands of times and give the
// runs one that remembers its answers.
class KeyChecker {
 public:
  explicit KeyChecker(KeyCheckCost cost = DefaultKeyCheckCost) : cost_(cost) {}
  virtual ~KeyChecker() = default;

  virtual Result<KeyCheckValue> Make(std::string_view key_text, std::span<const std::uint8_t, 9> suffix,
                                     std::int64_t file_length) {
    return MakeKeyCheck(key_text, suffix, file_length, cost_);
  }
  virtual Result<KeyCheckVerdict> Judge(std::string_view key_text, std::span<const std::uint8_t, 9> suffix,
                                        std::int64_t file_length,
                                        std::span<const std::uint8_t> stored_value) {
    return VerifyKeyCheck(key_text, suffix, file_length, stored_value);
  }

 private:
  KeyCheckCost cost_;
};

}  // namespace quorvant
