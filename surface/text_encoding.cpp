#include "surface/text_encoding.h"

#include <array>

namespace quorvant {
namespace {

constexpr char32_t ReplacementCharacter = 0xFFFD;

// Windows-1252 at 0x80..0x9F; every other byte stands for the code point of
// the same value. Zero marks the five codes the page leaves undefined.
constexpr std::array<char32_t, 32> Cp1252High = {
    0x20AC,  // 0x80 euro sign
    0,       // 0x81 undefined
    0x201A,  // 0x82 single low-9 quotation mark
    0x0192,  // 0x83 f with hook
    0x201E,  // 0x84 double low-9 quotation mark
    0x2026,  // 0x85 horizontal ellipsis
    0x2020,  // 0x86 dagger
    0x2021,  // 0x87 double dagger
    0x02C6,  // 0x88 modifier circumflex
    0x2030,  // 0x89 per mille sign
    0x0160,  // 0x8A S with caron
    0x2039,  // 0x8B single left-pointing angle quotation mark
    0x0152,  // 0x8C ligature OE
    0,       // 0x8D undefined
    0x017D,  // 0x8E Z with caron
    0,       // 0x8F undefined
    0,       // 0x90 undefined
    0x2018,  // 0x91 left single quotation mark
    0x2019,  // 0x92 right single quotation mark
    0x201C,  // 0x93 left double quotation mark
    0x201D,  // 0x94 right double quotation mark
    0x2022,  // 0x95 bullet
    0x2013,  // 0x96 en dash
    0x2014,  // 0x97 em dash
    0x02DC,  // 0x98 small tilde
    0x2122,  // 0x99 trade mark sign
    0x0161,  // 0x9A s with caron
    0x203A,  // 0x9B single right-pointing angle quotation mark
    0x0153,  // 0x9C ligature oe
    0,       // 0x9D undefined
    0x017E,  // 0x9E z with caron
    0x0178,  // 0x9F Y with diaeresis
};

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The code point of the well-formed sequence that starts at bytes[at], and
// its length; length 0 when the byte starts no well-formed sequence.
struct Decoded {
  char32_t code_point = 0;
  size_t length = 0;
};

Decoded DecodeOne(std::string_view bytes, size_t at) {
  const auto lead = static_cast<unsigned char>(bytes[at]);
  if (lead < 0x80) return {lead, 1};

  size_t length = 0;
  char32_t code_point = 0;
  char32_t smallest = 0;  // below this the sequence is an overlong form
  if ((lead & 0xE0) == 0xC0) {
    length = 2, code_point = lead & 0x1F, smallest = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, code_point = lead & 0x0F, smallest = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, code_point = lead & 0x07, smallest = 0x10000;
  } else {
    return {};  // a continuation byte or 0xF8..0xFF
  }
  if (bytes.size() - at < length) return {};
  for (size_t i = 1; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(bytes[at + i]);
    if (!IsContinuation(byte)) return {};
    code_point = (code_point << 6) | (byte & 0x3F);
  }
  const bool surrogate = code_point >= 0xD800 && code_point <= 0xDFFF;
  if (code_point < smallest || surrogate || code_point > 0x10FFFF) return {};
  return {code_point, length};
}

void AppendUtf8(char32_t code_point, std::string& out) {
  const bool surrogate = code_point >= 0xD800 && code_point <= 0xDFFF;
  if (surrogate || code_point > 0x10FFFF) code_point = ReplacementCharacter;
  if (code_point < 0x80) {
    out.push_back(static_cast<char>(code_point));
  } else if (code_point < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code_point >> 6)));
    out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else if (code_point < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code_point >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code_point >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  }
}

}  // namespace

std::u32string DecodeUtf8(std::string_view bytes) {
  std::u32string text;
  text.reserve(bytes.size());
  size_t at = 0;
  while (at < bytes.size()) {
    const Decoded decoded = DecodeOne(bytes, at);
    if (decoded.length == 0) {
      // One replacement per bad byte; decoding resumes at the next byte.
      text.push_back(ReplacementCharacter);
      ++at;
    } else {
      text.push_back(decoded.code_point);
      at += decoded.length;
    }
  }
  return text;
}

std::string EncodeUtf8(std::u32string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char32_t code_point : text) AppendUtf8(code_point, out);
  return out;
}

std::uint8_t CodePointToCp1252(char32_t code_point) {
  if ((code_point >= 32 && code_point <= 126) || (code_point >= 0xA0 && code_point <= 0xFF)) {
    return static_cast<std::uint8_t>(code_point);
  }
  for (size_t i = 0; i < Cp1252High.size(); ++i) {
    if (Cp1252High[i] != 0 && Cp1252High[i] == code_point) return static_cast<std::uint8_t>(0x80 + i);
  }
  return 0;
}

char32_t Cp1252ToCodePoint(std::uint8_t byte) {
  if (byte >= 0x80 && byte <= 0x9F) return Cp1252High[byte - 0x80];
  return byte;
}

std::string Cp1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const char byte : bytes) {
    const char32_t code_point = Cp1252ToCodePoint(static_cast<std::uint8_t>(byte));
    if (code_point != 0) AppendUtf8(code_point, out);
  }
  return out;
}

}  // namespace quorvant
