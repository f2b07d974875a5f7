#pragma once

// The classic cipher as what turns a run's windows. Its key words carry from
// block to block, so the words at a window's start are those at the nearest
// point already known, moved on over the blocks between.

#include <cstdint>
#include <map>
#include <span>

#include "crypto/cipher.h"
#include "rewrite/window_engine.h"

namespace quorvant {

// Transforms the blocks of `chunk` one after another (see TransformBlock);
// `words` move on over them.
void TransformBlocks(std::span<std::uint8_t> chunk, std::int32_t block_length, Direction direction,
                     KeyWords& words);

class ClassicWindows final : public WindowCipher {
 public:
  // The words of a file of blocks of `block_length` bytes, from `start`,
  // its words at offset 0 (BuildKeyWords). `spacing` is the longest window:
  // an undo, going backwards, never moves words on over more than that for
  // a window.
  ClassicWindows(const KeyWords& start, std::int32_t block_length, std::int64_t spacing);

  FileStatus Begin(std::int64_t start, std::int64_t end, Direction direction) override;
  void Turn(std::span<std::uint8_t> chunk) override {
    TransformBlocks(chunk, block_length_, direction_, words_);
  }
  void Keep(std::int64_t end) override;

 private:
  KeyWords WordsAt(std::int64_t offset);

  const std::int32_t block_length_;
  const std::int64_t spacing_;
  // Words at some window starts, at least at 0. Key material: wiped as they end.
  std::map<std::int64_t, KeyWords> checkpoints_;
  KeyWords words_;  // of the window begun last, moving on as it is turned
  Direction direction_ = Direction::Encrypt;
};

}  // namespace quorvant
