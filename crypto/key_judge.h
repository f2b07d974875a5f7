#pragma once

// Judges whether the decrypted start of a file looks like a real file or like
// noise, for a file that has no stored key check: a right key yields the
// original bytes, a wrong key yields bytes that are close to uniformly random.
//
// The judge is one-sided on purpose. "LooksRight" is the answer whenever any
// sign of a real file is present (a recognised start, text, statistics that
// uniform bytes would not show), so that an ordinary file decrypted with the
// right key is never questioned. "LooksLikeNoise" is kept for starts that
// show none of these, which includes files that really are noise: a random
// key file, data encrypted by another tool without a known header, a piece of
// a split archive. Such a file can be questioned; the user answers once.
//
// The cipher lets some wrong keys decrypt part of a file right (see
// PartialKeyDamage): two keys of the same length share the key set-up's
// rotation about one time in 21, and then only the key words that hold the
// differing characters differ. Such a start is caught where the damage shows
// its pattern (a file of some kilobytes whose content is not itself noise),
// and where the file's format proves its own first bytes (BrokenFormat):
// ZIP, gzip, PNG, JPEG and PDF starts are decoded as far as the first block
// goes, and a checksum, a deflate stream or a segment length that fails is
// taken for a wrong key. A start cut in the middle of a stream, a chunk or a
// segment is not a failure: only what the block holds in full is checked,
// so the right key on a real file is never questioned for its format.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "crypto/format_proof.h"

namespace quorvant {

enum class StartVerdict { LooksRight, LooksLikeNoise };

// Why the verdict fell as it did, in the order the rules are tried.
enum class StartReason {
  TooShort,          // fewer than MinJudgedLength bytes: nothing can be told
  PartialKeyDamage,  // the cipher's own pattern of a partly right key: some 7-byte
                     // slots of every 84 bytes are noise, the rest is structured
  BrokenFormat,      // a start a format recognises that then fails the format's own
                     // checks (a CRC-32, a deflate stream, a segment length)
  Text,              // printable ASCII or UTF-8 throughout
  Structured,        // byte or step frequencies that uniform bytes do not show
  Signature,         // a start from the built-in table of compressed and media formats
  Recognised,        // libmagic names a type that random bytes do not produce by chance
  Noise,             // none of the above
};

struct StartJudgement {
  StartVerdict verdict = StartVerdict::LooksRight;
  StartReason reason = StartReason::TooShort;
  double byte_score = 0;   // how far the byte frequencies are from uniform, in standard deviations
  double step_score = 0;   // the same for differences of neighbouring bytes
  std::string magic_type;  // libmagic's MIME type, empty when libmagic was not asked or is missing
};

// Shorter starts are never questioned: a wrong key on a file of a few bytes
// cannot be told from a small binary file.
inline constexpr std::size_t MinJudgedLength = 32;
// The most of a file's start that is judged: its first block.
inline constexpr std::size_t MaxJudgedLength = 16384;

// Owns one libmagic handle. libmagic is not safe to use from two threads
// through one handle, so a StartJudge belongs to one thread (the program's
// logic thread, or the command-line tool's only thread); it may be made once
// per run. When the magic database cannot be loaded the judge works from the
// statistics and the built-in signatures alone and never fails.
class StartJudge {
 public:
  // `magic_database`: a path for magic_load, or nullptr for libmagic's
  // default (the MAGIC environment variable, else the system database).
  explicit StartJudge(const char* magic_database = nullptr);
  ~StartJudge();
  StartJudge(const StartJudge&) = delete;
  StartJudge& operator=(const StartJudge&) = delete;

  bool HasMagic() const { return magic_ != nullptr; }

  // `start` is the first min(file length, MaxJudgedLength) bytes as the key
  // decrypts them, made in memory only.
  StartJudgement Judge(std::span<const std::uint8_t> start);

 private:
  struct MagicHandle;
  std::unique_ptr<MagicHandle> magic_;
};

// The pieces of the rule, open for tests.
namespace judge_detail {
// Frequencies of `values` in 256 bins against uniform: (pairs of equal values -
// expected) / standard deviation. Far above 0: repeated values; far below:
// too even to be random.
double CollisionScore(std::span<const std::uint32_t, 256> counts, std::uint64_t total);
bool IsCleanText(std::span<const std::uint8_t> start);
bool HasPartialKeyDamage(std::span<const std::uint8_t> start);
bool HasKnownSignature(std::span<const std::uint8_t> start);
bool IsWeakMagicType(std::string_view mime_type);
}  // namespace judge_detail

}  // namespace quorvant
