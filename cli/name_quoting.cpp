#include "cli/name_quoting.h"

#include <cstdint>

namespace quorvant::cli {

namespace {

// How one character of a name bears on its quoting.
enum class CharacterKind {
  Plain,    // never needs quotes
  Space,    // needs quotes, and is plain inside double quotes
  Quote,    // the single quote
  Special,  // needs quotes, and is special inside double quotes too
  Escaped,  // a control byte, a C1 control or a byte that is not UTF-8
};

// The kind of the ASCII character `character` at `position` of a name of
// `name_length` bytes, by the rules of the shell-escape quoting style.
CharacterKind AsciiKind(char character, std::size_t position, std::size_t name_length) {
  const auto code = static_cast<std::uint8_t>(character);
  if (code < 0x20 || code == 0x7F) return CharacterKind::Escaped;
  switch (character) {
    case ' ': return CharacterKind::Space;
    case '\'': return CharacterKind::Quote;
    // Special only where a shell would expand them: a lone brace, a leading
    // comment sign or tilde.
    case '{':
    case '}': return name_length == 1 ? CharacterKind::Special : CharacterKind::Plain;
    case '#':
    case '~': return position == 0 ? CharacterKind::Special : CharacterKind::Plain;
    case '!':
    case '"':
    case '$':
    case '&':
    case '(':
    case ')':
    case '*':
    case ';':
    case '<':
    case '=':
    case '>':
    case '?':
    case '[':
    case '\\':
    case '^':
    case '`':
    case '|': return CharacterKind::Special;
    default: return CharacterKind::Plain;
  }
}

void AppendHexEscape(std::string& out, std::uint8_t byte) {
  constexpr char Digits[] = "0123456789abcdef";
  out += "\\x";
  out += Digits[byte >> 4];
  out += Digits[byte & 0x0F];
}

// The name between two quote characters. Built by appending: GCC 12 at -O3
// warns falsely about "quote" + std::string(name).
std::string Enclosed(char quote, std::string_view name) {
  std::string out;
  out.reserve(name.size() + 2);
  out += quote;
  out += name;
  out += quote;
  return out;
}

// The whole name inside $'...', where backslash escapes stand for the bytes
// a terminal must not receive raw.
std::string DollarQuoted(std::string_view name) {
  std::string out = "$'";
  for (std::size_t position = 0; position < name.size();) {
    char32_t code_point = 0;
    const std::size_t length = Utf8SequenceLength(name.substr(position), code_point);
    if (length == 0 || (code_point >= 0x80 && code_point <= 0x9F)) {
      // Invalid bytes one by one; a C1 control as both of its bytes.
      const std::size_t count = length == 0 ? 1 : length;
      for (std::size_t index = 0; index < count; ++index) {
        AppendHexEscape(out, static_cast<std::uint8_t>(name[position + index]));
      }
      position += count;
      continue;
    }
    const char character = name[position];
    switch (length == 1 ? character : '\0') {
      case '\a': out += "\\a"; break;
      case '\b': out += "\\b"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\v': out += "\\v"; break;
      case '\f': out += "\\f"; break;
      case '\r': out += "\\r"; break;
      case '\'': out += "\\'"; break;
      case '\\': out += "\\\\"; break;
      default:
        if (length == 1 && (static_cast<std::uint8_t>(character) < 0x20 || character == 0x7F)) {
          AppendHexEscape(out, static_cast<std::uint8_t>(character));
        } else {
          out.append(name.substr(position, length));
        }
    }
    position += length;
  }
  out += '\'';
  return out;
}

}  // namespace

std::size_t Utf8SequenceLength(std::string_view text, char32_t& code_point) {
  const auto lead = static_cast<std::uint8_t>(text[0]);
  std::size_t length = 0;
  char32_t minimum = 0;
  if (lead < 0x80) {
    code_point = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code_point = lead & 0x1F;
    minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code_point = lead & 0x0F;
    minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code_point = lead & 0x07;
    minimum = 0x10000;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (std::size_t index = 1; index < length; ++index) {
    const auto next = static_cast<std::uint8_t>(text[index]);
    if ((next & 0xC0) != 0x80) return 0;
    code_point = (code_point << 6) | (next & 0x3F);
  }
  if (code_point < minimum || code_point > 0x10FFFF || (code_point >= 0xD800 && code_point <= 0xDFFF)) {
    return 0;
  }
  return length;
}

std::string QuoteName(std::string_view name) {
  if (name.empty()) return "''";
  bool needs_quotes = false;
  bool has_quote = false;
  // Whether double quotes would do: nothing in the name is special inside them.
  bool double_quotes_do = true;
  for (std::size_t position = 0; position < name.size();) {
    char32_t code_point = 0;
    const std::size_t length = Utf8SequenceLength(name.substr(position), code_point);
    if (length == 0 || (code_point >= 0x80 && code_point <= 0x9F)) return DollarQuoted(name);
    if (length == 1) {
      switch (AsciiKind(name[position], position, name.size())) {
        case CharacterKind::Plain: break;
        case CharacterKind::Space: needs_quotes = true; break;
        case CharacterKind::Quote: has_quote = true; break;
        case CharacterKind::Special:
          needs_quotes = true;
          double_quotes_do = false;
          break;
        case CharacterKind::Escaped: return DollarQuoted(name);
      }
    }
    position += length;
  }
  if (has_quote) {
    if (double_quotes_do) return Enclosed('"', name);
    std::string out = "'";
    for (const char character : name) {
      if (character == '\'') {
        out += "'\\''";
      } else {
        out += character;
      }
    }
    return out + "'";
  }
  if (needs_quotes) return Enclosed('\'', name);
  return std::string(name);
}

}  // namespace quorvant::cli
