// Index of this file
// - Statistics and signatures: the bars for "structured", partial key damage,
//   the weak libmagic types, the table of known starts.
// - Formats that prove their own start: one zlib inflater, then ZIP, PNG,
//   JPEG and PDF (gzip is zlib's alone).
// - judge_detail: the rules, open for tests.
// - StartJudge: libmagic, and the order in which the rules are tried.

#include "crypto/key_judge.h"

#include <magic.h>
#include <zlib.h>

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

// --- Formats that prove their own start --------------------------------------
//
// Each prover reads the start as far as it goes: a stream, a chunk or a
// segment cut by the end of the start is checked up to the cut and never
// counts against it. A failure is what the format forbids and its writers
// never produce: a CRC-32 or a length that does not match, a stream zlib
// refuses, a reserved value. What decoders forgive in real files (bytes
// before a JPEG marker, restart markers out of turn, a PDF stream's wrong
// /Length) is forgiven here too, or not looked at.

std::uint32_t LoadBigEndian32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) << 24 | static_cast<std::uint32_t>(bytes[at + 1]) << 16 |
         static_cast<std::uint32_t>(bytes[at + 2]) << 8 | bytes[at + 3];
}
std::uint32_t LoadBigEndian16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) << 8 | bytes[at + 1];
}
std::uint32_t LoadLittleEndian32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at + 3]) << 24 | static_cast<std::uint32_t>(bytes[at + 2]) << 16 |
         static_cast<std::uint32_t>(bytes[at + 1]) << 8 | bytes[at];
}
std::uint32_t LoadLittleEndian16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at + 1]) << 8 | bytes[at];
}

std::uint32_t Crc32Of(std::span<const std::uint8_t> bytes) {
  return static_cast<std::uint32_t>(
      crc32(crc32(0, nullptr, 0), bytes.data(), static_cast<uInt>(bytes.size())));
}

enum class StreamEnd { Complete, Cut, Broken };

struct Inflated {
  StreamEnd end = StreamEnd::Cut;
  std::size_t consumed = 0;  // input bytes up to the stream's end
  std::uint64_t length = 0;  // bytes it gave
  std::uint32_t crc = 0;     // their CRC-32
};

// zlib's window bits for the three wrappings of deflate.
constexpr int RawDeflate = -15;
constexpr int ZlibDeflate = 15;
constexpr int GzipDeflate = 16 + 15;
// A stream that gives more than this without failing is not followed further:
// 16 KiB of deflate can give up to 16 MiB.
constexpr std::uint64_t MostInflated = std::uint64_t{32} << 20;

// Inflates `input` as far as it goes. zlib checks the wrapping's own header,
// and, where the stream ends inside `input`, its trailer (Adler-32, or gzip's
// CRC-32 and length).
class Inflater {
 public:
  explicit Inflater(int window_bits) { ready_ = inflateInit2(&stream_, window_bits) == Z_OK; }
  ~Inflater() {
    if (ready_) inflateEnd(&stream_);
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  // Feeds more of the stream; the result so far. A stream that has ended or
  // failed takes no more.
  Inflated Feed(std::span<const std::uint8_t> input) {
    if (!ready_ || result_.end != StreamEnd::Cut) return result_;
    std::array<std::uint8_t, 32768> output;
    stream_.next_in = const_cast<Bytef*>(input.data());
    stream_.avail_in = static_cast<uInt>(input.size());
    while (result_.length < MostInflated) {
      stream_.next_out = output.data();
      stream_.avail_out = static_cast<uInt>(output.size());
      const int status = inflate(&stream_, Z_NO_FLUSH);
      const std::size_t made = output.size() - stream_.avail_out;
      result_.crc = static_cast<std::uint32_t>(crc32(result_.crc, output.data(), static_cast<uInt>(made)));
      result_.length += made;
      if (status == Z_STREAM_END) {
        result_.end = StreamEnd::Complete;
        break;
      }
      if (status == Z_DATA_ERROR) {
        result_.end = StreamEnd::Broken;
        break;
      }
      // Z_BUF_ERROR: all input used; Z_NEED_DICT, Z_MEM_ERROR: nothing more to tell.
      if (status != Z_OK || (stream_.avail_in == 0 && stream_.avail_out != 0)) break;
    }
    consumed_total_ += input.size() - stream_.avail_in;
    result_.consumed = consumed_total_;
    return result_;
  }

 private:
  z_stream stream_{};
  bool ready_ = false;
  std::size_t consumed_total_ = 0;
  Inflated result_{};
};

Inflated InflateStart(std::span<const std::uint8_t> input, int window_bits) {
  Inflater inflater(window_bits);
  return inflater.Feed(input);
}

using judge_detail::FormatProof;

FormatProof FromStream(StreamEnd end) {
  return end == StreamEnd::Broken ? FormatProof::Broken : FormatProof::Holds;
}

bool StartsWith(std::span<const std::uint8_t> start, std::string_view bytes) {
  return start.size() >= bytes.size() && std::memcmp(start.data(), bytes.data(), bytes.size()) == 0;
}

// --- ZIP: each local entry the start holds: its deflate stream, its CRC-32
// and sizes.
constexpr std::uint32_t ZipLocalEntry = 0x04034b50;  // "PK\3\4"
constexpr std::uint32_t ZipDataDescriptor = 0x08074b50;
constexpr std::uint32_t ZipUnknownSize = 0xffffffff;  // the size is in a zip64 field
constexpr std::size_t ZipLocalHeaderLength = 30;
// Flag bits no writer sets: 7..10, 12, 14 and 15 are unused or reserved.
constexpr std::uint32_t ZipUnusedFlags = 0xd780;
// The compression methods in use: stored, the old shrink/reduce/implode,
// deflate, deflate64, the IBM ones, bzip2, LZMA, zstd, MP3, xz, JPEG,
// WavPack, PPMd and AES.
constexpr std::uint16_t ZipMethods[] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 12,
                                        14, 16, 18, 19, 20, 93, 94, 95, 96, 97, 98, 99};

// The local header of an entry says what a real one says: known method, no
// unused flags, a name without control characters.
bool IsZipLocalHeader(std::span<const std::uint8_t> start, std::size_t at) {
  const std::uint32_t flags = LoadLittleEndian16(start, at + 6);
  const std::uint32_t method = LoadLittleEndian16(start, at + 8);
  if ((flags & ZipUnusedFlags) != 0) return false;
  if (std::find(std::begin(ZipMethods), std::end(ZipMethods), method) == std::end(ZipMethods)) return false;
  const std::size_t name_at = at + ZipLocalHeaderLength;
  const std::size_t name_end = std::min(start.size(), name_at + LoadLittleEndian16(start, at + 26));
  return std::none_of(start.begin() + static_cast<std::ptrdiff_t>(std::min(name_at, start.size())),
                      start.begin() + static_cast<std::ptrdiff_t>(name_end),
                      [](std::uint8_t byte) { return byte < 0x20; });
}

// Where the record after a data descriptor's sizes starts: after 8 bytes of
// sizes or 16 (zip64), a "PK" record. 0 when neither is one, SIZE_MAX when
// the start ends too soon to tell.
std::size_t NextZipRecord(std::span<const std::uint8_t> start, std::size_t sizes) {
  for (const std::size_t next : {sizes + 8, sizes + 16}) {
    if (next + 4 > start.size()) return SIZE_MAX;
    if (start[next] == 'P' && start[next + 1] == 'K') return next;
  }
  return 0;
}

FormatProof ProveZipEntries(std::span<const std::uint8_t> start) {
  std::size_t at = 0;
  while (at + ZipLocalHeaderLength <= start.size() && LoadLittleEndian32(start, at) == ZipLocalEntry) {
    const std::uint32_t flags = LoadLittleEndian16(start, at + 6);
    const std::uint32_t method = LoadLittleEndian16(start, at + 8);
    const std::uint32_t crc = LoadLittleEndian32(start, at + 14);
    const std::uint32_t packed_size = LoadLittleEndian32(start, at + 18);
    const std::uint32_t size = LoadLittleEndian32(start, at + 22);
    if (!IsZipLocalHeader(start, at)) return FormatProof::Broken;
    const std::size_t data =
        at + ZipLocalHeaderLength + LoadLittleEndian16(start, at + 26) + LoadLittleEndian16(start, at + 28);
    if (data > start.size()) return FormatProof::Holds;
    // An encrypted entry can be told from noise only with its password.
    if ((flags & 1) != 0) return FormatProof::Holds;
    const bool sizes_after_data = (flags & 8) != 0;
    const std::span<const std::uint8_t> body = start.subspan(data);
    if (method == 8) {
      const Inflated entry = InflateStart(body, RawDeflate);
      if (entry.end != StreamEnd::Complete) return FromStream(entry.end);
      const std::size_t end = data + entry.consumed;
      if (sizes_after_data) {
        // The data descriptor: an optional signature, then the CRC-32.
        std::size_t descriptor = end;
        if (descriptor + 4 <= start.size() && LoadLittleEndian32(start, descriptor) == ZipDataDescriptor) {
          descriptor += 4;
        }
        if (descriptor + 4 <= start.size() && LoadLittleEndian32(start, descriptor) != entry.crc) {
          return FormatProof::Broken;
        }
        // Then two sizes of 4 bytes, or of 8 in zip64, and the next record.
        const std::size_t next = NextZipRecord(start, descriptor + 4);
        if (next == 0) return FormatProof::Broken;
        if (next == SIZE_MAX || LoadLittleEndian32(start, next) != ZipLocalEntry) return FormatProof::Holds;
        at = next;
        continue;
      }
      if (entry.crc != crc) return FormatProof::Broken;
      if (size != ZipUnknownSize && size != entry.length) return FormatProof::Broken;
      if (packed_size != ZipUnknownSize && packed_size != entry.consumed) return FormatProof::Broken;
      at = end;
    } else if (method == 0 && !sizes_after_data && packed_size != ZipUnknownSize) {
      // Stored and not encrypted: the data is the file itself.
      if (size != packed_size) return FormatProof::Broken;
      if (body.size() < packed_size) return FormatProof::Holds;
      if (Crc32Of(body.first(packed_size)) != crc) return FormatProof::Broken;
      at = data + packed_size;
    } else {
      return FormatProof::Holds;  // another method: nothing zlib can tell
    }
  }
  return FormatProof::Holds;
}

// --- PNG: the CRC-32 of every chunk the start holds, IHDR first, and the
// zlib stream of the image data as far as it goes. A chunk's length is read
// before its CRC-32 can be: the chunks whose length the format fixes must
// have it, and no chunk but image data is larger than 16 MiB (libpng
// refuses ancillary chunks of more than 8 MiB).
struct PngChunkLength {
  std::string_view type;
  std::uint32_t least, most;
};
constexpr PngChunkLength PngChunkLengths[] = {
    {"IHDR", 13, 13}, {"IEND", 0, 0},   {"PLTE", 3, 768}, {"gAMA", 4, 4}, {"sRGB", 1, 1},   {"pHYs", 9, 9},
    {"tIME", 7, 7},   {"cHRM", 32, 32}, {"sBIT", 1, 4},   {"bKGD", 1, 6}, {"tRNS", 1, 256}, {"hIST", 2, 512},
    {"acTL", 8, 8},   {"fcTL", 26, 26}, {"oFFs", 9, 9},   {"cICP", 4, 4},
};
constexpr std::uint32_t MostAncillaryLength = 16u << 20;

bool IsPlausiblePngLength(std::string_view type, std::uint32_t length) {
  for (const PngChunkLength& fixed : PngChunkLengths) {
    if (fixed.type == type) return length >= fixed.least && length <= fixed.most;
  }
  return type == "IDAT" || type == "fdAT" || length <= MostAncillaryLength;
}

FormatProof ProvePngChunks(std::span<const std::uint8_t> start) {
  constexpr std::size_t SignatureLength = 8;
  std::size_t at = SignatureLength;
  bool first = true;
  bool raw_image_data = false;  // Apple's CgBI files deflate without zlib's wrapping
  std::optional<Inflater> image_data;
  while (at + 8 <= start.size()) {
    const std::uint32_t length = LoadBigEndian32(start, at);
    if (length > 0x7fffffff) return FormatProof::Broken;
    const std::span<const std::uint8_t> type = start.subspan(at + 4, 4);
    const auto is_letter = [](std::uint8_t byte) {
      return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z');
    };
    if (!std::all_of(type.begin(), type.end(), is_letter)) return FormatProof::Broken;
    const std::string_view name(reinterpret_cast<const char*>(type.data()), type.size());
    if (first && name == "CgBI") {
      raw_image_data = true;
    } else if (first && (name != "IHDR" || length != 13)) {
      return FormatProof::Broken;
    }
    if (name != "CgBI") first = false;
    if (!IsPlausiblePngLength(name, length)) return FormatProof::Broken;
    const std::size_t data = at + 8;
    const std::size_t held = std::min<std::size_t>(length, start.size() - data);
    if (name == "IDAT") {
      if (!image_data) image_data.emplace(raw_image_data ? RawDeflate : ZlibDeflate);
      if (image_data->Feed(start.subspan(data, held)).end == StreamEnd::Broken) return FormatProof::Broken;
    }
    if (data + length + 4 > start.size()) return FormatProof::Holds;
    if (Crc32Of(start.subspan(at + 4, 4 + length)) != LoadBigEndian32(start, data + length)) {
      return FormatProof::Broken;
    }
    if (name == "IEND") return FormatProof::Holds;
    at = data + length + 4;
  }
  return FormatProof::Holds;
}

// --- JPEG: the chain of segments and the lengths that libjpeg refuses when
// they do not add up; in entropy-coded data, only the markers that may stand
// there.
FormatProof ProveJpegSegments(std::span<const std::uint8_t> start) {
  std::size_t at = 2;  // after the start-of-image marker
  bool in_scan = false;
  while (at < start.size()) {
    if (in_scan) {
      // 0xff 0x00 is a stuffed 0xff, 0xff 0xd0..0xd7 a restart marker, and
      // 0xff may be repeated before a marker.
      const std::uint8_t* found =
          static_cast<const std::uint8_t*>(std::memchr(start.data() + at, 0xff, start.size() - at));
      if (found == nullptr) return FormatProof::Holds;
      at = static_cast<std::size_t>(found - start.data());
      if (at + 1 >= start.size()) return FormatProof::Holds;
      const std::uint8_t next = start[at + 1];
      if (next == 0x00 || (next >= 0xd0 && next <= 0xd7)) {
        at += 2;
        continue;
      }
      if (next == 0xff) {
        at += 1;
        continue;
      }
      in_scan = false;  // a marker ends the scan
    }
    // Bytes before a marker are skipped, as libjpeg does (with a warning).
    while (at < start.size() && start[at] != 0xff) ++at;
    while (at < start.size() && start[at] == 0xff) ++at;
    if (at >= start.size()) return FormatProof::Holds;
    const std::uint8_t marker = start[at];
    ++at;
    if (marker == 0x00) continue;                    // a stuffed byte among the skipped ones
    if (marker == 0xd8) return FormatProof::Broken;  // a second start of image
    if (marker == 0xd9) return FormatProof::Holds;   // end of image: what follows is not the image's
    if (marker == 0x01 || (marker >= 0xd0 && marker <= 0xd7)) continue;  // no length
    if (marker >= 0x02 && marker <= 0xbf) return FormatProof::Broken;    // reserved
    if (at + 2 > start.size()) return FormatProof::Holds;
    const std::size_t length = LoadBigEndian16(start, at);
    if (length < 2) return FormatProof::Broken;
    // A segment cut by the end of the start is checked as far as it goes:
    // its declared length against what it holds, where that can be told.
    const std::size_t declared = length - 2;
    const std::span<const std::uint8_t> segment =
        start.subspan(at + 2, std::min(declared, start.size() - std::min(start.size(), at + 2)));
    const bool whole = segment.size() == declared;
    if (marker == 0xc4) {
      // Huffman tables: class and number, 16 counts, then that many values.
      std::size_t table = 0;
      while (table < declared && table + 17 <= segment.size()) {
        if ((segment[table] & 0xec) != 0) return FormatProof::Broken;
        std::size_t values = 0;
        for (std::size_t index = 1; index <= 16; ++index) values += segment[table + index];
        if (values > 256) return FormatProof::Broken;
        table += 17 + values;
      }
      if (table > declared || (whole && table != declared)) return FormatProof::Broken;
    } else if (marker == 0xdb) {
      // Quantisation tables: precision and number, then 64 values of 1 or 2 bytes.
      std::size_t table = 0;
      while (table < declared && table < segment.size()) {
        const std::uint8_t precision = segment[table] >> 4, number = segment[table] & 0x0f;
        if (precision > 1 || number > 3) return FormatProof::Broken;
        table += 1 + 64 * (precision + 1u);
      }
      if (table > declared || (whole && table != declared)) return FormatProof::Broken;
    } else if (marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc) {
      // Start of frame: precision, height, width, components, 3 bytes each.
      if (declared < 6) return FormatProof::Broken;
      if (segment.size() >= 6) {
        const std::size_t components = segment[5];
        if (components == 0 || declared != 6 + 3 * components) return FormatProof::Broken;
        if (LoadBigEndian16(segment, 3) == 0) return FormatProof::Broken;  // no width
      }
    } else if (marker == 0xda) {
      // Start of scan: 1..4 components, 2 bytes each, and 3 more bytes.
      if (declared < 6) return FormatProof::Broken;
      if (!segment.empty()) {
        const std::size_t components = segment[0];
        if (components == 0 || components > 4 || declared != 4 + 2 * components) return FormatProof::Broken;
      }
      in_scan = true;
    } else if (marker == 0xdd) {
      if (declared != 2) return FormatProof::Broken;  // restart interval
    } else if (marker == 0xe0 && segment.size() >= 8 && StartsWith(segment, "JFIF"sv)) {
      // The JFIF header: its name ends in a zero byte, version 1 (or 2), units 0..2.
      if (segment[4] != 0 || segment[5] < 1 || segment[5] > 2 || segment[7] > 2) return FormatProof::Broken;
    }
    if (!whole) return FormatProof::Holds;
    // Others (application data, comments, JPEG-LS and extensions) are read
    // by their length alone.
    at += length;
  }
  return FormatProof::Holds;
}

// --- PDF: the header, then the objects up to the first stream as PDF syntax
// (no control characters outside strings and comments, hex strings of hex
// digits), and a cross-reference stream's zlib data, which is never
// encrypted. Other streams may be encrypted, and are not decoded.
bool IsPdfWhitespace(std::uint8_t byte) {
  return byte == 0 || byte == '\t' || byte == '\n' || byte == '\f' || byte == '\r' || byte == ' ';
}
bool IsPdfDelimiter(std::uint8_t byte) {
  return std::string_view("()<>[]{}/%").find(static_cast<char>(byte)) != std::string_view::npos;
}
bool IsHexDigit(std::uint8_t byte) {
  return (byte >= '0' && byte <= '9') || (byte >= 'a' && byte <= 'f') || (byte >= 'A' && byte <= 'F');
}

// Outside streams, a PDF file's body holds names, numbers and a handful of
// keywords; any other word is not PDF.
constexpr std::string_view PdfKeywords[] = {"obj",  "endobj", "stream",  "endstream", "R", "true", "false",
                                            "null", "xref",   "trailer", "startxref", "n", "f"};

bool IsPdfToken(std::string_view token) {
  if (token.front() == '/') return true;  // a name: any bytes, some writers do not escape them
  if (std::find(std::begin(PdfKeywords), std::end(PdfKeywords), token) != std::end(PdfKeywords)) return true;
  // A number: a sign, digits, at most one point.
  std::size_t at = token.front() == '+' || token.front() == '-' ? 1 : 0;
  bool digits = false, point = false;
  for (; at < token.size(); ++at) {
    if (token[at] >= '0' && token[at] <= '9') {
      digits = true;
    } else if (token[at] == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  return digits;
}

FormatProof ProvePdfObjects(std::span<const std::uint8_t> start) {
  constexpr std::size_t VersionAt = 5;  // after "%PDF-"
  if (start.size() < VersionAt + 3) return FormatProof::Holds;
  const auto is_digit = [](std::uint8_t byte) { return byte >= '0' && byte <= '9'; };
  if (!is_digit(start[VersionAt]) || start[VersionAt + 1] != '.' || !is_digit(start[VersionAt + 2])) {
    return FormatProof::Broken;
  }
  std::size_t at = VersionAt + 3;
  bool cross_reference = false, flate = false;
  std::string token;
  while (at < start.size()) {
    const std::uint8_t byte = start[at];
    if (byte == '%') {  // a comment, any bytes to the end of the line
      while (at < start.size() && start[at] != '\n' && start[at] != '\r') ++at;
      continue;
    }
    if (byte == '(') {  // a literal string: any bytes, balanced brackets, backslash escapes
      int depth = 0;
      for (; at < start.size(); ++at) {
        if (start[at] == '\\') {
          ++at;
        } else if (start[at] == '(') {
          ++depth;
        } else if (start[at] == ')' && --depth == 0) {
          break;
        }
      }
      ++at;
      continue;
    }
    if (byte == '<' && at + 1 < start.size() && start[at + 1] == '<') {  // a dictionary
      at += 2;
      continue;
    }
    if (byte == '<') {  // a hex string
      for (++at; at < start.size() && start[at] != '>'; ++at) {
        if (!IsHexDigit(start[at]) && !IsPdfWhitespace(start[at])) return FormatProof::Broken;
      }
      ++at;
      continue;
    }
    if (IsPdfWhitespace(byte) || (IsPdfDelimiter(byte) && byte != '/')) {
      ++at;
      continue;
    }
    if (byte < 0x20 || byte == 0x7f) return FormatProof::Broken;  // no control characters in syntax
    // A regular token (a name keeps its slash).
    token.clear();
    do {
      if (start[at] < 0x20 || start[at] == 0x7f) return FormatProof::Broken;
      token.push_back(static_cast<char>(start[at]));
      ++at;
    } while (at < start.size() && !IsPdfWhitespace(start[at]) && !IsPdfDelimiter(start[at]));
    if (at == start.size()) return FormatProof::Holds;  // a word cut by the end of the start
    if (!IsPdfToken(token)) return FormatProof::Broken;
    if (token == "/XRef") cross_reference = true;
    if (token == "/FlateDecode") flate = true;
    if (token == "endobj") cross_reference = flate = false;
    if (token == "stream") {
      // The data starts after CR LF or LF.
      if (at < start.size() && start[at] == '\r') ++at;
      if (at < start.size() && start[at] == '\n') ++at;
      if (!cross_reference || !flate) return FormatProof::Holds;
      return FromStream(InflateStart(start.subspan(at), ZlibDeflate).end);
    }
  }
  return FormatProof::Holds;
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

FormatProof ProveZipStart(std::span<const std::uint8_t> start) {
  return StartsWith(start, "PK\x03\x04"sv) ? ProveZipEntries(start) : FormatProof::NotChecked;
}
FormatProof ProveGzipStart(std::span<const std::uint8_t> start) {
  if (!StartsWith(start, "\x1f\x8b\x08"sv)) return FormatProof::NotChecked;
  // zlib checks the header's flags and its CRC-16, the deflate stream, and
  // the trailer's CRC-32 and length.
  return FromStream(InflateStart(start, GzipDeflate).end);
}
FormatProof ProvePngStart(std::span<const std::uint8_t> start) {
  if (!StartsWith(start, "\x89PNG"sv)) return FormatProof::NotChecked;
  // The rest of the signature is fixed too: it catches a file's line ends
  // translated by a transfer in text mode, and here a damaged start.
  if (!StartsWith(start, "\x89PNG\r\n\x1a\n"sv))
    return start.size() < 8 ? FormatProof::Holds : FormatProof::Broken;
  return ProvePngChunks(start);
}
FormatProof ProveJpegStart(std::span<const std::uint8_t> start) {
  return StartsWith(start, "\xff\xd8\xff"sv) ? ProveJpegSegments(start) : FormatProof::NotChecked;
}
FormatProof ProvePdfStart(std::span<const std::uint8_t> start) {
  return StartsWith(start, "%PDF-"sv) ? ProvePdfObjects(start) : FormatProof::NotChecked;
}

FormatProof ProveStart(std::span<const std::uint8_t> start) {
  for (FormatProof (*prove)(std::span<const std::uint8_t>) :
       {ProveZipStart, ProveGzipStart, ProvePngStart, ProveJpegStart, ProvePdfStart}) {
    const FormatProof proof = prove(start);
    if (proof != FormatProof::NotChecked) return proof;
  }
  return FormatProof::NotChecked;
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
