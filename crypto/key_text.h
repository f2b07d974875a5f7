#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "crypto/cipher.h"

namespace quorvant {

// The key as the user types it, for the window's key field and the
// command-line prompt alike. It lives in a fixed buffer with room for the
// longest key, so it never moves to a new buffer and leaves a copy behind;
// it is never copied, and it wipes the whole buffer when cleared and when it
// ends. It does not protect against the key being swapped to disk or read
// from a core dump.
class KeyText {
 public:
  static constexpr std::size_t Capacity = MaxKeyLength;

  KeyText() = default;
  KeyText(const KeyText&) = delete;
  KeyText& operator=(const KeyText&) = delete;
  ~KeyText() { Clear(); }

  std::string_view View() const { return std::string_view(characters_.data(), length_); }
  std::size_t Size() const { return length_; }
  bool Empty() const { return length_ == 0; }
  // A character was offered while the key was full, and dropped: whatever
  // was typed is longer than any key may be.
  bool Overflowed() const { return overflowed_; }

  // Puts `character` before position `at` (at most Size()). False, and
  // nothing changes but Overflowed(), when the key is full.
  bool Insert(std::size_t at, char character);
  bool Append(char character) { return Insert(length_, character); }
  // Removes the character at `at`, if there is one; the cell freed at the
  // end is wiped.
  void Erase(std::size_t at);
  void DropLast();
  // Moves `other`'s text here; `other` is left wiped.
  void TakeFrom(KeyText& other);
  // Wipes the whole buffer and forgets Overflowed().
  void Clear();
  // Empty, with every cell of the buffer zero.
  bool IsWiped() const;

 private:
  std::array<char, Capacity> characters_{};
  std::size_t length_ = 0;
  bool overflowed_ = false;
};

}  // namespace quorvant
