#pragma once

// The strong format's chunk cipher as what turns a run's windows. A window
// is whole chunks; its side range is its chunks' tags in the tag table, which
// an encryption writes with the data. A decryption opens each chunk against
// the tag the file holds, and a chunk that fails stops the window before
// anything of it is in place. An encryption that takes back a decryption
// (its undo) must give each chunk its stored tag again: a chunk that gives
// another was changed meanwhile, and encrypting it under its old nonce would
// put two plaintexts under one nonce, so the window stops.
//
// Each chunk Turn is given is shared out by whole strong chunks between the
// thread that calls Turn and a helper on each other core (chunks are
// independent): the bytes, tags and failed chunks are those of one thread.

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "crypto/chunk_workers.h"
#include "crypto/strong_chunks.h"
#include "files/file_calls.h"
#include "files/opened_file.h"
#include "rewrite/window_engine.h"

namespace quorvant {

class StrongWindows final : public WindowCipher {
 public:
  // The windows of a run in `run_direction` on `file`, whose tags are read
  // through `calls`; both outlive this. Turn shares its chunks with
  // `helper_threads` threads.
  StrongWindows(StrongChunkCipher cipher, Direction run_direction, const OpenedFile& file, FileCalls& calls,
                unsigned helper_threads = ChunkWorkers::BesideCaller());

  std::int64_t Alignment() const override { return StrongChunkLength; }
  ByteRange SideRange(std::int64_t start, std::int64_t end, Direction direction) const override;
  std::int64_t SideLengthFor(std::int64_t window_length) const override;
  FileStatus Begin(std::int64_t start, std::int64_t end, Direction direction) override;
  void Turn(std::span<std::uint8_t> chunk) override;
  FileStatus Check() override;
  void Side(std::span<std::uint8_t> side) override;
  void Keep(std::int64_t /*end*/) override {}

 private:
  ByteRange TagsOf(std::int64_t start, std::int64_t end) const;
  ChunkWorkers& WorkersFor(std::size_t bytes);

  const StrongChunkCipher cipher_;
  const Direction run_direction_;
  const OpenedFile& file_;
  FileCalls& calls_;
  // Turn's helpers, started by the first Turn given more than one strong
  // chunk (a small file never needs them); a single chunk goes to alone_.
  // Only the thread in Turn touches them.
  const unsigned helper_threads_;
  std::unique_ptr<ChunkWorkers> workers_;
  ChunkWorkers alone_{0};

  // The window begun last, and what Turn found in it.
  Direction direction_ = Direction::Encrypt;
  std::int64_t start_ = 0;
  std::int64_t at_ = 0;                // where the next chunk Turn is given starts
  std::vector<std::uint8_t> stored_;  // the window's tags as the file holds them
  std::vector<std::uint8_t> made_;    // the tags its encryption made
  std::vector<std::uint64_t> failed_;  // its chunks that failed their check
};

}  // namespace quorvant
