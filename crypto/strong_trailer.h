#pragma once

// The fixed-size trailer at the end of a file in the strong format, and what
// a file's end says without the key. docs/strong-format.md describes every
// byte; the offsets here are the same.
//
// An encrypted file is [ciphertext, L bytes, at the plaintext's offsets]
// [tag table, 16 bytes per chunk][trailer, StrongTrailerLength bytes].
//
// The checksum at the trailer's end only tells accidental damage from a wrong
// key. It protects nothing against an attacker, who can recompute it: the
// authentication is the wrapped key's tag (whose associated data is every
// field before it) and the trailer MAC (crypto/strong_format.h).

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "base/result.h"
#include "files/file_calls.h"

namespace quorvant {

inline constexpr std::uint32_t StrongVersion = 1;
inline constexpr std::uint32_t StrongChunkLength = 65536;
inline constexpr std::size_t StrongTagLength = 16;
// Not text in any encoding: a byte above 0x7F that cannot start a UTF-8
// character, a NUL, and CR LF and ^Z, which a text-mode copy would change.
inline constexpr std::array<std::uint8_t, 8> StrongMagic{0x9E, 'Q', 'v', 's', 0x0D, 0x0A, 0x00, 0x1A};

// Trailer layout: offsets and lengths, all integers little-endian.
namespace strong_trailer {
inline constexpr std::size_t MagicOffset = 0;         // 8 bytes
inline constexpr std::size_t VersionOffset = 8;       // u32
inline constexpr std::size_t ChunkLengthOffset = 12;  // u32
inline constexpr std::size_t PlainLengthOffset = 16;  // u64
inline constexpr std::size_t PassesOffset = 24;       // u32, Argon2id opslimit
inline constexpr std::size_t MemoryOffset = 28;       // u32, Argon2id memory in KiB
inline constexpr std::size_t SaltOffset = 32;         // 16 bytes
inline constexpr std::size_t NoncePrefixOffset = 48;  // 16 bytes
inline constexpr std::size_t WrapNonceOffset = 64;    // 24 bytes
inline constexpr std::size_t WrappedKeyOffset = 88;   // 32 + 16 bytes
inline constexpr std::size_t MacOffset = 136;         // 32 bytes
inline constexpr std::size_t ChecksumOffset = 168;    // 16 bytes
inline constexpr std::size_t Length = 184;
inline constexpr std::size_t WrappedKeyLength = 48;
inline constexpr std::size_t MacLength = 32;
inline constexpr std::size_t ChecksumLength = 16;
}  // namespace strong_trailer

inline constexpr std::size_t StrongTrailerLength = strong_trailer::Length;
using StrongTrailerBytes = std::array<std::uint8_t, StrongTrailerLength>;
using StrongSalt = std::array<std::uint8_t, 16>;
using StrongNoncePrefix = std::array<std::uint8_t, 16>;
using StrongWrapNonce = std::array<std::uint8_t, 24>;

// The cost of one Argon2id derivation, as stored in the trailer.
struct StrongCost {
  std::uint32_t passes;      // opslimit
  std::uint32_t memory_kib;  // memlimit / 1024

  bool operator==(const StrongCost&) const = default;
};
// libsodium's moderate preset for typed passphrases: 256 MiB, 3 passes.
inline constexpr StrongCost DefaultStrongCost{3, 256 * 1024};
// What a new file's derivation falls back to when the default's memory
// cannot be had: a quarter of it, still far above the floor.
inline constexpr StrongCost FallbackStrongCost{3, 64 * 1024};
// Below the floor a guess costs too little; above the ceiling a hostile
// trailer could make us allocate or spin without end. Both are checked on the
// clear fields, before anything is allocated.
inline constexpr StrongCost MinStrongCost{1, 8 * 1024};
inline constexpr StrongCost MaxStrongCost{16, 1024 * 1024};
// Offsets must fit an off_t with room for the tag table and trailer.
inline constexpr std::uint64_t MaxStrongPlainLength = std::uint64_t{1} << 62;

bool StrongCostIsAccepted(StrongCost cost);

// The clear fields of a trailer.
struct StrongTrailer {
  std::uint32_t version = StrongVersion;
  std::uint32_t chunk_length = StrongChunkLength;
  std::uint64_t plain_length = 0;
  StrongCost cost = DefaultStrongCost;
  StrongSalt salt{};
  StrongNoncePrefix nonce_prefix{};
  StrongWrapNonce wrap_nonce{};
};

// Writes the clear fields (magic .. wrap nonce); leaves the rest alone.
void EncodeStrongTrailerHead(const StrongTrailer& trailer, StrongTrailerBytes& bytes);
StrongTrailer DecodeStrongTrailer(const StrongTrailerBytes& bytes);
// Fills the checksum field from everything before it.
void SealStrongChecksum(StrongTrailerBytes& bytes);
bool StrongChecksumHolds(const StrongTrailerBytes& bytes);

// What a file's end says, without the key.
enum class StrongEndKind {
  NoMagic,  // a plain file as far as its content goes, whatever its name
  Sound,    // a trailer whose checksum, version, limits and geometry hold
  Damaged,  // a strong file's trailer that cannot be used: see StrongDamage
};

enum class StrongDamage {
  None,
  MagicDamaged,  // only the magic is damaged: the checksum holds with it restored
  Checksum,      // the trailer's bytes are damaged
  Version,       // a version (or chunk length) this program does not know
  Limits,        // an Argon2id cost or a plaintext length outside the limits
  Geometry,      // the file length is not L + 16 n + trailer: chunks cut out or put in
  Appended,      // a whole sound trailer, followed by appended bytes
  TrailerCut,    // a trailer's start, but the file ends inside it
};

struct StrongEnd {
  StrongEndKind kind = StrongEndKind::NoMagic;
  StrongDamage damage = StrongDamage::None;
  // Where the trailer starts. Meaningful for every result but NoMagic.
  std::int64_t trailer_offset = 0;
  // The trailer's bytes and its clear fields: whole and checked for Sound,
  // Version, Limits, Geometry and Appended.
  StrongTrailerBytes bytes{};
  StrongTrailer trailer;
};

// The geometry a sound trailer implies.
std::uint64_t StrongChunkCount(std::uint64_t plain_length);

// Judges the last StrongTrailerLength bytes of a file of `file_length`
// bytes (`tail` may be shorter when the file is). Checks, in this order:
// length, magic, checksum, version and chunk length, limits, geometry.
StrongEnd ClassifyStrongEnd(std::span<const std::uint8_t> tail, std::int64_t file_length);

// Looks for a trailer that is not at the very end, in the last
// StrongSearchLength bytes: bytes appended after a sound trailer (Appended)
// or a file that ends inside its trailer (TrailerCut, when at least the magic
// is left). `tail` holds the file's last bytes. A plain file that happens to
// hold a strong file near its end (an archive) may look Appended, so this is
// for files whose name already says strong.
StrongEnd SearchStrongTrailer(std::span<const std::uint8_t> tail, std::int64_t file_length);
inline constexpr std::size_t StrongSearchLength = 65536 + StrongTrailerLength;

// Why an end that is not Sound cannot be used, in plain words.
std::string_view DescribeStrongEnd(const StrongEnd& end);

enum class TrailerSearch { EndOnly, NearEnd };

// Reads the file's end through `calls` and classifies it. With NearEnd, an end
// without the magic is searched further (SearchStrongTrailer). `name` goes
// into read errors.
Result<StrongEnd> ReadStrongEnd(FileCalls& calls, int descriptor, std::int64_t file_length,
                                std::string_view name, TrailerSearch search = TrailerSearch::EndOnly);

}  // namespace quorvant
