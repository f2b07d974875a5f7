#include "rewrite/classic_windows.h"

#include <algorithm>
#include <iterator>

#include "base/verify.h"

namespace quorvant {

void TransformBlocks(std::span<std::uint8_t> chunk, std::int32_t block_length, Direction direction,
                     KeyWords& words) {
  const auto block = static_cast<std::size_t>(block_length);
  for (std::size_t offset = 0; offset < chunk.size(); offset += block) {
    TransformBlock(chunk.subspan(offset, std::min(block, chunk.size() - offset)), block_length, direction,
                   words);
  }
}

ClassicWindows::ClassicWindows(const KeyWords& start, std::int32_t block_length, std::int64_t spacing)
    : block_length_(block_length), spacing_(spacing) {
  Verify(block_length_ > 0 && spacing_ > 0 && spacing_ % block_length_ == 0);
  checkpoints_[0] = start;
}

// From the nearest checkpoint below, a window apart at a time (each kept), so
// that an undo going down from far up pays for the way up once.
KeyWords ClassicWindows::WordsAt(std::int64_t offset) {
  auto nearest = std::prev(checkpoints_.upper_bound(offset));
  while (offset - nearest->first > spacing_) {
    KeyWords next = nearest->second;
    SkipBlocks(next, block_length_, spacing_ / block_length_);
    nearest = checkpoints_.insert_or_assign(nearest->first + spacing_, std::move(next)).first;
  }
  KeyWords words = nearest->second;
  if (offset > nearest->first) SkipBlocks(words, block_length_, (offset - nearest->first) / block_length_);
  return words;
}

FileStatus ClassicWindows::Begin(std::int64_t start, std::int64_t /*end*/, Direction direction) {
  Verify(start % block_length_ == 0);
  words_ = WordsAt(start);
  checkpoints_.try_emplace(start, words_);
  direction_ = direction;
  return {};
}

// The words move on alike in either direction, so after a whole window they
// stand at its end; the next window forward starts there.
void ClassicWindows::Keep(std::int64_t end) {
  if (end % block_length_ == 0) checkpoints_.try_emplace(end, words_);
}

}  // namespace quorvant
