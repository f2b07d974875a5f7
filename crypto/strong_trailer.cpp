#include "crypto/strong_trailer.h"

#include <sodium.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/verify.h"

namespace quorvant {

namespace {

using namespace strong_trailer;

void StoreLittle(StrongTrailerBytes& bytes, std::size_t offset, std::uint64_t value, int width) {
  for (int byte = 0; byte < width; ++byte)
    bytes[offset + byte] = static_cast<std::uint8_t>(value >> (8 * byte));
}

std::uint64_t LoadLittle(const StrongTrailerBytes& bytes, std::size_t offset, int width) {
  std::uint64_t value = 0;
  for (int byte = 0; byte < width; ++byte) value |= std::uint64_t{bytes[offset + byte]} << (8 * byte);
  return value;
}

template <std::size_t N>
void CopyOut(const StrongTrailerBytes& bytes, std::size_t offset, std::array<std::uint8_t, N>& field) {
  std::memcpy(field.data(), bytes.data() + offset, N);
}

void ComputeChecksum(const StrongTrailerBytes& bytes, std::span<std::uint8_t, ChecksumLength> checksum) {
  Verify(sodium_init() >= 0);
  crypto_generichash(checksum.data(), checksum.size(), bytes.data(), ChecksumOffset, nullptr, 0);
}

bool HasMagicAt(std::span<const std::uint8_t> bytes, std::size_t at) {
  return bytes.size() - at >= StrongMagic.size() &&
         std::equal(StrongMagic.begin(), StrongMagic.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

// Version, limits and geometry of a trailer whose checksum holds, standing
// at `trailer_offset` in a file of `file_length` bytes.
StrongEnd JudgeCheckedTrailer(const StrongTrailerBytes& bytes, std::int64_t trailer_offset,
                              std::int64_t file_length) {
  StrongEnd end;
  end.kind = StrongEndKind::Damaged;
  end.trailer_offset = trailer_offset;
  end.bytes = bytes;
  end.trailer = DecodeStrongTrailer(bytes);
  const StrongTrailer& trailer = end.trailer;
  if (trailer.version != StrongVersion || trailer.chunk_length != StrongChunkLength) {
    end.damage = StrongDamage::Version;
  } else if (!StrongCostIsAccepted(trailer.cost) || trailer.plain_length > MaxStrongPlainLength) {
    end.damage = StrongDamage::Limits;
  } else if (static_cast<std::uint64_t>(trailer_offset) !=
             trailer.plain_length + StrongTagLength * StrongChunkCount(trailer.plain_length)) {
    end.damage = StrongDamage::Geometry;
  } else if (trailer_offset + static_cast<std::int64_t>(StrongTrailerLength) != file_length) {
    end.damage = StrongDamage::Appended;
  } else {
    end.kind = StrongEndKind::Sound;
    end.damage = StrongDamage::None;
  }
  return end;
}

}  // namespace

bool StrongCostIsAccepted(StrongCost cost) {
  return cost.passes >= MinStrongCost.passes && cost.passes <= MaxStrongCost.passes &&
         cost.memory_kib >= MinStrongCost.memory_kib && cost.memory_kib <= MaxStrongCost.memory_kib;
}

std::uint64_t StrongChunkCount(std::uint64_t plain_length) {
  return plain_length == 0 ? 1 : (plain_length - 1) / StrongChunkLength + 1;
}

void EncodeStrongTrailerHead(const StrongTrailer& trailer, StrongTrailerBytes& bytes) {
  std::copy(StrongMagic.begin(), StrongMagic.end(), bytes.begin() + MagicOffset);
  StoreLittle(bytes, VersionOffset, trailer.version, 4);
  StoreLittle(bytes, ChunkLengthOffset, trailer.chunk_length, 4);
  StoreLittle(bytes, PlainLengthOffset, trailer.plain_length, 8);
  StoreLittle(bytes, PassesOffset, trailer.cost.passes, 4);
  StoreLittle(bytes, MemoryOffset, trailer.cost.memory_kib, 4);
  std::copy(trailer.salt.begin(), trailer.salt.end(), bytes.begin() + SaltOffset);
  std::copy(trailer.nonce_prefix.begin(), trailer.nonce_prefix.end(), bytes.begin() + NoncePrefixOffset);
  std::copy(trailer.wrap_nonce.begin(), trailer.wrap_nonce.end(), bytes.begin() + WrapNonceOffset);
}

StrongTrailer DecodeStrongTrailer(const StrongTrailerBytes& bytes) {
  StrongTrailer trailer;
  trailer.version = static_cast<std::uint32_t>(LoadLittle(bytes, VersionOffset, 4));
  trailer.chunk_length = static_cast<std::uint32_t>(LoadLittle(bytes, ChunkLengthOffset, 4));
  trailer.plain_length = LoadLittle(bytes, PlainLengthOffset, 8);
  trailer.cost.passes = static_cast<std::uint32_t>(LoadLittle(bytes, PassesOffset, 4));
  trailer.cost.memory_kib = static_cast<std::uint32_t>(LoadLittle(bytes, MemoryOffset, 4));
  CopyOut(bytes, SaltOffset, trailer.salt);
  CopyOut(bytes, NoncePrefixOffset, trailer.nonce_prefix);
  CopyOut(bytes, WrapNonceOffset, trailer.wrap_nonce);
  return trailer;
}

void SealStrongChecksum(StrongTrailerBytes& bytes) {
  ComputeChecksum(bytes, std::span(bytes).subspan<ChecksumOffset, ChecksumLength>());
}

bool StrongChecksumHolds(const StrongTrailerBytes& bytes) {
  std::array<std::uint8_t, ChecksumLength> checksum{};
  ComputeChecksum(bytes, checksum);
  // Not secret: a plain comparison will do.
  return std::equal(checksum.begin(), checksum.end(), bytes.begin() + ChecksumOffset);
}

StrongEnd ClassifyStrongEnd(std::span<const std::uint8_t> tail, std::int64_t file_length) {
  StrongEnd end;
  if (file_length < static_cast<std::int64_t>(StrongTrailerLength) || tail.size() < StrongTrailerLength) {
    return end;
  }
  StrongTrailerBytes bytes;
  std::copy(tail.end() - StrongTrailerLength, tail.end(), bytes.begin());
  const std::int64_t trailer_offset = file_length - static_cast<std::int64_t>(StrongTrailerLength);
  if (!HasMagicAt(bytes, MagicOffset)) {
    // A damaged magic is told from a plain file's end by the checksum, which
    // random bytes match with a chance of 2^-128.
    StrongTrailerBytes restored = bytes;
    std::copy(StrongMagic.begin(), StrongMagic.end(), restored.begin() + MagicOffset);
    if (!StrongChecksumHolds(restored)) return end;
    end.kind = StrongEndKind::Damaged;
    end.damage = StrongDamage::MagicDamaged;
    end.trailer_offset = trailer_offset;
    end.bytes = bytes;
    return end;
  }
  if (!StrongChecksumHolds(bytes)) {
    end.kind = StrongEndKind::Damaged;
    end.damage = StrongDamage::Checksum;
    end.trailer_offset = trailer_offset;
    end.bytes = bytes;
    return end;
  }
  return JudgeCheckedTrailer(bytes, trailer_offset, file_length);
}

StrongEnd SearchStrongTrailer(std::span<const std::uint8_t> tail, std::int64_t file_length) {
  Verify(static_cast<std::int64_t>(tail.size()) <= file_length);
  const std::int64_t tail_offset = file_length - static_cast<std::int64_t>(tail.size());
  // From the end backwards: the trailer nearest the end is the file's own.
  for (std::size_t at = tail.size(); at-- > 0;) {
    if (!HasMagicAt(tail, at)) continue;
    const std::int64_t trailer_offset = tail_offset + static_cast<std::int64_t>(at);
    if (tail.size() - at < StrongTrailerLength) {
      StrongEnd end;
      end.kind = StrongEndKind::Damaged;
      end.damage = StrongDamage::TrailerCut;
      end.trailer_offset = trailer_offset;
      return end;
    }
    StrongTrailerBytes bytes;
    std::copy_n(tail.begin() + static_cast<std::ptrdiff_t>(at), StrongTrailerLength, bytes.begin());
    if (StrongChecksumHolds(bytes)) return JudgeCheckedTrailer(bytes, trailer_offset, file_length);
  }
  return StrongEnd{};
}

Result<StrongEnd> ReadStrongEnd(FileCalls& calls, int descriptor, std::int64_t file_length,
                                std::string_view name, TrailerSearch search) {
  Verify(file_length >= 0);
  const auto end_length = std::min<std::int64_t>(file_length, StrongTrailerLength);
  std::vector<std::uint8_t> tail(static_cast<std::size_t>(end_length));
  QUORVANT_TRY(ReadExactly(calls, descriptor, tail, file_length - end_length, name));
  StrongEnd end = ClassifyStrongEnd(tail, file_length);
  if (end.kind != StrongEndKind::NoMagic || search == TrailerSearch::EndOnly) return end;
  const auto search_length = std::min<std::int64_t>(file_length, StrongSearchLength);
  tail.resize(static_cast<std::size_t>(search_length));
  QUORVANT_TRY(ReadExactly(calls, descriptor, tail, file_length - search_length, name));
  return SearchStrongTrailer(tail, file_length);
}

std::string_view DescribeStrongEnd(const StrongEnd& end) {
  if (end.kind == StrongEndKind::NoMagic) return "no trailer at its end (cut inside its data, or never encrypted)";
  switch (end.damage) {
    case StrongDamage::MagicDamaged: return "the mark at its trailer's start is damaged";
    case StrongDamage::Checksum: return "its trailer is damaged";
    case StrongDamage::Version: return "its trailer names a version this program does not know";
    case StrongDamage::Limits: return "its trailer holds a key cost or a length outside the limits";
    case StrongDamage::Geometry: return "its length does not fit its trailer (bytes were cut out or put in)";
    case StrongDamage::Appended: return "bytes were appended after its trailer";
    case StrongDamage::TrailerCut: return "it ends inside its trailer";
    case StrongDamage::None: break;
  }
  return "its trailer cannot be used";
}

}  // namespace quorvant
