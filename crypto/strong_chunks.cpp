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

// A window of whole chunks cut into parts of whole chunks, for the workers.
// Every part but the last has `part_chunks` chunks of full length, as only
// the file's last chunk is short.
struct WindowParts {
  std::uint64_t plain_length;
  std::uint64_t first_chunk;
  std::uint64_t chunks;
  std::uint64_t part_chunks;

  // As many parts as `threads`, of equal chunk counts but the last.
  static WindowParts For(std::uint64_t plain_length, std::uint64_t first_chunk, std::size_t tags_size,
                         unsigned threads) {
    const std::uint64_t chunks = tags_size / StrongTagLength;
    return {plain_length, first_chunk, chunks, std::max<std::uint64_t>(1, (chunks + threads - 1) / threads)};
  }

  std::size_t Count() const { return static_cast<std::size_t>((chunks + part_chunks - 1) / part_chunks); }
  std::uint64_t First(std::size_t part) const { return first_chunk + part * part_chunks; }
  std::uint64_t Chunks(std::size_t part) const { return std::min(part_chunks, chunks - part * part_chunks); }
  std::size_t DataAt(std::size_t part) const { return part * part_chunks * StrongChunkLength; }
  std::size_t DataLength(std::size_t part) const {
    return StrongChunksRange(plain_length, First(part), Chunks(part)).length;
  }
  std::size_t TagsAt(std::size_t part) const { return part * part_chunks * StrongTagLength; }
  std::size_t TagsLength(std::size_t part) const { return Chunks(part) * StrongTagLength; }
};

// Each part's failed chunks, in the order of the parts.
std::vector<std::uint64_t> Joined(const std::vector<std::vector<std::uint64_t>>& failed_by_part) {
  std::vector<std::uint64_t> failed;
  for (const std::vector<std::uint64_t>& part : failed_by_part)
    failed.insert(failed.end(), part.begin(), part.end());
  return failed;
}

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

std::vector<std::uint64_t> DecryptChunksOn(ChunkWorkers& workers, const StrongChunkCipher& cipher,
                                           std::uint64_t first_chunk, std::span<std::uint8_t> data,
                                           std::span<const std::uint8_t> tags) {
  const WindowParts parts =
      WindowParts::For(cipher.PlainLength(), first_chunk, tags.size(), workers.Helpers() + 1);
  if (parts.Count() <= 1) return cipher.DecryptChunks(first_chunk, data, tags);
  std::vector<std::vector<std::uint64_t>> failed(parts.Count());
  workers.Run(parts.Count(), [&](std::size_t part) {
    failed[part] =
        cipher.DecryptChunks(parts.First(part), data.subspan(parts.DataAt(part), parts.DataLength(part)),
                             tags.subspan(parts.TagsAt(part), parts.TagsLength(part)));
  });
  return Joined(failed);
}

void EncryptChunksOn(ChunkWorkers& workers, const StrongChunkCipher& cipher, std::uint64_t first_chunk,
                     std::span<std::uint8_t> data, std::span<std::uint8_t> tags) {
  const WindowParts parts =
      WindowParts::For(cipher.PlainLength(), first_chunk, tags.size(), workers.Helpers() + 1);
  if (parts.Count() <= 1) return cipher.EncryptChunks(first_chunk, data, tags);
  workers.Run(parts.Count(), [&](std::size_t part) {
    cipher.EncryptChunks(parts.First(part), data.subspan(parts.DataAt(part), parts.DataLength(part)),
                         tags.subspan(parts.TagsAt(part), parts.TagsLength(part)));
  });
}

namespace {

// One piece of the verify pass: its chunks' data and tags as read, and what
// each part of its check found.
struct VerifyPiece {
  std::uint64_t first = 0;
  std::uint64_t count = 0;
  std::vector<std::uint8_t> data;
  std::vector<std::uint8_t> tags;
  std::vector<std::vector<std::uint64_t>> failed;
};

// Parts of a piece: small enough that the caller's thread, back from its
// read, still finds some to take, large enough that handing them out costs
// nothing next to opening them.
constexpr std::uint64_t VerifyPartChunks = 8;

// Reads the piece of `count` chunks from `first`, then asks the progress
// step for each of its chunks.
FileStatus ReadPiece(FileCalls& calls, int descriptor, const StrongChunkCipher& cipher, std::string_view name,
                     const ProgressFunction* progress, std::uint64_t first, VerifyPiece& piece) {
  const std::uint64_t plain_length = cipher.PlainLength();
  piece.first = first;
  piece.count =
      std::min<std::uint64_t>(StrongVerifyPieceLength / StrongChunkLength, cipher.ChunkCount() - first);
  const StrongByteRange range = StrongChunksRange(plain_length, first, piece.count);
  piece.data.resize(range.length);
  piece.tags.resize(piece.count * StrongTagLength);
  if (Status read = ReadExactly(calls, descriptor, piece.data, static_cast<std::int64_t>(range.offset), name);
      !read) {
    return Failure{FileOutcome::ReadError, read.error()};
  }
  if (Status read = ReadExactly(calls, descriptor, piece.tags,
                                static_cast<std::int64_t>(StrongTagOffset(plain_length, first)), name);
      !read) {
    return Failure{FileOutcome::ReadError, read.error()};
  }
  if (progress == nullptr || !*progress) return {};
  for (std::uint64_t chunk = first; chunk < first + piece.count; ++chunk) {
    const auto offset = static_cast<std::int64_t>(chunk * StrongChunkLength);
    if ((*progress)(offset, static_cast<std::int64_t>(plain_length) - 1) == ProgressAnswer::Cancel) {
      return Failure{FileOutcome::Cancelled, Error{0, "verify " + std::string(name)}};
    }
  }
  return {};
}

}  // namespace

// Two pieces take turns: while the workers check one, the caller's thread
// reads the next, then joins the check.
FileResult<std::vector<StrongByteRange>> VerifyStrongChunks(FileCalls& calls, int descriptor,
                                                            const StrongChunkCipher& cipher,
                                                            std::string_view name,
                                                            const StrongVerifySettings& settings) {
  // A file of one part has nothing to share out: no thread is started for it.
  const std::uint64_t parts_in_file = (cipher.ChunkCount() + VerifyPartChunks - 1) / VerifyPartChunks;
  ChunkWorkers workers(parts_in_file > 1 ? settings.helper_threads : 0);
  std::array<VerifyPiece, 2> pieces;
  std::vector<StrongByteRange> damaged;
  QUORVANT_TRY(ReadPiece(calls, descriptor, cipher, name, settings.progress, 0, pieces[0]));
  for (std::size_t turn = 0;; turn ^= 1) {
    VerifyPiece& piece = pieces[turn];
    const WindowParts parts{cipher.PlainLength(), piece.first, piece.count, VerifyPartChunks};
    piece.failed.assign(parts.Count(), {});
    workers.Start(parts.Count(), [&cipher, &piece, parts](std::size_t part) {
      piece.failed[part] = cipher.CheckChunks(
          parts.First(part), std::span(piece.data).subspan(parts.DataAt(part), parts.DataLength(part)),
          std::span(piece.tags).subspan(parts.TagsAt(part), parts.TagsLength(part)));
    });
    const std::uint64_t next = piece.first + piece.count;
    const FileStatus read = next < cipher.ChunkCount() ? ReadPiece(calls, descriptor, cipher, name,
                                                                   settings.progress, next, pieces[turn ^ 1])
                                                       : FileStatus{};
    workers.Finish();
    for (const std::uint64_t chunk : Joined(piece.failed))
      AddDamagedChunk(damaged, cipher.PlainLength(), chunk);
    if (!read) return read.error();
    if (next >= cipher.ChunkCount()) break;
  }
  return damaged;
}

Result<std::vector<StrongByteRange>> VerifyStrongChunks(FileCalls& calls, int descriptor,
                                                        const StrongChunkCipher& cipher,
                                                        std::string_view name) {
  FileResult<std::vector<StrongByteRange>> damaged = VerifyStrongChunks(calls, descriptor, cipher, name, {});
  if (!damaged) return damaged.error().error;
  return std::move(*damaged);
}

}  // namespace quorvant
