#pragma once

// The file cipher: key set-up from the typed key and the name suffix, and the
// in-place block transform.
//
// This is a compatibility format, kept byte for byte so that files move
// between copies of the program. Its strength has never been analysed: it is
// not a vetted cipher. It has no authentication and no key check, so a wrong
// key or a damaged file decrypts "successfully" into unreadable data, and
// nothing tells an attacker's changes from the real content.

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "base/clock.h"
#include "files/blocks.h"

namespace quorvant {

enum class Direction { Encrypt, Decrypt };

// The longest key a user may type.
inline constexpr int MaxKeyLength = 77;
// Key words are reduced modulo 2^62 - 1, so they stay below 2^62.
inline constexpr std::uint64_t WordModulus = 0x3FFF'FFFF'FFFF'FFFFull;

// Every character with code 32..126 that may stand in a file name on any
// system, in code order: all but \ / : * ? " < > |. The salt of a new
// encrypted name is drawn from it.
inline constexpr std::string_view ValidNameChars =
    " !#$%&'()+,-.0123456789;=@ABCDEFGHIJKLMNOPQRSTUVWXYZ[]^_`abcdefghijklmnopqrstuvwxyz{}~";

namespace cipher_detail {
constexpr bool IsForbiddenNameChar(char character) {
  return std::string_view("\\/:*?\"<>|").find(character) != std::string_view::npos;
}
constexpr bool ValidNameCharsAreExact() {
  // Strictly ascending, inside 32..126 and free of the forbidden nine: with 86
  // entries that is exactly the intended set.
  for (std::size_t index = 0; index < ValidNameChars.size(); ++index) {
    const char character = ValidNameChars[index];
    if (character < 32 || character > 126 || IsForbiddenNameChar(character)) return false;
    if (index > 0 && ValidNameChars[index - 1] >= character) return false;
  }
  return true;
}
}  // namespace cipher_detail
static_assert(ValidNameChars.size() == 86);
static_assert(cipher_detail::ValidNameCharsAreExact());

// The nine bytes an encrypted file's name ends with: a space, seven salt
// characters from ValidNameChars, and "[".
using EncryptedSuffix = std::array<std::uint8_t, 9>;

// A fresh suffix whose salt is taken from the time of day, read from `clock`
// once for each salt position. The salt is not secret; it only varies the
// key words between files.
EncryptedSuffix MakeEncryptedSuffix(Clock& clock);

// True for a key of 1..MaxKeyLength characters with codes 32..126.
bool IsValidKeyText(std::string_view key_text);

// The twelve evolving words of one file's keystream. They are key material:
// every copy wipes itself when it ends, and Wipe() clears them early.
class KeyWords {
 public:
  static constexpr int Count = 12;

  KeyWords() = default;
  KeyWords(const KeyWords& other) = default;
  KeyWords& operator=(const KeyWords& other) = default;
  ~KeyWords() { Wipe(); }

  // Words from elsewhere (tests); each must be below WordModulus.
  static KeyWords FromWords(const std::array<std::uint64_t, Count>& words);

  std::span<const std::uint64_t, Count> Words() const { return words_; }
  void Wipe();
  bool IsWiped() const;

 private:
  friend KeyWords BuildKeyWords(std::string_view key_text, std::span<const std::uint8_t, 9> suffix);
  friend void TransformBlock(std::span<std::uint8_t> block, std::int32_t block_length, Direction direction,
                             KeyWords& key_words);
  friend void SkipBlocks(KeyWords& key_words, std::int32_t block_length, std::int64_t block_count);

  std::array<std::uint64_t, Count> words_{};
};

// Key set-up for one file. `key_text` holds 1..MaxKeyLength bytes; the
// expanded key made on the way is wiped before returning. The caller wipes
// `key_text` when it no longer needs it.
KeyWords BuildKeyWords(std::string_view key_text, std::span<const std::uint8_t, 9> suffix);

// Transforms one block in place and advances the key words. Blocks of a file
// must be passed in file order, all with the same `block_length` (B, the
// smaller of the file length and MaxBlockLength); only the last block may be
// shorter than B. Decrypting with the words as they were before encrypting
// restores the block exactly.
void TransformBlock(std::span<std::uint8_t> block, std::int32_t block_length, Direction direction,
                    KeyWords& key_words);

// Advances the key words exactly as TransformBlock would over `block_count`
// blocks of a file whose block length is `block_length`, without any data.
// The words never depend on the data, so this gives the words at any block
// of a file: a resumed run starts in the middle, and an undo goes backwards.
void SkipBlocks(KeyWords& key_words, std::int32_t block_length, std::int64_t block_count);

}  // namespace quorvant
