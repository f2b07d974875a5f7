#pragma once

// The windows of a run that turns a classic file into a strong one: each
// window is decrypted with the classic cipher and encrypted with the strong
// one in memory, so that the plain text never reaches the disk; an undo does
// the reverse, the strong side checking each chunk first.

#include <cstdint>
#include <span>

#include "rewrite/classic_windows.h"
#include "rewrite/strong_windows.h"

namespace quorvant {

class ConvertWindows final : public WindowCipher {
 public:
  // Windows of whole strong chunks, which are whole classic blocks too (a
  // classic file shorter than a chunk is one block and one window).
  ConvertWindows(ClassicWindows& classic, StrongWindows& strong) : classic_(classic), strong_(strong) {}

  std::int64_t Alignment() const override { return strong_.Alignment(); }
  ByteRange SideRange(std::int64_t start, std::int64_t end, Direction direction) const override {
    return strong_.SideRange(start, end, direction);
  }
  std::int64_t SideLengthFor(std::int64_t window_length) const override {
    return strong_.SideLengthFor(window_length);
  }
  // Encrypt: classic ciphertext to strong; Decrypt: back.
  FileStatus Begin(std::int64_t start, std::int64_t end, Direction direction) override {
    direction_ = direction;
    QUORVANT_TRY(strong_.Begin(start, end, direction));
    return classic_.Begin(start, end, direction == Direction::Encrypt ? Direction::Decrypt : Direction::Encrypt);
  }
  void Turn(std::span<std::uint8_t> chunk) override {
    if (direction_ == Direction::Encrypt) {
      classic_.Turn(chunk);
      strong_.Turn(chunk);
    } else {
      strong_.Turn(chunk);
      classic_.Turn(chunk);
    }
  }
  FileStatus Check() override { return strong_.Check(); }
  void Side(std::span<std::uint8_t> side) override { strong_.Side(side); }
  void Keep(std::int64_t end) override {
    strong_.Keep(end);
    classic_.Keep(end);
  }

 private:
  ClassicWindows& classic_;
  StrongWindows& strong_;
  Direction direction_ = Direction::Encrypt;
};

}  // namespace quorvant
