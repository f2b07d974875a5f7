#pragma once

// The chunks of the strong format: where each chunk and its tag stand, and
// the chunk cipher, XChaCha20-Poly1305 (libsodium, IETF, detached tags).
//
// Every chunk has its own nonce (the file's random prefix, the chunk index
// and a final-chunk flag), so chunks can be encrypted, redone and undone in
// any order and by windows: encrypting the same chunk of the same plaintext
// twice gives the same bytes. A chunk moved to another index, a chunk of
// another file, or a last chunk that is not the file's last fails its tag.
// The tags alone do not notice a tag table and data cut together at a chunk
// boundary: the plaintext length in the authenticated trailer does.

#include <sodium.h>

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/progress.h"
#include "base/result.h"
#include "crypto/chunk_workers.h"
#include "crypto/strong_trailer.h"
#include "files/file_calls.h"
#include "files/file_outcome.h"

namespace quorvant {

// 32 bytes of key material that wipe themselves (sodium_memzero) whenever a
// copy ends. The tag keeps master keys, file keys and chunk keys apart.
template <typename Tag>
class StrongSecret {
 public:
  static constexpr std::size_t Length = 32;

  StrongSecret() = default;
  explicit StrongSecret(std::span<const std::uint8_t, Length> bytes) {
    std::copy(bytes.begin(), bytes.end(), bytes_.begin());
  }
  StrongSecret(const StrongSecret&) = default;
  StrongSecret& operator=(const StrongSecret&) = default;
  ~StrongSecret() { sodium_memzero(bytes_.data(), bytes_.size()); }

  std::span<const std::uint8_t, Length> Bytes() const { return bytes_; }
  std::span<std::uint8_t, Length> MutableBytes() { return bytes_; }

 private:
  std::array<std::uint8_t, Length> bytes_{};
};

using StrongMasterKey = StrongSecret<struct StrongMasterKeyTag>;
using StrongFileKey = StrongSecret<struct StrongFileKeyTag>;
using StrongChunkKey = StrongSecret<struct StrongChunkKeyTag>;

// Geometry of a file whose plaintext is `plain_length` (L) bytes. Chunk i
// covers plaintext bytes [i * 65536, min(L, (i + 1) * 65536)); an empty file
// has one final chunk of 0 bytes. StrongChunkCount is in strong_trailer.h.
struct StrongByteRange {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;

  bool operator==(const StrongByteRange&) const = default;
};
StrongByteRange StrongChunkRange(std::uint64_t plain_length, std::uint64_t chunk);
// The bytes of `count` chunks from `first_chunk` on.
StrongByteRange StrongChunksRange(std::uint64_t plain_length, std::uint64_t first_chunk, std::uint64_t count);
inline std::uint64_t StrongTagTableOffset(std::uint64_t plain_length) { return plain_length; }
inline std::uint64_t StrongTagOffset(std::uint64_t plain_length, std::uint64_t chunk) {
  return plain_length + StrongTagLength * chunk;
}
inline std::uint64_t StrongTrailerOffset(std::uint64_t plain_length) {
  return StrongTagOffset(plain_length, StrongChunkCount(plain_length));
}
inline std::uint64_t StrongEncryptedLength(std::uint64_t plain_length) {
  return StrongTrailerOffset(plain_length) + StrongTrailerLength;
}

// The 24-byte nonce of chunk `chunk`: prefix, index (7 bytes little-endian),
// and 1 on the file's last chunk, else 0.
std::array<std::uint8_t, 24> StrongChunkNonce(const StrongNoncePrefix& prefix, std::uint64_t chunk,
                                              bool final_chunk);

// The chunk cipher of one file: its chunk key (derived from the file key),
// its nonce prefix and its plaintext length. Windows are spans of whole
// chunks starting at `first_chunk`; `data` must hold exactly their bytes
// (StrongChunksRange; only the file's last chunk is short) and `tags` 16
// bytes for each.
class StrongChunkCipher {
 public:
  StrongChunkCipher(const StrongFileKey& file_key, const StrongNoncePrefix& nonce_prefix,
                    std::uint64_t plain_length);

  std::uint64_t PlainLength() const { return plain_length_; }
  std::uint64_t ChunkCount() const { return StrongChunkCount(plain_length_); }

  // Encrypts the window in place and writes its tags.
  void EncryptChunks(std::uint64_t first_chunk, std::span<std::uint8_t> data,
                     std::span<std::uint8_t> tags) const;

  // Decrypts in place every chunk of the window whose tag holds; a chunk whose
  // tag fails keeps its bytes as they were. Returns the failed chunks'
  // indices, in order (empty: the whole window is sound and decrypted).
  std::vector<std::uint64_t> DecryptChunks(std::uint64_t first_chunk, std::span<std::uint8_t> data,
                                           std::span<const std::uint8_t> tags) const;

  // The failed chunks of the window, changing nothing.
  std::vector<std::uint64_t> CheckChunks(std::uint64_t first_chunk, std::span<const std::uint8_t> data,
                                         std::span<const std::uint8_t> tags) const;

 private:
  // Opens every chunk of the window; copies the sound ones' plaintext to the
  // same offsets from `plain_out` on (when given). Returns the failed chunks.
  std::vector<std::uint64_t> OpenWindow(std::uint64_t first_chunk, std::span<const std::uint8_t> data,
                                        std::span<const std::uint8_t> tags, std::uint8_t* plain_out) const;
  void CheckWindow(std::uint64_t first_chunk, std::size_t data_size, std::size_t tags_size) const;

  StrongChunkKey chunk_key_;
  StrongNoncePrefix nonce_prefix_;
  std::uint64_t plain_length_;
};

// DecryptChunks and EncryptChunks with the window's chunks shared out on
// `workers` and the caller's thread: the same bytes, tags and failed chunks.
std::vector<std::uint64_t> DecryptChunksOn(ChunkWorkers& workers, const StrongChunkCipher& cipher,
                                           std::uint64_t first_chunk, std::span<std::uint8_t> data,
                                           std::span<const std::uint8_t> tags);
void EncryptChunksOn(ChunkWorkers& workers, const StrongChunkCipher& cipher, std::uint64_t first_chunk,
                     std::span<std::uint8_t> data, std::span<std::uint8_t> tags);

// Adds failed chunk `chunk` (chunks come in ascending order) to `ranges`,
// merging it with the range before when they touch.
void AddDamagedChunk(std::vector<StrongByteRange>& ranges, std::uint64_t plain_length, std::uint64_t chunk);
// "bytes 0..65535, 131072..140000 fail their check".
std::string DescribeStrongDamage(const std::vector<StrongByteRange>& ranges);

// Read-only check of every chunk of an encrypted file against its tag. Reads
// StrongVerifyPieceLength bytes of data (and their tags) per call, so memory
// stays bounded whatever the file's size. Returns the damaged plaintext byte
// ranges, adjacent chunks merged; empty when every chunk is sound. `name`
// goes into read errors.
//
// The chunks of a piece are checked on `helper_threads` threads (and the
// caller's, once it has read the next piece), which changes nothing in the
// result: the ranges are those one thread finds, and a read that fails is
// reported after the pieces before it are checked, as one thread would.
inline constexpr std::size_t StrongVerifyPieceLength = 4 << 20;
struct StrongVerifySettings {
  // Asked on the caller's thread with each chunk's plaintext offset (and the
  // plaintext length minus one) before the chunk is checked; Cancel stops
  // the pass as Cancelled. Not set: never asked.
  const ProgressFunction* progress = nullptr;
  unsigned helper_threads = ChunkWorkers::WhileCallerReads();
};
FileResult<std::vector<StrongByteRange>> VerifyStrongChunks(FileCalls& calls, int descriptor,
                                                            const StrongChunkCipher& cipher,
                                                            std::string_view name,
                                                            const StrongVerifySettings& settings);
// The same without progress; a failed read is its error.
Result<std::vector<StrongByteRange>> VerifyStrongChunks(FileCalls& calls, int descriptor,
                                                        const StrongChunkCipher& cipher,
                                                        std::string_view name);

}  // namespace quorvant
