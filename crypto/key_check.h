#pragma once

// A slow key check kept beside an encrypted file, outside the file format: in
// a user extended attribute of the file, and in a run's journal. It tells a
// right key from a wrong one before any byte changes.
//
// The check is slow on purpose: Argon2id (libsodium crypto_pwhash) over the
// key text, memory-hard and about as slow as a user can bear once per run,
// so that guessing keys against the check costs far more than guessing them
// against the cipher itself (a guess there costs one key set-up and one
// block). It does not protect the file against an attacker: the attribute is
// not secret and anyone who can write the file can replace it. It only stops
// the owner's own mistyped key.
//
// Version 2, which this program writes, pays Argon2id once per run: all the
// files one run encrypts share the run salt, so one derivation serves them
// all (RunKeyChecker), and a run that decrypts them derives once too. Each
// check still stands on its own: its run salt and cost are in it, and a guess
// against any one check costs one Argon2id.
//
// Value layout, version 2 (KeyCheckLength bytes, integers little-endian):
//   0      version (KeyCheckVersion, 2)
//   1      Argon2id passes (opslimit)
//   2..3   Argon2id memory in MiB
//   4..19  run salt: the Argon2id salt, shared by the files of one run
//   20..35 file salt: random, this check's own
//   36..44 the nine-byte name suffix the check was made for
//   45..52 the file length the check was made for
//   53..84 tag: keyed BLAKE2b-256 (crypto_generichash) over bytes 0..52;
//          the key is the subkey crypto_kdf_derive_from_key(id 1, context
//          "keycheck") of Argon2id(key text, run salt) (32 bytes)
//
// Version 1 (KeyCheckVersion1Length bytes), still judged, no longer written:
//   0      version (1)
//   1..3   Argon2id passes and memory, as above
//   4..19  random salt
//   20..28 suffix
//   29..36 file length
//   37..52 tag: Argon2id(key text, BLAKE2b-128(bytes 0..36)), 16 bytes
//
// The suffix and length are kept in clear so that a check left over from an
// earlier encryption of the same file (copied along, or left by a copy of the
// program that did not remove it) is told apart as Stale instead of refusing
// the right key as a Mismatch.

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "crypto/key_derivation.h"
#include "crypto/strong_format.h"
#include "files/file_calls.h"

namespace quorvant {

class UndoMarkKey;

inline constexpr std::uint8_t KeyCheckVersion = 2;
inline constexpr std::size_t KeyCheckLength = 85;
using KeyCheckValue = std::array<std::uint8_t, KeyCheckLength>;
inline constexpr std::uint8_t KeyCheckVersion1 = 1;
inline constexpr std::size_t KeyCheckVersion1Length = 53;
using KeyCheckVersion1Value = std::array<std::uint8_t, KeyCheckVersion1Length>;
inline constexpr std::size_t KeyCheckSaltLength = 16;
using KeyCheckSalt = std::span<const std::uint8_t, KeyCheckSaltLength>;

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
// name ends with `suffix` and whose length is `file_length`, with one
// derivation of its own: fresh random run and file salts. Fails only when
// the memory cannot be had (Error ENOMEM) or the library cannot start.
Result<KeyCheckValue> MakeKeyCheck(std::string_view key_text, std::span<const std::uint8_t, 9> suffix,
                                   std::int64_t file_length, KeyCheckCost cost = DefaultKeyCheckCost);

// The same for the key text `derivations` holds, with the given run salt and
// a fresh file salt: every check made with one run salt and cost takes the
// one derivation `derivations` keeps.
Result<KeyCheckValue> MakeKeyCheck(KeyDerivation& derivations, KeyCheckSalt run_salt,
                                   std::span<const std::uint8_t, 9> suffix, std::int64_t file_length,
                                   KeyCheckCost cost = DefaultKeyCheckCost);

// With both salts given: for known-answer tests.
Result<KeyCheckValue> MakeKeyCheckWithSalts(KeyDerivation& derivations, KeyCheckSalt run_salt,
                                            KeyCheckSalt file_salt, std::span<const std::uint8_t, 9> suffix,
                                            std::int64_t file_length, KeyCheckCost cost);

// A version 1 check, as earlier copies of the program wrote it: for tests
// that prove such checks are still judged.
Result<KeyCheckVersion1Value> MakeVersion1KeyCheck(std::string_view key_text,
                                                   std::span<const std::uint8_t, 9> suffix,
                                                   std::int64_t file_length, KeyCheckCost cost,
                                                   KeyCheckSalt salt);

// Judges `key_text` against a stored value of any length and either
// version. Stale and Unreadable are decided from the clear fields alone,
// without the slow derivation, so a hostile cost is refused before any
// memory is taken. The tags are compared in constant time, and the derived
// tag is wiped.
Result<KeyCheckVerdict> VerifyKeyCheck(std::string_view key_text, std::span<const std::uint8_t, 9> suffix,
                                       std::int64_t file_length, std::span<const std::uint8_t> stored_value);

// The same for the key text `derivations` holds: a version 2 check takes
// its derivation from there (once per run salt and cost); a version 1 check
// derives as it always did, once per check.
Result<KeyCheckVerdict> VerifyKeyCheck(KeyDerivation& derivations, std::span<const std::uint8_t, 9> suffix,
                                       std::int64_t file_length, std::span<const std::uint8_t> stored_value);

// Another key from the derivation behind a version 2 check of the key text
// `derivations` holds: the subkey `id` under `context` (eight characters),
// into `subkey`, never the check's own. For marks made beside the check (crypto/undo_mark.h).
// Error EINVAL for a value that is no version 2 check of an accepted cost.
Status DeriveCheckSubkey(KeyDerivation& derivations, std::span<const std::uint8_t> check, std::uint64_t id,
                         const char* context, std::span<std::uint8_t, DerivedKeyLength> subkey);

// The stored check of an open file. Nothing when the file has none or its
// file system keeps no user attributes (ENODATA, ENOTSUP). A value longer
// than any version writes comes back empty, which VerifyKeyCheck calls
// Unreadable. Any other failure (EIO, EACCES, ...) is an Error.
Result<std::optional<std::vector<std::uint8_t>>> ReadKeyCheck(int descriptor, FileCalls& calls);

enum class KeyCheckStore { Stored, NotSupported };

// Stores (or replaces) the check, of either version. NotSupported when the
// file system keeps no user attributes: the file then simply has no check.
// Other failures (ENOSPC, EDQUOT, E2BIG, EPERM, EIO) are Errors; the caller
// may go on without a check, as any earlier check left on the file is then
// Stale for the new suffix.
Result<KeyCheckStore> WriteKeyCheck(int descriptor, std::span<const std::uint8_t> value, FileCalls& calls);

// Removes the check after a decryption. Succeeds when there is none or the
// file system keeps no user attributes.
Status RemoveKeyCheck(int descriptor, FileCalls& calls);

// How a file run makes and judges its key check: Argon2id at `cost`, one
// derivation per check. The journal's crash tests run the same file
// thousands of times and give the runs one that remembers its answers.
class KeyChecker {
 public:
  explicit KeyChecker(KeyCheckCost cost = DefaultKeyCheckCost, StrongCost strong_cost = DefaultStrongCost)
      : cost_(cost), strong_cost_(strong_cost) {}
  virtual ~KeyChecker() = default;

  // The strong format's key derivation (crypto/strong_format.h), which
  // stands in for a key check there: the master key of `key_text`.
  virtual Result<StrongMasterKey, StrongKeyFailure> StrongMaster(std::string_view key_text,
                                                                 std::span<const std::uint8_t, 16> salt,
                                                                 StrongCost cost) {
    return DeriveStrongMasterKey(key_text, salt, cost);
  }
  // The salt and cost of a new strong file: a fresh salt each time here.
  virtual StrongSalt NewStrongSalt();
  StrongCost NewStrongCost() const { return strong_cost_; }

  // A check with fresh salts; and the verdict on one. The derivations of
  // the key text last asked about are kept while this lives, so a check made
  // or judged here and the undo mark's key beside it cost one Argon2id.
  virtual Result<KeyCheckValue> Make(std::string_view key_text, std::span<const std::uint8_t, 9> suffix,
                                     std::int64_t file_length);
  virtual Result<KeyCheckVerdict> Judge(std::string_view key_text, std::span<const std::uint8_t, 9> suffix,
                                        std::int64_t file_length, std::span<const std::uint8_t> stored_value);
  // The key `key_id` of a decryption's undo mark (crypto/undo_mark.h)
  // beside `check`, a version 2 check of `key_text`.
  virtual Result<UndoMarkKey> MarkKey(std::string_view key_text, std::span<const std::uint8_t> check,
                                      std::uint64_t key_id);

 protected:
  KeyCheckCost Cost() const { return cost_; }

 private:
  KeyDerivation& DerivationsOf(std::string_view key_text);

  KeyCheckCost cost_;
  StrongCost strong_cost_;
  std::unique_ptr<KeyDerivation> derivations_;
};

// The key checker of a command that works on many files with one key: one
// run salt, drawn at its first check, and one derivation kept for all the
// checks it makes; version 2 checks it judges take their derivation from
// the same store, so decrypting the files of one run derives once. Called
// with another key text than its own, it derives for that call alone rather
// than answer from the wrong key. The key text and the derivations are wiped
// when it ends. One thread at a time.
class RunKeyChecker : public KeyChecker {
 public:
  explicit RunKeyChecker(std::string_view key_text, KeyCheckCost cost = DefaultKeyCheckCost,
                         StrongCost strong_cost = DefaultStrongCost);

  // One salt for every strong file of the run, so that one derivation
  // serves them all; and the derivations kept, as for the checks.
  Result<StrongMasterKey, StrongKeyFailure> StrongMaster(std::string_view key_text,
                                                         std::span<const std::uint8_t, 16> salt,
                                                         StrongCost cost) override;
  StrongSalt NewStrongSalt() override;

  Result<KeyCheckValue> Make(std::string_view key_text, std::span<const std::uint8_t, 9> suffix,
                             std::int64_t file_length) override;
  Result<KeyCheckVerdict> Judge(std::string_view key_text, std::span<const std::uint8_t, 9> suffix,
                                std::int64_t file_length,
                                std::span<const std::uint8_t> stored_value) override;
  Result<UndoMarkKey> MarkKey(std::string_view key_text, std::span<const std::uint8_t> check,
                              std::uint64_t key_id) override;

  // How many times Argon2id ran through the run's store (not counting the
  // derivations for another key text, nor version 1 checks).
  std::size_t Derivations() const { return derivations_.Derivations(); }

 private:
  KeyDerivation derivations_;
  std::optional<std::array<std::uint8_t, KeyCheckSaltLength>> run_salt_;
  std::optional<StrongSalt> strong_salt_;
};

}  // namespace quorvant
