#pragma once

// The windows of a classic decryption, with the undo mark's checksum of the
// plain text (crypto/undo_mark.h) worked out as the windows turn it, beside
// the cipher, so that the mark costs no second read of the file. The
// checksum holds only while the windows go forward from the file's start,
// each begun once and kept (a run begun afresh, never undone); otherwise it
// is given up, and the run reads the file for it at its end.

#include <cstdint>
#include <optional>
#include <span>

#include "crypto/undo_mark.h"
#include "rewrite/window_engine.h"

namespace quorvant {

class HashingWindows final : public WindowCipher {
 public:
  // `inner` turns the bytes; the checksum is a mark's of `suffix` over
  // `length` bytes, under `key`.
  HashingWindows(WindowCipher& inner, const UndoMarkKey& key, const EncryptedSuffix& suffix, std::int64_t length)
      : inner_(inner), hasher_(key, suffix, length), length_(length) {}

  std::int64_t Alignment() const override { return inner_.Alignment(); }
  ByteRange SideRange(std::int64_t start, std::int64_t end, Direction direction) const override {
    return inner_.SideRange(start, end, direction);
  }
  std::int64_t SideLengthFor(std::int64_t window_length) const override { return inner_.SideLengthFor(window_length); }
  FileStatus Begin(std::int64_t start, std::int64_t end, Direction direction) override {
    // A window begun again, one out of order, or any undo: the plain text
    // no longer comes once and in order.
    if (begun_ || start != hashed_to_ || direction != Direction::Decrypt) whole_ = false;
    begun_ = true;
    return inner_.Begin(start, end, direction);
  }
  void Turn(std::span<std::uint8_t> chunk) override {
    inner_.Turn(chunk);
    if (whole_) hasher_.Update(chunk);
  }
  FileStatus Check() override { return inner_.Check(); }
  void Side(std::span<std::uint8_t> side) override { inner_.Side(side); }
  void Keep(std::int64_t end) override {
    inner_.Keep(end);
    begun_ = false;
    hashed_to_ = end;
  }

  // The checksum, once it has taken every byte, once, in order; nothing
  // otherwise. Asked once.
  std::optional<ContentTag> Checksum() {
    if (!whole_ || begun_ || hashed_to_ != length_) return std::nullopt;
    return hasher_.Final();
  }

 private:
  WindowCipher& inner_;
  ContentHasher hasher_;
  const std::int64_t length_;
  bool whole_ = true;
  bool begun_ = false;
  std::int64_t hashed_to_ = 0;
};

}  // namespace quorvant
