#include "crypto/key_text.h"

#include <algorithm>

#include "base/wipe.h"

namespace quorvant {

bool KeyText::Insert(std::size_t at, char character) {
  if (length_ == characters_.size()) {
    overflowed_ = true;
    return false;
  }
  at = std::min(at, length_);
  // Shifted within the one buffer: no character goes anywhere else.
  std::copy_backward(characters_.begin() + static_cast<std::ptrdiff_t>(at),
                     characters_.begin() + static_cast<std::ptrdiff_t>(length_),
                     characters_.begin() + static_cast<std::ptrdiff_t>(length_ + 1));
  characters_[at] = character;
  ++length_;
  return true;
}

void KeyText::Erase(std::size_t at) {
  if (at >= length_) return;
  std::copy(characters_.begin() + static_cast<std::ptrdiff_t>(at + 1),
            characters_.begin() + static_cast<std::ptrdiff_t>(length_),
            characters_.begin() + static_cast<std::ptrdiff_t>(at));
  --length_;
  Wipe(&characters_[length_], 1);
}

void KeyText::DropLast() {
  if (length_ > 0) Erase(length_ - 1);
}

void KeyText::TakeFrom(KeyText& other) {
  if (&other == this) return;
  Clear();
  std::copy(other.characters_.begin(), other.characters_.end(), characters_.begin());
  length_ = other.length_;
  overflowed_ = other.overflowed_;
  other.Clear();
}

void KeyText::Clear() {
  Wipe(characters_.data(), characters_.size());
  length_ = 0;
  overflowed_ = false;
}

bool KeyText::IsWiped() const {
  return length_ == 0 && std::all_of(characters_.begin(), characters_.end(), [](char c) { return c == 0; });
}

}  // namespace quorvant
