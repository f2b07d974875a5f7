// The formats that prove their own start: one zlib inflater, then ZIP, PNG,
// JPEG and PDF (gzip is zlib's alone).

#include "crypto/format_proof.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "crypto/format_bytes.h"

namespace quorvant {

namespace {

using namespace std::string_view_literals;
using namespace judge_detail;

// --- Formats that prove their own start --------------------------------------
//
// Each prover reads the start as far as it goes: a stream, a chunk or a
// segment cut by the end of the start is checked up to the cut and never
// counts against it. A failure is what the format forbids and its writers
// never produce: a CRC-32 or a length that does not match, a stream zlib
// refuses, a reserved value. What decoders forgive in real files (bytes
// before a JPEG marker, restart markers out of turn, a PDF stream's wrong
// /Length) is forgiven here too, or not looked at.

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

// Where the marker that ends a scan's entropy-coded data starts, at or after
// `at`; nullopt when the start ends first. 0xff 0x00 is a stuffed 0xff,
// 0xff 0xd0..0xd7 a restart marker, and 0xff may be repeated before a marker.
std::optional<std::size_t> EndOfScan(std::span<const std::uint8_t> start, std::size_t at) {
  while (at < start.size()) {
    const std::uint8_t* found =
        static_cast<const std::uint8_t*>(std::memchr(start.data() + at, 0xff, start.size() - at));
    if (found == nullptr) return std::nullopt;
    at = static_cast<std::size_t>(found - start.data());
    if (at + 1 >= start.size()) return std::nullopt;
    const std::uint8_t next = start[at + 1];
    if (next == 0x00 || (next >= 0xd0 && next <= 0xd7)) {
      at += 2;
    } else if (next == 0xff) {
      at += 1;
    } else {
      return at;
    }
  }
  return std::nullopt;
}

// Whether tables that end at `end` fit their segment: never past its
// declared length, and filling it exactly when the start holds it whole.
bool TablesFill(std::size_t end, std::size_t declared, std::span<const std::uint8_t> segment) {
  return end <= declared && (segment.size() != declared || end == declared);
}

// Huffman tables: class and number, 16 counts, then that many values.
bool HuffmanTablesFit(std::size_t declared, std::span<const std::uint8_t> segment) {
  std::size_t table = 0;
  while (table < declared && table + 17 <= segment.size()) {
    if ((segment[table] & 0xec) != 0) return false;
    std::size_t values = 0;
    for (std::size_t index = 1; index <= 16; ++index) values += segment[table + index];
    if (values > 256) return false;
    table += 17 + values;
  }
  return TablesFill(table, declared, segment);
}

// Quantisation tables: precision and number, then 64 values of 1 or 2 bytes.
bool QuantisationTablesFit(std::size_t declared, std::span<const std::uint8_t> segment) {
  std::size_t table = 0;
  while (table < declared && table < segment.size()) {
    const std::uint8_t precision = segment[table] >> 4, number = segment[table] & 0x0f;
    if (precision > 1 || number > 3) return false;
    table += 1 + 64 * (precision + 1u);
  }
  return TablesFill(table, declared, segment);
}

bool IsStartOfFrame(std::uint8_t marker) {
  return marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc;
}

// Start of frame: precision, height, width, components, 3 bytes each.
bool FrameHeaderFits(std::size_t declared, std::span<const std::uint8_t> segment) {
  if (declared < 6) return false;
  if (segment.size() < 6) return true;
  const std::size_t components = segment[5];
  if (components == 0 || declared != 6 + 3 * components) return false;
  return LoadBigEndian16(segment, 3) != 0;  // a width of 0 is not allowed
}

// Start of scan: 1..4 components, 2 bytes each, and 3 more bytes.
bool ScanHeaderFits(std::size_t declared, std::span<const std::uint8_t> segment) {
  if (declared < 6) return false;
  if (segment.empty()) return true;
  const std::size_t components = segment[0];
  return components != 0 && components <= 4 && declared == 4 + 2 * components;
}

// Whether a segment's fields fit its declared length and take no value the
// format forbids, as far as the start holds the segment.
bool JpegSegmentFits(std::uint8_t marker, std::size_t declared, std::span<const std::uint8_t> segment) {
  if (marker == 0xc4) return HuffmanTablesFit(declared, segment);
  if (marker == 0xdb) return QuantisationTablesFit(declared, segment);
  if (IsStartOfFrame(marker)) return FrameHeaderFits(declared, segment);
  if (marker == 0xda) return ScanHeaderFits(declared, segment);
  if (marker == 0xdd) return declared == 2;  // restart interval
  if (marker == 0xe0 && segment.size() >= 8 && StartsWith(segment, "JFIF"sv)) {
    // The JFIF header: its name ends in a zero byte, version 1 (or 2), units 0..2.
    return segment[4] == 0 && segment[5] >= 1 && segment[5] <= 2 && segment[7] <= 2;
  }
  // Others (application data, comments, JPEG-LS and extensions) are read
  // by their length alone.
  return true;
}

FormatProof ProveJpegSegments(std::span<const std::uint8_t> start) {
  std::size_t at = 2;  // after the start-of-image marker
  bool in_scan = false;
  while (at < start.size()) {
    if (in_scan) {
      const std::optional<std::size_t> scan_end = EndOfScan(start, at);
      if (!scan_end) return FormatProof::Holds;
      at = *scan_end;
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
    if (!JpegSegmentFits(marker, declared, segment)) return FormatProof::Broken;
    in_scan = marker == 0xda;
    if (segment.size() != declared) return FormatProof::Holds;
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

// Where the syntax between regular tokens that starts at `at` ends: a
// comment, a string, the opening of a dictionary, white space or a
// delimiter. `at` itself when a regular token starts there; nullopt for a
// hex string with a byte that is neither a hex digit nor white space.
std::optional<std::size_t> EndOfPdfSeparator(std::span<const std::uint8_t> start, std::size_t at) {
  const std::uint8_t byte = start[at];
  if (byte == '%') {  // a comment, any bytes to the end of the line
    while (at < start.size() && start[at] != '\n' && start[at] != '\r') ++at;
    return at;
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
    return at + 1;
  }
  if (byte == '<' && at + 1 < start.size() && start[at + 1] == '<') {  // a dictionary
    return at + 2;
  }
  if (byte == '<') {  // a hex string
    for (++at; at < start.size() && start[at] != '>'; ++at) {
      if (!IsHexDigit(start[at]) && !IsPdfWhitespace(start[at])) return std::nullopt;
    }
    return at + 1;
  }
  if (IsPdfWhitespace(byte) || (IsPdfDelimiter(byte) && byte != '/')) return at + 1;
  return at;
}

// Reads the regular token at `at` into `token` (a name keeps its slash) and
// returns where it ends; nullopt for a control character, which PDF syntax
// never holds.
std::optional<std::size_t> ReadPdfToken(std::span<const std::uint8_t> start, std::size_t at,
                                        std::string& token) {
  token.clear();
  do {
    if (start[at] < 0x20 || start[at] == 0x7f) return std::nullopt;
    token.push_back(static_cast<char>(start[at]));
    ++at;
  } while (at < start.size() && !IsPdfWhitespace(start[at]) && !IsPdfDelimiter(start[at]));
  return at;
}

// What the tokens of the current object say of the stream that follows:
// only a cross-reference stream compressed with deflate is decoded.
struct PdfObjectKind {
  bool cross_reference = false;
  bool flate = false;
  void Note(std::string_view token) {
    if (token == "/XRef") cross_reference = true;
    if (token == "/FlateDecode") flate = true;
    if (token == "endobj") cross_reference = flate = false;
  }
};

// The first stream, its keyword read up to `at`: the data starts after CR LF or LF.
FormatProof ProvePdfStream(std::span<const std::uint8_t> start, std::size_t at, const PdfObjectKind& kind) {
  if (at < start.size() && start[at] == '\r') ++at;
  if (at < start.size() && start[at] == '\n') ++at;
  if (!kind.cross_reference || !kind.flate) return FormatProof::Holds;
  return FromStream(InflateStart(start.subspan(at), ZlibDeflate).end);
}

FormatProof ProvePdfObjects(std::span<const std::uint8_t> start) {
  constexpr std::size_t VersionAt = 5;  // after "%PDF-"
  if (start.size() < VersionAt + 3) return FormatProof::Holds;
  const auto is_digit = [](std::uint8_t byte) { return byte >= '0' && byte <= '9'; };
  if (!is_digit(start[VersionAt]) || start[VersionAt + 1] != '.' || !is_digit(start[VersionAt + 2])) {
    return FormatProof::Broken;
  }
  std::size_t at = VersionAt + 3;
  PdfObjectKind kind;
  std::string token;
  while (at < start.size()) {
    const std::optional<std::size_t> separator_end = EndOfPdfSeparator(start, at);
    if (!separator_end) return FormatProof::Broken;
    if (*separator_end != at) {
      at = *separator_end;
      continue;
    }
    const std::optional<std::size_t> token_end = ReadPdfToken(start, at, token);
    if (!token_end) return FormatProof::Broken;  // no control characters in syntax
    at = *token_end;
    if (at == start.size()) return FormatProof::Holds;  // a word cut by the end of the start
    if (!IsPdfToken(token)) return FormatProof::Broken;
    kind.Note(token);
    if (token == "stream") return ProvePdfStream(start, at, kind);
  }
  return FormatProof::Holds;
}


}  // namespace

namespace judge_detail {

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

}  // namespace quorvant
