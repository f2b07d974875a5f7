#include "rewrite/strong_windows.h"

#include <sodium.h>

#include <algorithm>
#include <string>

#include "base/verify.h"

namespace quorvant {

namespace {

constexpr std::int64_t Chunk = StrongChunkLength;
constexpr std::int64_t Tag = StrongTagLength;

std::int64_t ChunksIn(std::int64_t start, std::int64_t end) { return (end - start + Chunk - 1) / Chunk; }

}  // namespace

StrongWindows::StrongWindows(StrongChunkCipher cipher, Direction run_direction, const OpenedFile& file,
                             FileCalls& calls, unsigned helper_threads)
    : cipher_(std::move(cipher)),
      run_direction_(run_direction),
      file_(file),
      calls_(calls),
      helper_threads_(helper_threads) {}

ChunkWorkers& StrongWindows::WorkersFor(std::size_t bytes) {
  if (bytes <= static_cast<std::size_t>(Chunk)) return alone_;
  if (!workers_) workers_ = std::make_unique<ChunkWorkers>(helper_threads_);
  return *workers_;
}

ByteRange StrongWindows::TagsOf(std::int64_t start, std::int64_t end) const {
  const auto length = static_cast<std::int64_t>(cipher_.PlainLength());
  return {length + start / Chunk * Tag, ChunksIn(start, end) * Tag};
}

ByteRange StrongWindows::SideRange(std::int64_t start, std::int64_t end, Direction direction) const {
  // Only an encryption changes tags; a decryption leaves them to the cut.
  if (direction != Direction::Encrypt) return {};
  return TagsOf(start, end);
}

std::int64_t StrongWindows::SideLengthFor(std::int64_t window_length) const {
  return ChunksIn(0, window_length) * Tag;
}

FileStatus StrongWindows::Begin(std::int64_t start, std::int64_t end, Direction direction) {
  Verify(start % Chunk == 0 && end > start);
  direction_ = direction;
  start_ = start;
  at_ = start;
  failed_.clear();
  const ByteRange tags = TagsOf(start, end);
  made_.assign(static_cast<std::size_t>(tags.length), 0);
  // A fresh encryption has no tags yet to look at.
  if (direction == Direction::Encrypt && run_direction_ == Direction::Encrypt) {
    stored_.clear();
    return {};
  }
  stored_.resize(static_cast<std::size_t>(tags.length));
  if (Status read = ReadExactly(calls_, file_.Descriptor(), stored_, tags.offset, file_.Name()); !read) {
    return Failure{FileOutcome::ReadError, read.error()};
  }
  return {};
}

void StrongWindows::Turn(std::span<std::uint8_t> chunk) {
  const auto first = static_cast<std::uint64_t>(at_ / Chunk);
  const auto tags_at = static_cast<std::size_t>((at_ - start_) / Chunk * Tag);
  const auto tags_length = static_cast<std::size_t>(ChunksIn(0, static_cast<std::int64_t>(chunk.size())) * Tag);
  at_ += static_cast<std::int64_t>(chunk.size());
  if (direction_ == Direction::Decrypt) {
    const std::vector<std::uint64_t> failed = DecryptChunksOn(
        WorkersFor(chunk.size()), cipher_, first, chunk, std::span(stored_).subspan(tags_at, tags_length));
    failed_.insert(failed_.end(), failed.begin(), failed.end());
    return;
  }
  const std::span<std::uint8_t> made = std::span(made_).subspan(tags_at, tags_length);
  EncryptChunksOn(WorkersFor(chunk.size()), cipher_, first, chunk, made);
  if (stored_.empty()) return;
  for (std::size_t tag = 0; tag < made.size(); tag += Tag) {
    if (crypto_verify_16(made.data() + tag, stored_.data() + tags_at + tag) != 0) {
      failed_.push_back(first + tag / Tag);
    }
  }
}

FileStatus StrongWindows::Check() {
  if (failed_.empty()) return {};
  std::vector<StrongByteRange> ranges;
  for (const std::uint64_t chunk : failed_) AddDamagedChunk(ranges, cipher_.PlainLength(), chunk);
  if (direction_ == Direction::Decrypt) return Failure{FileOutcome::Damaged, Error{0, DescribeStrongDamage(ranges)}};
  return Failure{FileOutcome::ChangedElsewhere,
                 Error{0, DescribeStrongDamage(ranges) + " of " + file_.Name() + ": they no longer encrypt to their tags"}};
}

void StrongWindows::Side(std::span<std::uint8_t> side) {
  Verify(side.size() == made_.size());
  std::copy(made_.begin(), made_.end(), side.begin());
}

}  // namespace quorvant
