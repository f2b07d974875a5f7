#pragma once

// The mark a classic decryption leaves on its file, so that it can be taken
// back exactly: encrypting again with the same key and the same suffix gives
// the former file byte for byte, and the mark keeps what that needs, never
// the key. It sits in a user extended attribute of the decrypted file.
//
// It holds the former suffix, the length, the modification time the
// decryption left (a cheap first look at whether the content may still be as
// decrypted), a key check of the key that decrypted it (a version 2 check,
// crypto/key_check.h: a guess against the mark costs one Argon2id, as
// against any check), and a keyed checksum of the content as decrypted. The
// checksum's key is a subkey of that check's derivation, under a context of
// its own, so the mark is no oracle for guessing the content without the key.
// The checksum is Poly1305 (crypto_onetimeauth), a third of BLAKE2b's cost
// here, which a decryption pays over every byte: its key is used for one
// mark only, a subkey whose id is drawn at random for each mark.
//
// Value layout, version 1 (UndoMarkLength bytes, integers little-endian):
//   0        version (1)
//   1..9     the suffix the file's name had
//   10..17   the file's length
//   18..25   its modification time in nanoseconds since the epoch
//   26..33   the checksum key's id, random
//   34..49   Poly1305 over bytes 0..17 and then the content; the key is the
//            subkey crypto_kdf_derive_from_key(the id, context "undomark")
//            of the check's Argon2id(key text, run salt)
//   50..134  the key check (KeyCheckLength bytes)

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include <sodium.h>

#include "base/result.h"
#include "crypto/cipher.h"
#include "crypto/key_check.h"
#include "crypto/key_derivation.h"
#include "files/file_calls.h"

namespace quorvant {

inline constexpr const char* UndoMarkAttributeName = "user.quorvant.undo";
inline constexpr std::uint8_t UndoMarkVersion = 1;
inline constexpr std::size_t UndoMarkLength = 135;
using ContentTag = std::array<std::uint8_t, 16>;

struct UndoMark {
  EncryptedSuffix suffix{};
  std::int64_t length = 0;
  std::int64_t modified_ns = 0;
  std::uint64_t key_id = 0;
  ContentTag content{};
  KeyCheckValue key_check{};
};

std::array<std::uint8_t, UndoMarkLength> EncodeUndoMark(const UndoMark& mark);
// Nothing for a value this program did not write (size, version).
std::optional<UndoMark> DecodeUndoMark(std::span<const std::uint8_t> value);

// The key of a mark's checksum: wiped when it ends.
class UndoMarkKey {
 public:
  UndoMarkKey() = default;
  explicit UndoMarkKey(std::span<const std::uint8_t, 32> bytes);
  ~UndoMarkKey();
  UndoMarkKey(const UndoMarkKey& other) : key_(other.key_) {}
  UndoMarkKey& operator=(const UndoMarkKey& other);
  std::span<const std::uint8_t, 32> Bytes() const { return key_; }

 private:
  std::array<std::uint8_t, 32> key_{};
};

// The checksum's key `key_id` for the version 2 check `check`, from the key
// text `derivations` holds (the check's derivation, once per run salt and
// cost). Error EINVAL for a value that is no version 2 check of an accepted cost.
Result<UndoMarkKey> DeriveUndoMarkKey(KeyDerivation& derivations, std::span<const std::uint8_t> check,
                                      std::uint64_t key_id);
// A fresh key id for a new mark.
std::uint64_t NewUndoMarkKeyId();

// The keyed checksum of a mark of `suffix` over `length` bytes of content,
// given in order as they come. Its state is wiped when it ends.
class ContentHasher {
 public:
  ContentHasher(const UndoMarkKey& key, const EncryptedSuffix& suffix, std::int64_t length);
  ~ContentHasher();
  ContentHasher(const ContentHasher&) = delete;
  ContentHasher& operator=(const ContentHasher&) = delete;
  void Update(std::span<const std::uint8_t> content);
  ContentTag Final();

 private:
  crypto_onetimeauth_state state_;
};

// The keyed checksum of the `length` bytes of `descriptor` under `key`, for
// a mark of `suffix`. A file shorter than `length` is a read error.
Result<ContentTag> TagContent(const UndoMarkKey& key, const EncryptedSuffix& suffix, std::int64_t length,
                              int descriptor, FileCalls& calls);

// Whether two checksums are the same, compared in constant time.
bool SameContent(const ContentTag& one, const ContentTag& other);

// The file's mark; nothing when it has none, its file system keeps no user
// attributes, or the value is not one this program can read.
Result<std::optional<UndoMark>> ReadUndoMark(int descriptor, FileCalls& calls);
// false: the file system keeps no user attributes.
Result<bool> WriteUndoMark(int descriptor, const UndoMark& mark, FileCalls& calls);
// Whether there was one to remove; none is no failure.
Result<bool> RemoveUndoMark(int descriptor, FileCalls& calls);

}  // namespace quorvant
