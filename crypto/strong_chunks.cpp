#include "crypto/strong_chunks.h"

#include <algorithm>
#include <string>
#include <cstring>

#include "base/verify.h"

namespace quorvant {

namespace {

// crypto_kdf context and subkey id of the chunk key, derived from the file key.
constexpr char ChunkKeyContext[crypto_kdf_CONTEXTBYTES + 1] = "QvsChunk";
constexpr std::uint64_t ChunkKeyId = 1;
constexpr std::uint64_t MaxChunkIndex = (std::uint64_t{1} << 56) - 1;

static_assert(crypto_aead_xchacha20poly1305_ietf_NPUBBYTES == 24);
static_assert(crypto_aead_xchacha20poly1305_ietf_ABYTES == StrongTagLength);
static_assert(crypto_aead_xchacha20poly1305_ietf_KEYBYTES == StrongChunkKey::Length);
static_assert(crypto_kdf_KEYBYTES == StrongFileKey::Length);

}  // namespace

void AddDamagedChunk(std::vector<StrongByteRange>& ranges, std::uint64_t plain_length, std::uint64_t chunk) {
  const StrongByteRange range = StrongChunkRange(plain_length, chunk);
  if (!ranges.empty() && ranges.back().offset + ranges.back().length == range.offset) {
    ranges.back().length += range.length;
    return;
  }
  ranges.push_back(range);
}

std::string DescribeStrongDamage(const std::vector<StrongByteRange>& ranges) {
  // An empty file still has one chunk, of no bytes.
  if (ranges.empty() || ranges.front().length == 0) return "the check of its empty content fails";
  std::string text = "bytes ";
  for (const StrongByteRange& range : ranges) {
    if (&range != &ranges.front()) text += ", ";
    text += std::to_string(range.offset) + ".." + std::to_string(range.offset + range.length - 1);
  }
  return text + " fail their check";
}

StrongByteRange StrongChunkRange(std::uint64_t plain_length, std::uint64_t chunk) {
  return StrongChunksRange(plain_length, chunk, 1);
}

StrongByteRange StrongChunksRange(std::uint64_t plain_length, std::uint64_t first_chunk,
                                  std::uint64_t count) {
  Verify(count >= 1 && first_chunk + count <= StrongChunkCount(plain_length));
  const std::uint64_t start = first_chunk * StrongChunkLength;
  const std::uint64_t stop = std::min(plain_length, (first_chunk + count) * StrongChunkLength);
  return {start, stop - start};
}

std::array<std::uint8_t, 24> StrongChunkNonce(const StrongNoncePrefix& prefix, std::uint64_t chunk,
                                              bool final_chunk) {
  Verify(chunk <= MaxChunkIndex);
  std::array<std::uint8_t, 24> nonce{};
  std::copy(prefix.begin(), prefix.end(), nonce.begin());
  for (int byte = 0; byte < 7; ++byte) nonce[16 + byte] = static_cast<std::uint8_t>(chunk >> (8 * byte));
  nonce[23] = final_chunk ? 1 : 0;
  return nonce;
}

StrongChunkCipher::StrongChunkCipher(const StrongFileKey& file_key, const StrongNoncePrefix& nonce_prefix,
                                     std::uint64_t plain_length)
    : nonce_prefix_(nonce_prefix), plain_length_(plain_length) {
  Verify(plain_length <= MaxStrongPlainLength);
  Verify(sodium_init() >= 0);
  auto key = chunk_key_.MutableBytes();
  crypto_kdf_derive_from_key(key.data(), key.size(), ChunkKeyId, ChunkKeyContext, file_key.Bytes().data());
}

void StrongChunkCipher::CheckWindow(std::uint64_t first_chunk, std::size_t data_size,
                                    std::size_t tags_size) const {
  Verify(tags_size % StrongTagLength == 0 && tags_size > 0);
  const StrongByteRange range = StrongChunksRange(plain_length_, first_chunk, tags_size / StrongTagLength);
  Verify(range.length == data_size);
}

void StrongChunkCipher::EncryptChunks(std::uint64_t first_chunk, std::span<std::uint8_t> data,
                                      std::span<std::uint8_t> tags) const {
  CheckWindow(first_chunk, data.size(), tags.size());
  const std::uint64_t last = ChunkCount() - 1;
  std::size_t at = 0;
  for (std::uint64_t chunk = first_chunk; chunk < first_chunk + tags.size() / StrongTagLength; ++chunk) {
    const std::size_t length = StrongChunkRange(plain_length_, chunk).length;
    const auto nonce = StrongChunkNonce(nonce_prefix_, chunk, chunk == last);
    // The library wants real pointers even for the empty file's empty chunk.
    std::uint8_t none = 0;
    std::uint8_t* bytes = length == 0 ? &none : data.data() + at;
    crypto_aead_xchacha20poly1305_ietf_encrypt_detached(
        bytes, tags.data() + (chunk - first_chunk) * StrongTagLength, nullptr, bytes, length, nullptr, 0,
        nullptr, nonce.data(), chunk_key_.Bytes().data());
    at += length;
  }
}

std::vector<std::uint64_t> StrongChunkCipher::OpenWindow(std::uint64_t first_chunk,
                                                         std::span<const std::uint8_t> data,
                                                         std::span<const std::uint8_t> tags,
                                                         std::uint8_t* plain_out) const {
  CheckWindow(first_chunk, data.size(), tags.size());
  // Each chunk is opened into scratch and copied out only when sound: the
  // library may overwrite its output when a tag fails, and a damaged chunk
  // must keep its bytes so that it can be reported or left as it is.
  std::vector<std::uint8_t> scratch(StrongChunkLength);
  std::vector<std::uint64_t> failed;
  const std::uint64_t last = ChunkCount() - 1;
  std::size_t at = 0;
  for (std::uint64_t chunk = first_chunk; chunk < first_chunk + tags.size() / StrongTagLength; ++chunk) {
    const std::size_t length = StrongChunkRange(plain_length_, chunk).length;
    const auto nonce = StrongChunkNonce(nonce_prefix_, chunk, chunk == last);
    const std::uint8_t* tag = tags.data() + (chunk - first_chunk) * StrongTagLength;
    // The library wants a real pointer even for the empty file's empty chunk.
    const std::uint8_t* bytes = length == 0 ? scratch.data() : data.data() + at;
    if (crypto_aead_xchacha20poly1305_ietf_decrypt_detached(scratch.data(), nullptr, bytes, length, tag,
                                                            nullptr, 0, nonce.data(),
                                                            chunk_key_.Bytes().data()) != 0) {
      failed.push_back(chunk);
    } else if (plain_out != nullptr && length != 0) {
      std::memcpy(plain_out + at, scratch.data(), length);
    }
    at += length;
  }
  sodium_memzero(scratch.data(), scratch.size());
  return failed;
}

std::vector<std::uint64_t> StrongChunkCipher::DecryptChunks(std::uint64_t first_chunk,
                                                            std::span<std::uint8_t> data,
                                                            std::span<const std::uint8_t> tags) const {
  return OpenWindow(first_chunk, data, tags, data.data());
}

std::vector<std::uint64_t> StrongChunkCipher::CheckChunks(std::uint64_t first_chunk,
                                                          std::span<const std::uint8_t> data,
                                                          std::span<const std::uint8_t> tags) const {
  return OpenWindow(first_chunk, data, tags, nullptr);
}

Result<std::vector<StrongByteRange>> VerifyStrongChunks(FileCalls& calls, int descriptor,
                                                        const StrongChunkCipher& cipher,
                                                        std::string_view name) {
  constexpr std::uint64_t ChunksPerPiece = StrongVerifyPieceLength / StrongChunkLength;
  const std::uint64_t plain_length = cipher.PlainLength();
  const std::uint64_t chunk_count = cipher.ChunkCount();
  std::vector<std::uint8_t> data;
  std::vector<std::uint8_t> tags;
  std::vector<StrongByteRange> damaged;
  for (std::uint64_t first = 0; first < chunk_count; first += ChunksPerPiece) {
    const std::uint64_t count = std::min(ChunksPerPiece, chunk_count - first);
    const StrongByteRange range = StrongChunksRange(plain_length, first, count);
    data.resize(range.length);
    tags.resize(count * StrongTagLength);
    QUORVANT_TRY(ReadExactly(calls, descriptor, data, static_cast<std::int64_t>(range.offset), name));
    QUORVANT_TRY(ReadExactly(calls, descriptor, tags,
                             static_cast<std::int64_t>(StrongTagOffset(plain_length, first)), name));
    for (std::uint64_t chunk : cipher.CheckChunks(first, data, tags))
      AddDamagedChunk(damaged, plain_length, chunk);
  }
  return damaged;
}

}  // namespace quorvant
