// The strong format's chunks on several threads: ChunkWorkers itself, and
// the window and verify functions that share chunks out on it, which must
// give exactly what one thread gives.

#include "crypto/chunk_workers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <thread>
#include <vector>

#include "crypto/strong_chunks.h"
#include "tests/support/faulty_calls.h"
#include "tests/support/temp_folder.h"

namespace quorvant {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t Chunk = StrongChunkLength;

// Helper counts to run every check with: none (all on the caller's thread),
// one, and more than the machine may have cores.
constexpr unsigned HelperCounts[] = {0, 1, 3};

TEST(ChunkWorkers, DoesEveryPartOnceBatchAfterBatch) {
  for (const unsigned helpers : HelperCounts) {
    ChunkWorkers workers(helpers);
    std::vector<std::atomic<int>> done(97);
    for (int batch = 0; batch < 50; ++batch) {
      workers.Start(done.size(),
                    [&](std::size_t part) { done[part].fetch_add(1, std::memory_order_relaxed); });
      // The caller's own work while the helpers go on.
      int busy = 0;
      for (int step = 0; step < 1000; ++step) busy += step;
      EXPECT_EQ(busy, 499'500);
      workers.Finish();
      for (const std::atomic<int>& count : done) ASSERT_EQ(count.load(), batch + 1) << helpers << " helpers";
    }
    workers.Run(0, [](std::size_t) { FAIL() << "no part in an empty batch"; });
  }
}

// What the parts write without atomics is the caller's once Finish returns.
TEST(ChunkWorkers, ThePartsWritesAreSeenAfterFinish) {
  ChunkWorkers workers(2);
  std::vector<std::uint64_t> squares(1000);
  workers.Run(squares.size(), [&](std::size_t part) { squares[part] = part * part; });
  for (std::size_t part = 0; part < squares.size(); ++part) ASSERT_EQ(squares[part], part * part);
}

// A cipher of its own for each test, without a key derivation.
StrongChunkCipher TestCipher(std::uint64_t plain_length) {
  Bytes key(StrongFileKey::Length);
  for (std::size_t at = 0; at < key.size(); ++at) key[at] = static_cast<std::uint8_t>(0xC0 + at);
  StrongNoncePrefix prefix{};
  for (std::size_t at = 0; at < prefix.size(); ++at) prefix[at] = static_cast<std::uint8_t>(0x40 + at);
  return StrongChunkCipher(StrongFileKey(std::span<const std::uint8_t, 32>(key.data(), 32)), prefix,
                           plain_length);
}

void FlipBit(Bytes& bytes, std::size_t at) { bytes[at] ^= 0x10; }

// Windows of 1, 2, 17 and 20 chunks, the last chunk short, a few damaged:
// shared out or not, the same bytes, tags and failed chunks.
TEST(StrongChunksOnWorkers, GiveWhatOneThreadGives) {
  constexpr std::uint64_t Length = 19 * Chunk + 777;
  const StrongChunkCipher cipher = TestCipher(Length);
  const Bytes plain = testing::PatternBytes(Length, 7);
  struct Window {
    std::uint64_t first;
    std::uint64_t chunks;
  };
  for (const Window window : {Window{3, 1}, Window{5, 2}, Window{0, 17}, Window{0, 20}}) {
    const StrongByteRange range = StrongChunksRange(Length, window.first, window.chunks);
    const Bytes window_plain(plain.begin() + static_cast<std::ptrdiff_t>(range.offset),
                             plain.begin() + static_cast<std::ptrdiff_t>(range.offset + range.length));
    Bytes expected = window_plain;
    Bytes expected_tags(window.chunks * StrongTagLength);
    cipher.EncryptChunks(window.first, expected, expected_tags);
    Bytes damaged = expected;
    for (std::uint64_t chunk = 0; chunk < window.chunks; chunk += 3) FlipBit(damaged, chunk * Chunk);
    Bytes expected_opened = damaged;
    const std::vector<std::uint64_t> expected_failed =
        cipher.DecryptChunks(window.first, expected_opened, expected_tags);
    ASSERT_FALSE(expected_failed.empty());
    for (const unsigned helpers : HelperCounts) {
      ChunkWorkers workers(helpers);
      Bytes sealed = window_plain;
      Bytes tags(expected_tags.size());
      EncryptChunksOn(workers, cipher, window.first, sealed, tags);
      EXPECT_EQ(sealed, expected);
      EXPECT_EQ(tags, expected_tags);
      Bytes opened = damaged;
      EXPECT_EQ(DecryptChunksOn(workers, cipher, window.first, opened, tags), expected_failed);
      // Sound chunks opened, damaged ones left as they were.
      EXPECT_EQ(opened, expected_opened);
    }
  }
}

// A file of data and tags only: all the verify pass reads.
Bytes SealedImage(const StrongChunkCipher& cipher) {
  Bytes image = testing::PatternBytes(cipher.PlainLength(), 5);
  Bytes tags(cipher.ChunkCount() * StrongTagLength);
  cipher.EncryptChunks(0, image, tags);
  image.insert(image.end(), tags.begin(), tags.end());
  return image;
}

// Damage in every piece, merged across the pieces' and the parts' edges.
TEST(StrongVerifyOnWorkers, FindsTheSameRangesWithAnyHelpers) {
  constexpr std::uint64_t Length = 150 * Chunk + 9;  // three pieces, the last short
  const StrongChunkCipher cipher = TestCipher(Length);
  Bytes image = SealedImage(cipher);
  for (const std::uint64_t chunk : {0, 7, 8, 63, 64, 65, 127, 128, 150}) FlipBit(image, chunk * Chunk + 3);
  testing::TempFolder folder;
  const UniqueFd file = folder.WriteAndOpen("big", image);
  const std::vector<StrongByteRange> expected = {{0, Chunk},
                                                 {7 * Chunk, 2 * Chunk},
                                                 {63 * Chunk, 3 * Chunk},
                                                 {127 * Chunk, 2 * Chunk},
                                                 {150 * Chunk, 9}};
  for (const unsigned helpers : HelperCounts) {
    StrongVerifySettings settings;
    settings.helper_threads = helpers;
    testing::FaultyCalls calls;
    const FileResult<std::vector<StrongByteRange>> damaged =
        VerifyStrongChunks(calls, file.Get(), cipher, "big", settings);
    ASSERT_TRUE(damaged.ok()) << helpers;
    EXPECT_EQ(*damaged, expected) << helpers << " helpers";
    EXPECT_EQ(calls.reads, 6);
  }
}

// A failed read of any piece is the pass's failure, whoever checks the piece
// before it; reads stop there.
TEST(StrongVerifyOnWorkers, AFailedReadStopsThePass) {
  const StrongChunkCipher cipher = TestCipher(150 * Chunk);
  testing::TempFolder folder;
  const UniqueFd file = folder.WriteAndOpen("big", SealedImage(cipher));
  for (const unsigned helpers : HelperCounts) {
    for (const int failing_read : {1, 2, 3, 6}) {
      StrongVerifySettings settings;
      settings.helper_threads = helpers;
      testing::FaultyCalls calls;
      calls.fail_read = failing_read;
      const FileResult<std::vector<StrongByteRange>> damaged =
          VerifyStrongChunks(calls, file.Get(), cipher, "big", settings);
      ASSERT_FALSE(damaged.ok());
      EXPECT_EQ(damaged.error().outcome, FileOutcome::ReadError);
      EXPECT_EQ(damaged.error().error.code, EIO);
      EXPECT_EQ(calls.reads, failing_read);
    }
  }
}

// The progress step is asked for each chunk in order, on the caller's thread,
// and a Cancel ends the pass as Cancelled before the next piece is read.
TEST(StrongVerifyOnWorkers, AsksForEveryChunkAndStopsOnCancel) {
  constexpr std::uint64_t Length = 150 * Chunk + 9;
  const StrongChunkCipher cipher = TestCipher(Length);
  testing::TempFolder folder;
  const UniqueFd file = folder.WriteAndOpen("big", SealedImage(cipher));
  const std::thread::id caller = std::this_thread::get_id();
  for (const unsigned helpers : HelperCounts) {
    std::vector<std::int64_t> asked;
    std::int64_t cancel_at = -1;
    const ProgressFunction progress = [&](std::int64_t offset, std::int64_t last_offset) {
      EXPECT_EQ(std::this_thread::get_id(), caller);
      EXPECT_EQ(last_offset, static_cast<std::int64_t>(Length) - 1);
      asked.push_back(offset);
      return offset == cancel_at ? ProgressAnswer::Cancel : ProgressAnswer::Continue;
    };
    StrongVerifySettings settings;
    settings.helper_threads = helpers;
    settings.progress = &progress;
    testing::FaultyCalls calls;
    ASSERT_TRUE(VerifyStrongChunks(calls, file.Get(), cipher, "big", settings).ok());
    ASSERT_EQ(asked.size(), 151u);
    for (std::size_t chunk = 0; chunk < asked.size(); ++chunk) {
      EXPECT_EQ(asked[chunk], static_cast<std::int64_t>(chunk * Chunk));
    }

    asked.clear();
    cancel_at = 70 * Chunk;
    testing::FaultyCalls cancelled_calls;
    const FileResult<std::vector<StrongByteRange>> cancelled =
        VerifyStrongChunks(cancelled_calls, file.Get(), cipher, "big", settings);
    ASSERT_FALSE(cancelled.ok());
    EXPECT_EQ(cancelled.error().outcome, FileOutcome::Cancelled);
    EXPECT_EQ(asked.back(), cancel_at);
    EXPECT_EQ(cancelled_calls.reads, 4);  // the first two pieces, no third
  }
}

}  // namespace
}  // namespace quorvant
