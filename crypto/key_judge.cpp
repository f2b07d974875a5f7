// Index of this file
// - Statistics and signatures: the bars for "structured", partial key damage,
//   the weak libmagic types, the table of known starts.
// - Formats that prove their own start: crypto/format_proof.cpp.
// - judge_detail: the rules, open for tests.
// - StartJudge: libmagic, and the order in which the rules are tried.

#include "crypto/key_judge.h"

#include <magic.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace quorvant {

namespace {

// How far from uniform a start must be to count as structured, by length.
// Uniform bytes stay within 5 standard deviations but for about one sample in
// a million. The cipher's output under a wrong key is not that uniform in
// short files: for keys shorter than about 70 characters its key set-up fills
// most key words from the name suffix and the byte positions, not from the
// key, so for the first few hundred bytes
// two keys share much of their keystream, and a keystream alone (a plain file
// taken for encrypted) is far from uniform. Short starts must therefore be
// much more structured than the cipher's own bias (measured for 4000 random
// key pairs at each length; ordinary binary files under 1 KiB without a
// signature score 100 and more).
struct StructureBar {
  std::size_t below_length;
  double score;
};
constexpr StructureBar StructureBars[] = {
    {256, 40.0},
    {1024, 20.0},
    {SIZE_MAX, 5.0},
};

double StructureScoreFor(std::size_t length) {
  for (const StructureBar& bar : StructureBars) {
    if (length < bar.below_length) return bar.score;
  }
  return StructureBars[std::size(StructureBars) - 1].score;
}

// Partial damage: the cipher works in windows of 7 bytes and cycles through
// 12 key words, so in every 84 bytes slot s = (offset / 7) mod 12 is made by
// word s, which is updated from word 11 - s. A wrong key whose set-up gives
// some of the same words (a few wrong keys in a hundred: the set-up rotates a
// mostly key-independent array, and a one-character slip by 21 codes keeps the
// rotation) damages a run of words and their mirrors, and decrypts every
// other slot right. Such a start looks right to every other rule.
constexpr int WindowStep = 7;
constexpr int WordCount = 12;
constexpr int LongestDamagedRun = 6;
// Enough bytes for every slot to be judged on its own.
constexpr std::size_t PartialDamageMinLength = 1024;
// A slip of one character starts as a small difference in one word that
// grows with each 84 bytes and has filled the word after about 4 KiB; the
// bytes before that are only partly damaged and are left out.
constexpr std::size_t PartialDamageSkip = 4096;
// Damaged slots look uniform; the others must be clearly structured, and far
// more so than the damaged ones.
constexpr double DamagedSlotScore = 10.0;
constexpr double IntactSlotScore = 15.0;
constexpr double IntactToDamagedRatio = 8.0;

// Types that libmagic names for about one random sample in twenty: weak
// matches on one or two bytes (PGP packet tags, a DOS jump, text in an 8-bit
// code page). A start that is otherwise noise is not believed on their word.
// Real files of these types are either structured (and pass on statistics) or
// carry a signature of the built-in table.
constexpr std::string_view WeakMagicTypes[] = {
    "application/octet-stream",  // OpenPGP keys, old executables and archives
    "application/x-dosexec",     // "DOS executable (COM)"
    "text/plain",                // "Non-ISO extended-ASCII text"
    "text/x-fortran",            // the same, with a leading "c"
    "application/gzip",          // any 1f 8b; real gzip is in the signature table
    "application/zlib",          // two bytes with a checksum: one start in 1100
    "application/x-floppy-image-tc",
    "application/x-cpio",  // byte-swapped binary cpio
    "application/x-arc",
    "application/x-dzip",
    "application/x-compress-ttcomp",
    "application/x-ibm-dsk",
    "application/x-ibm-rom",
    "application/x-tex-tfm",
    "application/x-commodore-basic",
    "application/x-lanalyzer",
    "application/x-object",
    "application/x-coff",
    "application/x-terminfo2",
    "application/marc",
    "application/postscript",  // "%!" alone
    "application/vnd.hp-HPGL",
    "audio/x-mp4a-latm",  // "MPEG-4 LOAS"
    "audio/x-syx",
    "font/x-amiga-font",
    "image/g3fax",
    "image/x-award-bioslogo",
    "image/x-pcx",
};

struct Signature {
  std::size_t offset;
  std::string_view bytes;
};

using namespace std::string_view_literals;

// Starts of the common compressed, encrypted and media formats whose bodies
// look like noise. Each is four or more fixed bytes (three for gzip, JPEG and
// ID3), so noise matches one of them about once in ten million; and with these
// the judge needs no libmagic to pass them.
constexpr Signature KnownSignatures[] = {
    {0, "\x1f\x8b\x08"sv},      // gzip, deflate
    {0, "BZh"sv},               // bzip2 (checked further below)
    {0, "\xfd\x37zXZ\x00"sv},   // xz
    {0, "\x28\xb5\x2f\xfd"sv},  // zstd
    {0, "\x04\x22\x4d\x18"sv},  // lz4 frame
    {0, "LZIP"sv},
    {0, "PK\x03\x04"sv},                        // zip and what is built on it (docx, odt, jar, epub)
    {0, "PK\x05\x06"sv},                        // empty zip
    {0, "PK\x07\x08"sv},                        // spanned zip
    {0, "7z\xbc\xaf\x27\x1c"sv},                // 7-Zip
    {0, "Rar!\x1a\x07"sv},                      // RAR
    {0, "MSCF"sv},                              // cabinet
    {0, "!<arch>\n"sv},                         // ar, Debian packages
    {0, "\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1"sv},  // OLE2 (old Office)
    {0, "\x89PNG\r\n\x1a\n"sv},
    {0, "\xff\xd8\xff"sv},  // JPEG
    {0, "GIF8"sv},
    {0, "RIFF"sv},              // WAV, AVI, WebP
    {4, "ftyp"sv},              // MP4, MOV, M4A, HEIC, AVIF
    {0, "\x1a\x45\xdf\xa3"sv},  // Matroska, WebM
    {0, "OggS"sv},              // Ogg Vorbis, Opus, Theora
    {0, "fLaC"sv},
    {0, "ID3"sv},  // MP3 with a tag
    {0, "FLV\x01"sv},
    {0, "wOFF"sv},
    {0, "wOF2"sv},
    {0, "%PDF-"sv},
    {0, "\x00\x00\x00\x0cJXL \r\n"sv},  // JPEG XL container
    {0, "Salted__"sv},                  // openssl enc
    {0, "LUKS\xba\xbe"sv},
    {0, "\x03\xd9\xa2\x9a"sv},  // KeePass
    {0, "hsqs"sv},              // squashfs
    {0, "PACK"sv},              // git pack
    {0, "\x7f\x45LF"sv},
    {0, "SQLite format 3\x00"sv},
    {257, "ustar"sv},  // tar
    {0, "age-encryption.org/v1\n"sv},
    {0, "\x00\x00\x00\x0cjP  \r\n\x87\n"sv},  // JPEG 2000
    {0, "\xff\x4f\xff\x51"sv},                // JPEG 2000 codestream
};

// The old .lzma header: properties 0x5d, a dictionary of 64 KiB .. 1 GiB
// (whose two low bytes are zero), then the unpacked size or "unknown".
bool IsLzmaStart(std::span<const std::uint8_t> start) {
  if (start.size() < 13 || start[0] != 0x5d || start[1] != 0 || start[2] != 0) return false;
  const std::uint32_t dictionary = start[3] << 16 | start[4] << 24;
  if (dictionary < (1u << 16) || dictionary > (1u << 30)) return false;
  const bool size_unknown =
      std::all_of(start.begin() + 5, start.begin() + 13, [](std::uint8_t b) { return b == 0xff; });
  return size_unknown || (start[11] == 0 && start[12] == 0);
}

// An OpenPGP message as encrypting tools write it: a session key packet
// (tag 3 for a passphrase, tag 1 for a public key, in the old or the new
// packet format), then its length and version, then fields from small sets.
// libmagic knows these too, but among a dozen one-byte PGP rules that noise
// matches every twentieth time.
bool IsPgpMessageStart(std::span<const std::uint8_t> start) {
  if (start.size() < 16) return false;
  const std::uint8_t tag = start[0];
  if (tag == 0x8c || tag == 0xc3) {
    // Passphrase: length, version 4, cipher 1..13, S2K 0/1/3, hash 1..11.
    return start[1] >= 0x04 && start[1] <= 0x2e && start[2] == 4 && start[3] >= 1 && start[3] <= 13 &&
           (start[4] == 0 || start[4] == 1 || start[4] == 3) && start[5] >= 1 && start[5] <= 11;
  }
  // Public key: one- or two-byte length, version 3, an 8-byte key id, then
  // RSA, Elgamal, ECDH or X25519/X448.
  std::size_t version_at = 0;
  if (tag == 0x84) version_at = 2;
  if (tag == 0x85) version_at = 3;
  if (tag == 0xc1) version_at = start[1] >= 192 && start[1] < 224 ? 3 : 2;
  if (version_at == 0 || start[version_at] != 3) return false;
  const std::uint8_t algorithm = start[version_at + 9];
  return algorithm == 1 || algorithm == 2 || algorithm == 16 || algorithm == 18 || algorithm == 25 ||
         algorithm == 26;
}

// A key ring as exported: a public key packet (tag 6), version 4, four bytes
// of creation time, then RSA, DSA, ECDSA, ECDH or EdDSA.
bool IsPgpKeyStart(std::span<const std::uint8_t> start) {
  if (start.size() < 16) return false;
  std::size_t version_at = 0;
  if (start[0] == 0x98) version_at = 2;
  if (start[0] == 0x99) version_at = 3;
  if (start[0] == 0xc6) version_at = start[1] >= 192 && start[1] < 224 ? 3 : 2;
  if (version_at == 0 || start[version_at] != 4) return false;
  const std::uint8_t algorithm = start[version_at + 5];
  return algorithm == 1 || algorithm == 17 || algorithm == 18 || algorithm == 19 || algorithm == 22;
}

bool MatchesAt(std::span<const std::uint8_t> start, const Signature& signature) {
  if (start.size() < signature.offset + signature.bytes.size()) return false;
  return std::memcmp(start.data() + signature.offset, signature.bytes.data(), signature.bytes.size()) == 0;
}

struct Histograms {
  std::array<std::uint32_t, 256> bytes{};
  std::array<std::uint32_t, 256> steps{};  // (byte - previous byte) mod 256
};

Histograms Count(std::span<const std::uint8_t> start) {
  Histograms counts;
  std::uint8_t previous = 0;
  for (std::size_t index = 0; index < start.size(); ++index) {
    const std::uint8_t value = start[index];
    ++counts.bytes[value];
    if (index > 0) ++counts.steps[static_cast<std::uint8_t>(value - previous)];
    previous = value;
  }
  return counts;
}

}  // namespace

namespace judge_detail {

double CollisionScore(std::span<const std::uint32_t, 256> counts, std::uint64_t total) {
  if (total < 2) return 0;
  // For uniform values the indicators "pair i, j is equal" are pairwise
  // independent with p = 1/256, which gives the mean and variance exactly.
  double equal_pairs = 0;
  for (const std::uint32_t count : counts) equal_pairs += 0.5 * count * (count - 1.0);
  const double pairs = 0.5 * static_cast<double>(total) * (static_cast<double>(total) - 1.0);
  const double expected = pairs / 256.0;
  const double deviation = std::sqrt(pairs * 255.0) / 256.0;
  return (equal_pairs - expected) / deviation;
}

bool IsCleanText(std::span<const std::uint8_t> start) {
  std::size_t index = 0;
  while (index < start.size()) {
    const std::uint8_t lead = start[index];
    if (lead >= 0x20 && lead < 0x7f) {
      ++index;
      continue;
    }
    if (lead == '\t' || lead == '\n' || lead == '\r' || lead == '\f') {
      ++index;
      continue;
    }
    // UTF-8: C2..DF one continuation, E0..EF two, F0..F4 three; no overlong
    // forms, surrogates or values past U+10FFFF. A sequence cut by the end of
    // the sample counts, as the sample may end mid-character.
    int continuations = 0;
    std::uint8_t low = 0x80, high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
      continuations = 1;
    } else if (lead >= 0xe0 && lead <= 0xef) {
      continuations = 2;
      if (lead == 0xe0) low = 0xa0;
      if (lead == 0xed) high = 0x9f;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
      continuations = 3;
      if (lead == 0xf0) low = 0x90;
      if (lead == 0xf4) high = 0x8f;
    } else {
      return false;
    }
    for (int offset = 1; offset <= continuations; ++offset) {
      if (index + offset >= start.size()) return true;
      const std::uint8_t next = start[index + offset];
      if (next < (offset == 1 ? low : 0x80) || next > (offset == 1 ? high : 0xbf)) return false;
    }
    index += continuations + 1;
  }
  return true;
}

bool HasPartialKeyDamage(std::span<const std::uint8_t> start) {
  if (start.size() < PartialDamageMinLength) return false;
  std::array<std::array<std::uint32_t, 256>, WordCount> counts{};
  std::array<std::uint64_t, WordCount> totals{};
  for (std::size_t index = std::min(start.size() / 2, PartialDamageSkip); index < start.size(); ++index) {
    const std::size_t slot = (index / WindowStep) % WordCount;
    ++counts[slot][start[index]];
    ++totals[slot];
  }
  std::array<double, WordCount> scores{};
  for (int slot = 0; slot < WordCount; ++slot) scores[slot] = CollisionScore(counts[slot], totals[slot]);

  // Every run of 1..LongestDamagedRun words (cyclic), with its mirrors.
  for (int first = 0; first < WordCount; ++first) {
    for (int run = 1; run <= LongestDamagedRun; ++run) {
      std::array<bool, WordCount> damaged{};
      for (int offset = 0; offset < run; ++offset) {
        const int word = (first + offset) % WordCount;
        damaged[word] = damaged[WordCount - 1 - word] = true;
      }
      double most_damaged = -INFINITY, least_intact = INFINITY;
      for (int slot = 0; slot < WordCount; ++slot) {
        if (damaged[slot]) {
          most_damaged = std::max(most_damaged, scores[slot]);
        } else {
          least_intact = std::min(least_intact, scores[slot]);
        }
      }
      if (least_intact == INFINITY) continue;  // everything damaged: a plain wrong key, judged elsewhere
      if (most_damaged < DamagedSlotScore && least_intact >= IntactSlotScore &&
          least_intact >= IntactToDamagedRatio * std::max(most_damaged, 1.0)) {
        return true;
      }
    }
  }
  return false;
}

bool HasKnownSignature(std::span<const std::uint8_t> start) {
  if (IsPgpMessageStart(start) || IsPgpKeyStart(start) || IsLzmaStart(start)) return true;
  for (const Signature& signature : KnownSignatures) {
    if (!MatchesAt(start, signature)) continue;
    // "BZh" alone is three letters of text; a bzip2 stream goes on with a
    // block size digit and the block magic (or the end-of-stream magic).
    if (signature.bytes == "BZh"sv) {
      if (start.size() < 10 || start[3] < '1' || start[3] > '9') continue;
      const Signature block{4, "\x31\x41\x59\x26\x53\x59"sv}, end{4, "\x17\x72\x45\x38\x50\x90"sv};
      if (!MatchesAt(start, block) && !MatchesAt(start, end)) continue;
    }
    return true;
  }
  return false;
}

bool IsWeakMagicType(std::string_view mime_type) {
  return std::find(std::begin(WeakMagicTypes), std::end(WeakMagicTypes), mime_type) !=
         std::end(WeakMagicTypes);
}

}  // namespace judge_detail

struct StartJudge::MagicHandle {
  magic_t cookie = nullptr;
  ~MagicHandle() {
    if (cookie != nullptr) magic_close(cookie);
  }
};

StartJudge::StartJudge(const char* magic_database) {
  // Only the recognisers that look at the bytes given: never decompress (which
  // may start helper programs), and skip the parsers of ELF details, OLE2
  // documents, JSON and CSV, which add nothing to "is this a real file" and
  // are the most intricate code libmagic would run on our bytes.
  constexpr int Flags = MAGIC_MIME_TYPE | MAGIC_NO_CHECK_COMPRESS | MAGIC_NO_COMPRESS_FORK |
                        MAGIC_NO_CHECK_ELF | MAGIC_NO_CHECK_CDF | MAGIC_NO_CHECK_APPTYPE |
                        MAGIC_NO_CHECK_JSON | MAGIC_NO_CHECK_CSV;
  auto handle = std::make_unique<MagicHandle>();
  handle->cookie = magic_open(Flags);
  if (handle->cookie == nullptr) return;
  if (magic_load(handle->cookie, magic_database) != 0) return;
  magic_ = std::move(handle);
}

StartJudge::~StartJudge() = default;

StartJudgement StartJudge::Judge(std::span<const std::uint8_t> start) {
  using namespace judge_detail;
  if (start.size() > MaxJudgedLength) start = start.first(MaxJudgedLength);
  StartJudgement judgement;
  const Histograms counts = Count(start);
  judgement.byte_score = CollisionScore(counts.bytes, start.size());
  judgement.step_score = CollisionScore(counts.steps, start.size() > 0 ? start.size() - 1 : 0);

  auto decide = [&judgement](StartVerdict verdict, StartReason reason) {
    judgement.verdict = verdict;
    judgement.reason = reason;
    return judgement;
  };
  if (start.size() < MinJudgedLength) return decide(StartVerdict::LooksRight, StartReason::TooShort);
  // Before anything that a mostly right start would pass.
  if (HasPartialKeyDamage(start)) return decide(StartVerdict::LooksLikeNoise, StartReason::PartialKeyDamage);
  // A start that names its format and then fails that format's own checks:
  // a wrong key that shares most key words with the right one.
  if (ProveStart(start) == FormatProof::Broken) {
    return decide(StartVerdict::LooksLikeNoise, StartReason::BrokenFormat);
  }
  if (IsCleanText(start)) return decide(StartVerdict::LooksRight, StartReason::Text);
  const double bar = StructureScoreFor(start.size());
  if (std::abs(judgement.byte_score) > bar || std::abs(judgement.step_score) > bar) {
    return decide(StartVerdict::LooksRight, StartReason::Structured);
  }
  if (HasKnownSignature(start)) return decide(StartVerdict::LooksRight, StartReason::Signature);
  if (magic_ != nullptr) {
    const char* type = magic_buffer(magic_->cookie, start.data(), start.size());
    if (type != nullptr) {
      judgement.magic_type = type;
      if (!IsWeakMagicType(judgement.magic_type)) {
        return decide(StartVerdict::LooksRight, StartReason::Recognised);
      }
    }
  }
  return decide(StartVerdict::LooksLikeNoise, StartReason::Noise);
}

}  // namespace quorvant
